// The agent as a system service: "-install" writes and enables a systemd unit,
// "-remove" stops, disables and deletes it, and without arguments the agent runs
// under the service manager, reporting its state over the notify socket and its
// start-up errors to syslog under the service name.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/console.h"

namespace torvane {

constexpr const char* kServiceName = "LLDPagent";
constexpr const char* kServiceDisplayName = "LLDP Agent";
constexpr const char* kServiceDescription = "802.1AB Link Layer Discovery Protocol Agent";
constexpr const char* kDefaultUnitDir = "/etc/systemd/system";
// The first line of the unit that "-install" writes.
constexpr const char* kInstalledUnitHeading =
    "# Written by \"lldp -install\"; \"lldp -remove\" stops, disables and deletes it.";

// The states a service reports (the values the service manager of the original
// platform used, kept so that logs and traces read the same).
enum ServiceState : uint32_t {
  kServiceStopped = 1,
  kServiceStartPending = 2,
  kServiceStopPending = 3,
  kServiceRunning = 4,
};

// Where error reports go: syslog in the agent, a recorder in tests.
class ErrorSink {
 public:
  virtual ~ErrorSink() = default;
  // One error event with its two strings.
  virtual void Report(const std::string& first, const std::string& second) = 0;
};

// syslog under the service name, facility daemon, priority error.
class SyslogSink : public ErrorSink {
 public:
  void Report(const std::string& first, const std::string& second) override;
};

// Runs a program found on PATH with its arguments; returns its exit status (-1
// when it could not be run) and, when `output` is given, what it printed.
class CommandRunner {
 public:
  virtual ~CommandRunner() = default;
  virtual int Run(const std::vector<std::string>& argv, std::string* output) = 0;
};

class ProcessRunner : public CommandRunner {
 public:
  int Run(const std::vector<std::string>& argv, std::string* output) override;
};

// What the service host reaches of the host and of the rest of the agent.
struct ServiceEnvironment {
  Console& console;      // the messages of -install and -remove
  ErrorSink& errors;
  CommandRunner& commands;
  std::string unitDir = kDefaultUnitDir;  // $TORVANE_UNIT_DIR when set
  std::string executablePath;             // the agent's own path; empty when unknown
  // Folders the service writes besides /run: its own (lldp.ini), the value store,
  // the log folder, the query pipe's folder.
  std::vector<std::string> writablePaths;
  // Environment the service is to run with (the test roots, when they were set
  // at installation).
  std::vector<std::string> environment;
  std::function<void(std::chrono::milliseconds)> sleep;  // the stop-and-wait pauses

  // The agent itself.
  std::function<int(int argc, char** argv)> runAgent;  // RunAgent: 1 stopped, 0 failed to start
  std::function<void()> requestStop;                   // RequestStop (any thread)
  std::function<int(int argc, char** argv)> runDebug;  // the console host ("-debug")
  std::function<int()> installPacketDriver;            // may be empty
  std::function<int()> removePacketDriver;             // may be empty

  bool consoleMode = false;
};

// The service manager's state reports: start pending and stopped send nothing;
// running sends READY=1, stop pending STOPPING=1, to $NOTIFY_SOCKET (a leading
// '@' is an abstract name). Without a notify socket, and in console mode, the
// report succeeds without sending. 1 on success; on failure "SetServiceStatus"
// goes to the error report and the result is 0.
int ReportStatus(ServiceEnvironment& env, uint32_t state, uint32_t exitCode, uint32_t waitHintMs);
// One error event: "<service> error: <errno>" and the text. Nothing in console mode.
void ReportError(ServiceEnvironment& env, const std::string& text);
// The last error as "<text> (0x<code>)", or "" when there is none.
std::string LastErrorText(int error);
// The unit file's text for the agent at `executablePath`, below a comment line.
std::string UnitFileText(const ServiceEnvironment& env, std::string_view heading = kInstalledUnitHeading);

// The folders the service writes besides /run, for an agent at `executablePath`
// whose lldp.ini (beside it) resolves to `settingsFile` and holds `settingsText`:
// the agent's own folder; the value store; the folder of the settings file when
// lldp.ini is a link to another folder (a settings write replaces the file there,
// through a temporary file beside it); the log folder lldp.ini names (Directory,
// when absolute); the query pipe's folder; /run.
std::vector<std::string> ServiceWritablePaths(const std::string& executablePath,
                                              const std::string& settingsFile,
                                              const std::string& settingsText,
                                              const std::string& registryRoot,
                                              const std::string& pipePath);
// The file `path` leads to when it is a link (followed to its end), else `path`.
std::string ResolvedFile(const std::string& path);

void InstallService(ServiceEnvironment& env);
void RemoveService(ServiceEnvironment& env);
// Asks the service to stop and waits up to 30 s; 1 when it stopped.
int StopServiceAndWait(ServiceEnvironment& env);

// True when the service manager started this process.
bool StartedByServiceManager();
// Runs the agent as the service: reports, runs it, reports the end. Returns the
// process's exit status: 1 when the agent failed to start, else 0.
int ServiceMain(ServiceEnvironment& env, int argc, char** argv);
// Reports start and running, then runs the agent; 0 when it failed to start.
int RunService(ServiceEnvironment& env, int argc, char** argv);
// The stop control: asks the agent to stop and reports stop pending.
void StopAgent(ServiceEnvironment& env);

// Program entry of the agent: "-install", "-remove", "-debug" (case ignored) or
// the service. Returns the process's exit status.
int ServiceEntry(int argc, char** argv, ServiceEnvironment& env);

// The environment's defaults as the agent runs: $TORVANE_UNIT_DIR, the
// executable's path and folder, the value store root, the log folder named by
// lldp.ini (Directory), the query pipe's folder.
void FillServiceEnvironment(ServiceEnvironment& env);

}  // namespace torvane
