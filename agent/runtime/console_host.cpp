#include "agent/runtime/console_host.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

namespace torvane {
namespace {

sigset_t StopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

void Print(Agent& agent, const std::string& text) {
  std::lock_guard<std::mutex> lock(agent.logLock);
  agent.console.Write(text);
}

}  // namespace

bool BlockStopSignals() {
  sigset_t set = StopSignals();
  return pthread_sigmask(SIG_BLOCK, &set, nullptr) == 0;
}

bool ConsoleControl(Agent& agent, int event) {
  if (event != kCtrlCEvent && event != kCtrlBreakEvent) return false;
  Print(agent, std::string("Stopping ") + kDisplayName + ".\n");
  // Console mode reports nothing to a service manager: stopping is the request.
  RequestStop(agent);
  return true;
}

bool StopSignalThread::Start() {
  if (thread_.joinable()) return true;
  sigset_t set = StopSignals();
  signals_ = signalfd(-1, &set, SFD_CLOEXEC);
  done_ = eventfd(0, EFD_CLOEXEC);
  if (signals_ < 0 || done_ < 0) {
    Stop();
    return false;
  }
  thread_ = std::thread([this] { Run(); });
  return true;
}

void StopSignalThread::Stop() {
  if (thread_.joinable()) {
    uint64_t one = 1;
    ssize_t n = write(done_, &one, sizeof one);
    (void)n;
    thread_.join();
  }
  if (signals_ >= 0) close(signals_);
  if (done_ >= 0) close(done_);
  signals_ = done_ = -1;
}

void StopSignalThread::Run() {
  for (;;) {
    pollfd fds[2] = {{signals_, POLLIN, 0}, {done_, POLLIN, 0}};
    int ready = poll(fds, 2, -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents) return;
    if (!(fds[0].revents & POLLIN)) continue;
    signalfd_siginfo info{};
    if (read(signals_, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) continue;
    ConsoleControl(agent_, info.ssi_signo == SIGINT ? kCtrlCEvent : kCtrlBreakEvent);
  }
}

int RunConsole(Agent& agent, int argc, char** argv) {
  Print(agent, std::string("Debugging ") + kDisplayName + ".\n");
  StopSignalThread signals(agent);
  signals.Start();
  RunAgent(agent, argc, argv);
  signals.Stop();
  return 0;
}

void PrintUsage(Console& console) {
  char line[128];
  std::snprintf(line, sizeof line, "%s -install     to install the service\n", kServiceName);
  console.Write(line);
  std::snprintf(line, sizeof line, "%s -remove      to remove the service\n", kServiceName);
  console.Write(line);
  std::snprintf(line, sizeof line, "%s -debug       to run the service as a console application\n",
                kServiceName);
  console.Write(line);
}

void ApplyTestTiming(AgentTiming& timing) {
  const char* text = std::getenv("TORVANE_PASS_MS");
  if (!text || !*text) return;
  char* end = nullptr;
  long ms = std::strtol(text, &end, 10);
  if (*end == '\0' && ms >= 1 && ms <= 10000) timing.pass = std::chrono::milliseconds(ms);
}

}  // namespace torvane
