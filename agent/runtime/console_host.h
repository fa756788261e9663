// The program entry's console side: "-debug" runs the worker on the calling
// thread with tracing on, and Ctrl+C (SIGINT) or SIGTERM stops it. The stop
// signals are blocked in every thread and taken by one thread of their own, so
// that the control handler runs as ordinary code: it may print and lock.
#pragma once

#include <thread>

#include "agent/runtime/agent.h"
#include "agent/runtime/service_host.h"

namespace torvane {

inline constexpr const char* kDisplayName = kServiceDisplayName;

// Console control events, as the signals deliver them.
enum ConsoleEvent : int { kCtrlCEvent = 0, kCtrlBreakEvent = 1, kCloseEvent = 2 };

// Blocks SIGINT and SIGTERM in the calling thread; threads started afterwards
// inherit the mask. The program entry calls it before any thread exists.
bool BlockStopSignals();

// The console control handler: Ctrl+C and Ctrl+Break print "Stopping %s.\n"
// and ask the agent to stop; true when the event was handled.
bool ConsoleControl(Agent& agent, int event);

// The thread that takes the stop signals (SIGINT as Ctrl+C, SIGTERM as
// Ctrl+Break) and hands each to ConsoleControl. BlockStopSignals must have run.
class StopSignalThread {
 public:
  explicit StopSignalThread(Agent& agent) : agent_(agent) {}
  ~StopSignalThread() { Stop(); }
  StopSignalThread(const StopSignalThread&) = delete;
  StopSignalThread& operator=(const StopSignalThread&) = delete;

  bool Start();
  // Ends and joins the thread.
  void Stop();

 private:
  void Run();

  Agent& agent_;
  int signals_ = -1;
  int done_ = -1;
  std::thread thread_;
};

// "-debug": prints "Debugging %s.\n", takes the stop signals, runs the agent to
// its end on this thread. Returns the program's exit code (0).
int RunConsole(Agent& agent, int argc, char** argv);

// The command's usage lines.
void PrintUsage(Console& console);

// Test hook: TORVANE_PASS_MS (1 to 10000) shortens the worker's pass.
void ApplyTestTiming(AgentTiming& timing);

}  // namespace torvane
