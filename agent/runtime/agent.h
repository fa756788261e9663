// Agent-wide state and the worker: start-up, the main loop of 10-second passes,
// the port cycle and the shutdown cycle.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "agent/runtime/settings.h"
#include "agent/state/console_trace.h"
#include "agent/state/interface_tables.h"
#include "agent/state/port.h"
#include "agent/state/settings_store.h"
#include "agent/store/worker_interfaces.h"
#include "platform/clock.h"
#include "platform/console.h"

namespace torvane {

class LinkLayer;

// The waits of the worker; tests shorten them.
struct AgentTiming {
  std::chrono::milliseconds pass{10000};
  std::chrono::milliseconds startup{2000};
  std::chrono::milliseconds stopDelay{300};
};

// The agent's state and the parts it drives. It is also what the store asks of
// the worker: a cycle at once, and the settings written and read back.
struct Agent : public CycleRequests, public SettingsWriter {
  Agent(SettingsHost h, Clock& c, Console& out) : host(h), clock(c), console(out) {}

  SettingsHost host;
  Clock& clock;
  Console& console;
  AgentTiming timing;

  LinkLayer* link = nullptr;
  NeighborService* neighbors = nullptr;
  PipeService* pipe = nullptr;

  SettingsStore settings;
  PortTable ports;
  PublishedLists lists;
  WakeEvent wake;
  // Serialises the event log file and every console trace line.
  std::mutex logLock;

  std::atomic<int> debugLevel{0};
  ConsoleTrace trace{console, logLock, debugLevel};
  std::atomic<bool> stopRequested{false};
  std::atomic<bool> stopping{false};
  std::atomic<bool> usePacketLibrary{false};
  std::atomic<uint32_t> tickCounter{0};

  // Makes the module directory the current one (chdir when empty); tests put a
  // recorder here so that they do not move their own process.
  std::function<bool(const char*)> changeDirectory;

  // Writes a console trace text under logLock when debugLevel is set.
  void Trace(std::string_view text) { trace.Write(text); }

  // The next pass runs a cycle, and the current wait ends.
  void RunCycleNow() override;
  // lldp.ini, section "lldp".
  bool SaveSettings(const AgentSettings& block) override;
  void ReloadSettings() override;
};

// Runs the agent on the calling thread until it stops: 1 after a normal stop,
// 0 when it could not start.
int RunAgent(Agent& agent, int argc, char** argv);
void RequestStop(Agent& agent);
// One pass over the first `count` ports; mode 1 normal, 0 shutdown. Returns the
// number of ports whose state is 1 afterwards.
uint32_t PortCycle(Agent& agent, uint32_t count, int mode);
void TracePort(Agent& agent, Port& port, std::string_view word);
// 10 on Linux (an NT-class system; the agent matches interfaces by name).
uint32_t WindowsVersion();
// The directory of `path` with its trailing '/', or "" when it has none after the
// first character; 0 when it does not fit `size` (with its terminator).
size_t ModuleDirectoryOf(std::string_view path, char* buffer, size_t size);
// Local time "%Y-%m-%d %H:%M:%S".
std::string TimestampText(SystemFacts& facts, time_t t);

}  // namespace torvane
