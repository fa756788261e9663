#include "agent/runtime/service_host.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <thread>

#include "records/pipe_client.h"
#include "common/text.h"
#include "platform/profile.h"
#include "platform/registry_store.h"

extern char** environ;

namespace torvane {

namespace {

std::string UnitName() { return std::string(kServiceName) + ".service"; }
std::string UnitPath(const ServiceEnvironment& env) { return env.unitDir + "/" + UnitName(); }

__attribute__((format(printf, 1, 2))) std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string out = VFormatText(format, args);
  va_end(args);
  return out;
}

void Print(ServiceEnvironment& env, const std::string& text) { env.console.Write(text); }

void Pause(ServiceEnvironment& env, std::chrono::milliseconds d) {
  if (env.sleep)
    env.sleep(d);
  else
    std::this_thread::sleep_for(d);
}

// A systemctl call on our unit; the text of its failure for the messages.
int Systemctl(ServiceEnvironment& env, std::initializer_list<std::string> args, std::string* output = nullptr) {
  std::vector<std::string> argv{"systemctl"};
  argv.insert(argv.end(), args.begin(), args.end());
  return env.commands.Run(argv, output);
}

std::string CommandFailure(const std::string& what, int status) {
  if (status < 0) return "systemctl could not be run";
  return Format("systemctl %s failed (exit status %d)", what.c_str(), status);
}

// The unit's active state as `systemctl is-active` prints it.
std::string ActiveState(ServiceEnvironment& env) {
  std::string out;
  Systemctl(env, {"is-active", UnitName()}, &out);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ')) out.pop_back();
  size_t nl = out.rfind('\n');
  return nl == std::string::npos ? out : out.substr(nl + 1);
}

bool StateIsRunning(const std::string& state) {
  return state == "active" || state == "activating" || state == "deactivating" ||
         state == "reloading" || state == "refreshing";
}

// A word of a unit file line: quoted when it holds blanks or quotes, and with
// '%' doubled so that the manager does not take it for a specifier.
std::string UnitWord(const std::string& word) {
  std::string escaped;
  bool quote = word.empty();
  for (char c : word) {
    if (c == '%') {
      escaped += "%%";
      continue;
    }
    if (c == ' ' || c == '\t' || c == '"' || c == '\'' || c == '\\') quote = true;
    if (c == '"' || c == '\\') escaped += '\\';
    escaped += c;
  }
  return quote ? "\"" + escaped + "\"" : escaped;
}

bool WriteNewFile(const std::string& path, const std::string& text) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      int err = errno;
      close(fd);
      unlink(path.c_str());
      errno = err;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  if (fchmod(fd, 0644) != 0 || fsync(fd) != 0) {
    int err = errno;
    close(fd);
    unlink(path.c_str());
    errno = err;
    return false;
  }
  return close(fd) == 0;
}

bool UnitFolderReachable(const ServiceEnvironment& env) {
  struct stat st{};
  if (stat(env.unitDir.c_str(), &st) != 0) return false;
  if (!S_ISDIR(st.st_mode)) {
    errno = ENOTDIR;
    return false;
  }
  return true;
}

bool SendNotify(const char* where, const char* message) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  size_t len = std::strlen(where);
  if (len == 0 || len >= sizeof addr.sun_path) {
    errno = EINVAL;
    return false;
  }
  std::memcpy(addr.sun_path, where, len);
  socklen_t addrLen = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + len);
  if (where[0] == '@')
    addr.sun_path[0] = 0;  // an abstract name: its length is exactly the name's
  else
    addrLen += 1;
  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  size_t size = std::strlen(message);
  ssize_t sent = sendto(fd, message, size, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&addr), addrLen);
  int err = errno;
  close(fd);
  errno = err;
  return sent == static_cast<ssize_t>(size);
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

void SyslogSink::Report(const std::string& first, const std::string& second) {
  openlog(kServiceName, LOG_PID, LOG_DAEMON);
  syslog(LOG_ERR, "%s: %s", first.c_str(), second.c_str());
  closelog();
}

int ProcessRunner::Run(const std::vector<std::string>& argv, std::string* output) {
  if (argv.empty()) return -1;
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  int fds[2] = {-1, -1};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (output) {
    if (pipe2(fds, O_CLOEXEC) != 0) {
      posix_spawn_file_actions_destroy(&actions);
      return -1;
    }
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  }
  pid_t pid = -1;
  int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (output) close(fds[1]);
  if (rc != 0) {
    if (output) close(fds[0]);
    errno = rc;
    return -1;
  }
  if (output) {
    output->clear();
    char buf[512];
    while (true) {
      ssize_t n = read(fds[0], buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      if (output->size() < 65536) output->append(buf, static_cast<size_t>(n));
    }
    close(fds[0]);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string LastErrorText(int error) {
  if (error == 0) return {};
  char buffer[256];
  // The GNU strerror_r returns its text, which need not be in the buffer.
  const char* text = strerror_r(error, buffer, sizeof buffer);
  std::string t = text ? text : "";
  if (t.empty() || t.size() + 14 > 256) return {};
  return Format("%s (0x%x)", t.c_str(), static_cast<unsigned>(error));
}

void ReportError(ServiceEnvironment& env, const std::string& text) {
  int error = errno;
  if (env.consoleMode) return;
  env.errors.Report(Format("%s error: %d", kServiceName, error), text);
}

int ReportStatus(ServiceEnvironment& env, uint32_t state, uint32_t exitCode, uint32_t waitHintMs) {
  (void)exitCode;
  (void)waitHintMs;
  if (env.consoleMode) return 1;
  const char* message = nullptr;
  if (state == kServiceRunning) message = "READY=1";
  if (state == kServiceStopPending) message = "STOPPING=1";
  // The manager learns of start and stop from the process itself.
  if (!message) return 1;
  const char* where = std::getenv("NOTIFY_SOCKET");
  if (!where || !*where) return 1;
  if (SendNotify(where, message)) return 1;
  ReportError(env, "SetServiceStatus");
  return 0;
}

std::string UnitFileText(const ServiceEnvironment& env, std::string_view heading) {
  std::string paths;
  std::vector<std::string> seen;
  for (const auto& p : env.writablePaths) {
    if (p.empty() || p[0] != '/') continue;
    bool dup = false;
    for (const auto& s : seen) dup = dup || s == p;
    if (dup) continue;
    seen.push_back(p);
    // '-': a folder that does not exist yet must not keep the service from starting.
    paths += " " + UnitWord("-" + p);
  }
  std::string environment;
  for (const auto& e : env.environment) environment += "Environment=" + UnitWord(e) + "\n";
  const std::string caps = "CAP_NET_RAW CAP_NET_ADMIN CAP_SETUID CAP_SETGID";

  std::string t;
  t += std::string(heading) + "\n";
  t += "[Unit]\n";
  t += std::string("Description=") + kServiceDescription + "\n";
  t += "Documentation=man:lldp(8) man:lldp.ini(5)\n";
  t += "After=network.target\n\n";
  t += "[Service]\n";
  t += "Type=notify\n";
  t += "NotifyAccess=main\n";
  t += "ExecStart=" + UnitWord(env.executablePath) + "\n";
  t += "Restart=on-failure\n";
  t += "RestartSec=5\n";
  t += "TimeoutStopSec=30\n";
  t += environment;
  // Raw frames, the adapters' multicast lists and buffers, and taking on a pipe
  // client's identity for the write-right test: nothing else.
  t += "CapabilityBoundingSet=" + caps + "\n";
  t += "AmbientCapabilities=" + caps + "\n";
  t += "NoNewPrivileges=yes\n";
  t += "ProtectSystem=strict\n";
  t += "ProtectHome=yes\n";
  t += "PrivateTmp=yes\n";
  t += "ReadWritePaths=" + paths.substr(paths.empty() ? 0 : 1) + "\n";
  t += "RestrictAddressFamilies=AF_UNIX AF_PACKET AF_NETLINK AF_INET AF_INET6\n";
  t += "ProtectKernelModules=yes\n";
  t += "ProtectKernelTunables=yes\n";
  t += "ProtectControlGroups=yes\n";
  t += "LockPersonality=yes\n";
  t += "RestrictRealtime=yes\n";
  t += "RestrictSUIDSGID=yes\n";
  t += "SystemCallArchitectures=native\n";
  // The write-right test switches a thread's file-system identity and groups.
  t += "SystemCallFilter=@system-service setfsuid setfsgid setgroups\n";
  t += "SystemCallErrorNumber=EPERM\n\n";
  t += "[Install]\n";
  t += "WantedBy=multi-user.target\n";
  return t;
}

void InstallService(ServiceEnvironment& env) {
  if (env.executablePath.empty()) {
    Print(env, Format("Unable to install %s - %s\n", kServiceDisplayName, LastErrorText(ENOENT).c_str()));
    return;
  }
  if (!UnitFolderReachable(env)) {
    Print(env, Format("OpenSCManager failed - %s\n", LastErrorText(errno).c_str()));
    return;
  }
  // Under ProtectSystem=strict the service cannot create a folder outside the
  // writable ones, so the store's and the log's folders are made here.
  for (const auto& p : env.writablePaths) {
    if (p.empty() || p[0] != '/') continue;
    std::error_code ec;
    std::filesystem::create_directories(p, ec);
  }
  const std::string unit = UnitPath(env);
  if (!WriteNewFile(unit, UnitFileText(env))) {
    Print(env, Format("%s service installation failed - %s\n", kServiceDisplayName,
                      LastErrorText(errno).c_str()));
    return;
  }
  std::string failure;
  int rc = Systemctl(env, {"daemon-reload"});
  if (rc != 0) {
    failure = CommandFailure("daemon-reload", rc);
  } else if ((rc = Systemctl(env, {"enable", UnitName()})) != 0) {
    failure = CommandFailure("enable", rc);
  }
  if (!failure.empty()) {
    // Not half installed: the unit goes again.
    unlink(unit.c_str());
    Systemctl(env, {"daemon-reload"});
    Print(env, Format("%s service installation failed - %s\n", kServiceDisplayName, failure.c_str()));
    return;
  }
  Print(env, Format("%s installed.\n", kServiceDisplayName));
  Systemctl(env, {"start", UnitName()});  // its result is not looked at
  Print(env, Format("%s started.\n", kServiceDisplayName));
}

int StopServiceAndWait(ServiceEnvironment& env) {
  std::string state = ActiveState(env);
  bool accepted = StateIsRunning(state) && Systemctl(env, {"stop", "--no-block", UnitName()}) == 0;
  if (accepted) {
    Print(env, Format("Stopping %s.", kServiceDisplayName));
    Pause(env, std::chrono::milliseconds(1000));
    state = ActiveState(env);
    for (int i = 0; i < 30 && StateIsRunning(state); ++i) {
      Print(env, ".");
      Pause(env, std::chrono::milliseconds(1000));
      state = ActiveState(env);
    }
  }
  if (!StateIsRunning(state)) {
    Print(env, Format("\n%s stopped.\n", kServiceDisplayName));
    return 1;
  }
  Print(env, Format("\n%s failed to stop.\n", kServiceDisplayName));
  return 0;
}

void RemoveService(ServiceEnvironment& env) {
  if (!UnitFolderReachable(env)) {
    Print(env, Format("OpenSCManager failed - %s\n", LastErrorText(errno).c_str()));
    return;
  }
  const std::string unit = UnitPath(env);
  struct stat st{};
  if (lstat(unit.c_str(), &st) != 0) {
    Print(env, Format("%s failed to access service - %s\n", kServiceDisplayName,
                      LastErrorText(errno).c_str()));
    return;
  }
  StopServiceAndWait(env);  // removal goes on whether it stopped or not
  int rc = Systemctl(env, {"disable", UnitName()});
  if (rc != 0) {
    Print(env, Format("%s failed to delete service - %s\n", kServiceDisplayName,
                      CommandFailure("disable", rc).c_str()));
    return;
  }
  if (unlink(unit.c_str()) != 0) {
    Print(env, Format("%s failed to delete service - %s\n", kServiceDisplayName,
                      LastErrorText(errno).c_str()));
    return;
  }
  Systemctl(env, {"daemon-reload"});
  Print(env, Format("%s deleted.\n", kServiceDisplayName));
}

bool StartedByServiceManager() {
  const char* invocation = std::getenv("INVOCATION_ID");
  const char* notify = std::getenv("NOTIFY_SOCKET");
  return (invocation && *invocation) || (notify && *notify);
}

void StopAgent(ServiceEnvironment& env) {
  if (env.requestStop) env.requestStop();
  ReportStatus(env, kServiceStopPending, 0, 3000);
}

int RunService(ServiceEnvironment& env, int argc, char** argv) {
  bool ok = ReportStatus(env, kServiceStartPending, 0, 3000) && ReportStatus(env, kServiceRunning, 0, 0);
  if (ok) ok = env.runAgent && env.runAgent(argc, argv) != 0;
  if (!ok) {
    ReportError(env, "Unable to start service");
    return 0;
  }
  return 1;
}

int ServiceMain(ServiceEnvironment& env, int argc, char** argv) {
  // The stop control: SIGTERM from the manager (and SIGINT) is taken by a thread
  // of its own, so every other thread, the agent's included, keeps it blocked.
  sigset_t stopSignals, previous;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopSignals, &previous);
  std::atomic<bool> finished{false};
  std::thread control([&] {
    const timespec slice{0, 200 * 1000 * 1000};
    while (!finished) {
      if (sigtimedwait(&stopSignals, nullptr, &slice) > 0) StopAgent(env);
    }
  });

  int started = 0;
  if (ReportStatus(env, kServiceStartPending, 0, 3000)) started = RunService(env, argc, argv);
  ReportStatus(env, kServiceStopped, 0, 0);

  finished = true;
  control.join();
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  // The manager restarts a service that failed to start.
  return started ? 0 : 1;
}

int ServiceEntry(int argc, char** argv, ServiceEnvironment& env) {
  std::string_view arg = argc > 1 && argv[1] ? argv[1] : "";
  if (EqualsNoCase(arg, "-install")) {
    if (env.installPacketDriver) env.installPacketDriver();
    InstallService(env);
    return 0;
  }
  if (EqualsNoCase(arg, "-remove")) {
    RemoveService(env);
    if (env.removePacketDriver) env.removePacketDriver();
    return 0;
  }
  if (EqualsNoCase(arg, "-debug")) {
    env.consoleMode = true;
    if (env.runDebug) return env.runDebug(argc, argv);
    Print(env, Format("Debugging %s.\n", kServiceDisplayName));
    RunService(env, argc, argv);
    return 0;
  }
  Print(env, Format("%s -install     to install the service\n", kServiceName));
  Print(env, Format("%s -remove      to remove the service\n", kServiceName));
  Print(env, Format("%s -debug       to run the service as a console application\n", kServiceName));
  Print(env, "\nStartServiceCtrlDispatcher being called.\n");
  Print(env, "This may take several seconds.  Please wait.\n");
  if (!StartedByServiceManager()) {
    // Started from a shell, not by the manager: the dispatcher has nobody to talk to.
    errno = EPERM;
    ReportError(env, "StartServiceCtrlDispatcher failed.");
    return 0;
  }
  return ServiceMain(env, argc, argv);
}

std::string ResolvedFile(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (!resolved) return path;
  std::string target = resolved;
  std::free(resolved);
  return target;
}

std::vector<std::string> ServiceWritablePaths(const std::string& executablePath,
                                              const std::string& settingsFile,
                                              const std::string& settingsText,
                                              const std::string& registryRoot,
                                              const std::string& pipePath) {
  std::vector<std::string> paths;
  const std::string folder = FolderOf(executablePath);
  if (!folder.empty()) paths.push_back(folder);
  paths.push_back(registryRoot);
  const std::string settingsFolder = FolderOf(settingsFile);
  if (!settingsFolder.empty() && settingsFolder != folder) paths.push_back(settingsFolder);
  if (auto dir = IniLookup(settingsText, "lldp", "Directory"); dir && !dir->empty() && (*dir)[0] == '/')
    paths.push_back(*dir);
  paths.push_back(FolderOf(pipePath));
  paths.push_back("/run");
  return paths;
}

void FillServiceEnvironment(ServiceEnvironment& env) {
  if (const char* dir = std::getenv("TORVANE_UNIT_DIR"); dir && *dir) env.unitDir = dir;
  char exe[4096];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n > 0) env.executablePath.assign(exe, static_cast<size_t>(n));
  const std::string folder = FolderOf(env.executablePath);
  std::string settingsFile, settingsText;
  if (!folder.empty()) {
    settingsFile = ResolvedFile(folder + "/lldp.ini");
    auto profile = MakeFileProfile();
    settingsText = profile->Load(settingsFile).value_or("");
  }
  env.writablePaths =
      ServiceWritablePaths(env.executablePath, settingsFile, settingsText, DefaultRegistryRoot(), PipePath());
  env.environment.clear();
  for (const char* name : {"TORVANE_PIPE", "TORVANE_REGISTRY"}) {
    if (const char* v = std::getenv(name); v && *v) env.environment.push_back(std::string(name) + "=" + v);
  }
}

}  // namespace torvane
