// ctest-labels: unit;threaded
// The service host against a stand-in systemctl (first on PATH, recording its
// calls and playing the unit's active state) and a scratch unit folder; the
// service mode against a notify socket of the test's own.
#include "agent/runtime/service_host.h"

#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <thread>

#include <gtest/gtest.h>

#include "platform/console.h"
#include "tests/support/pipe_test_support.h"

namespace torvane {
namespace {

using testing::EnvOverride;
using testing::ReadWholeFile;
using testing::ScratchDir;
using testing::WriteWholeFile;

// Records each call's arguments. "is-active" answers from the state file; a
// state "deactivating N" turns "inactive" after N polls (N = -1: never).
// "stop" starts such a countdown (STOP_POLLS). FAIL_VERB makes that verb fail.
constexpr const char* kFakeSystemctl = R"sh(#!/bin/sh
echo "$*" >> "$FAKE_DIR/calls"
state_file="$FAKE_DIR/state"
[ -n "$FAIL_VERB" ] && [ "$1" = "$FAIL_VERB" ] && exit 1
case "$1" in
  is-active)
    set -- $(cat "$state_file" 2>/dev/null || echo inactive)
    word=$1; left=${2:-0}
    if [ "$word" = deactivating ] && [ "$left" -eq 0 ]; then word=inactive; fi
    if [ "$word" = deactivating ] && [ "$left" -gt 0 ]; then echo "deactivating $((left - 1))" > "$state_file"; fi
    echo "$word"
    [ "$word" = active ] || [ "$word" = deactivating ] && exit 0
    exit 3 ;;
  stop) echo "deactivating ${STOP_POLLS:-2}" > "$state_file" ;;
  start) echo active > "$state_file" ;;
esac
exit 0
)sh";

class RecordingSink : public ErrorSink {
 public:
  void Report(const std::string& first, const std::string& second) override {
    events.push_back(first + " | " + second);
  }
  std::vector<std::string> events;
};

class ServiceHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(mkdir((dir / "bin").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((dir / "units").c_str(), 0755), 0);
    ASSERT_TRUE(WriteWholeFile(dir / "bin/systemctl", kFakeSystemctl, 0755));
    const char* oldPath = std::getenv("PATH");
    path.emplace("PATH", dir / "bin" + ":" + (oldPath ? oldPath : "/usr/bin:/bin"));
    fakeDir.emplace("FAKE_DIR", dir.path());
    env.unitDir = dir / "units";
    env.executablePath = "/opt/torvane/lldp";
    env.writablePaths = {dir / "opt", dir / "lib", dir / "log/lldp", "/run", "/run"};
    env.sleep = [this](std::chrono::milliseconds d) { slept.push_back(d); };
  }
  std::string Calls() { return ReadWholeFile(dir / "calls").value_or(""); }
  std::string Unit() { return ReadWholeFile(dir / "units/LLDPagent.service").value_or(""); }
  void SetState(const std::string& s) { ASSERT_TRUE(WriteWholeFile(dir / "state", s + "\n")); }

  ScratchDir dir;
  std::optional<EnvOverride> path, fakeDir;
  CaptureConsole console;
  RecordingSink sink;
  ProcessRunner runner;
  ServiceEnvironment env{console, sink, runner};
  std::vector<std::chrono::milliseconds> slept;
};

TEST_F(ServiceHostTest, InstallWritesEnablesAndStartsTheUnit) {
  InstallService(env);
  EXPECT_EQ(console.Text(), "LLDP Agent installed.\nLLDP Agent started.\n");
  EXPECT_EQ(Calls(), "daemon-reload\nenable LLDPagent.service\nstart LLDPagent.service\n");
  std::string unit = Unit();
  EXPECT_NE(unit.find("\nType=notify\n"), std::string::npos);
  EXPECT_NE(unit.find("\nExecStart=/opt/torvane/lldp\n"), std::string::npos);
  EXPECT_NE(unit.find("\nRestart=on-failure\n"), std::string::npos);
  EXPECT_NE(unit.find("\nDescription=802.1AB Link Layer Discovery Protocol Agent\nDocumentation=man:lldp(8) man:lldp.ini(5)\n"),
            std::string::npos);
  EXPECT_NE(unit.find("\nCapabilityBoundingSet=CAP_NET_RAW CAP_NET_ADMIN CAP_SETUID CAP_SETGID\n"),
            std::string::npos);
  EXPECT_NE(unit.find("\nRestrictAddressFamilies=AF_UNIX AF_PACKET AF_NETLINK AF_INET AF_INET6\n"),
            std::string::npos);
  EXPECT_NE(unit.find("\nReadWritePaths=-" + dir / "opt -" + dir / "lib -" + dir / "log/lldp -/run\n"),
            std::string::npos)
      << unit;
  // The folders exist before the service first starts.
  EXPECT_EQ(access((dir / "log/lldp").c_str(), F_OK), 0);
  EXPECT_NE(unit.find("\nSystemCallFilter=@system-service setfsuid setfsgid setgroups\n"), std::string::npos);
  EXPECT_NE(unit.find("\nProtectSystem=strict\n"), std::string::npos);
  EXPECT_NE(unit.find("\nNoNewPrivileges=yes\n"), std::string::npos);
  EXPECT_NE(unit.find("\nWantedBy=multi-user.target\n"), std::string::npos);
  struct stat st{};
  ASSERT_EQ(stat((dir / "units/LLDPagent.service").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST_F(ServiceHostTest, UnitWordsWithBlanksAndPercentAreQuoted) {
  env.executablePath = "/opt/tor vane/lldp%1";
  env.environment = {"TORVANE_PIPE=/tmp/a b"};
  std::string unit = UnitFileText(env);
  EXPECT_NE(unit.find("\nExecStart=\"/opt/tor vane/lldp%%1\"\n"), std::string::npos);
  EXPECT_NE(unit.find("\nEnvironment=\"TORVANE_PIPE=/tmp/a b\"\n"), std::string::npos);
}

TEST_F(ServiceHostTest, UnitPassesTheManagersOwnCheck) {
  if (access("/usr/bin/systemd-analyze", X_OK) != 0) GTEST_SKIP() << "no systemd-analyze";
  env.executablePath = "/bin/true";
  ASSERT_TRUE(WriteWholeFile(dir / "LLDPagent.service", UnitFileText(env)));
  std::string out;
  int rc = runner.Run({"/usr/bin/systemd-analyze", "verify", "--man=no", dir / "LLDPagent.service"}, &out);
  EXPECT_EQ(rc, 0) << out;
}

TEST_F(ServiceHostTest, InstallOverAnInstalledServiceFails) {
  InstallService(env);
  std::string first = Unit();
  CaptureConsole again;
  ServiceEnvironment second{again, sink, runner};
  second.unitDir = env.unitDir;
  second.executablePath = "/elsewhere/lldp";
  InstallService(second);
  EXPECT_EQ(again.Text(), "LLDP Agent service installation failed - File exists (0x11)\n");
  EXPECT_EQ(Unit(), first);
}

TEST_F(ServiceHostTest, InstallUndoesTheUnitWhenEnableFails) {
  EnvOverride fail("FAIL_VERB", "enable");
  InstallService(env);
  EXPECT_EQ(console.Text(),
            "LLDP Agent service installation failed - systemctl enable failed (exit status 1)\n");
  EXPECT_EQ(access((dir / "units/LLDPagent.service").c_str(), F_OK), -1);
  EXPECT_EQ(Calls(), "daemon-reload\nenable LLDPagent.service\ndaemon-reload\n");
}

TEST_F(ServiceHostTest, InstallIntoAMissingUnitFolder) {
  env.unitDir = dir / "nowhere";
  InstallService(env);
  EXPECT_EQ(console.Text(), "OpenSCManager failed - No such file or directory (0x2)\n");
  EXPECT_EQ(Calls(), "");
}

TEST_F(ServiceHostTest, RemoveStopsWaitsDisablesAndDeletes) {
  InstallService(env);
  SetState("active");
  EnvOverride polls("STOP_POLLS", "3");
  CaptureConsole removal;
  ServiceEnvironment r{removal, sink, runner};
  r.unitDir = env.unitDir;
  r.sleep = env.sleep;
  RemoveService(r);
  // One pause, then three polls that still see it stopping, then stopped.
  EXPECT_EQ(removal.Text(), "Stopping LLDP Agent....\nLLDP Agent stopped.\nLLDP Agent deleted.\n");
  EXPECT_EQ(slept.size(), 4u);
  EXPECT_EQ(slept.front(), std::chrono::milliseconds(1000));
  EXPECT_NE(Calls().find("is-active LLDPagent.service\nstop --no-block LLDPagent.service\n"), std::string::npos);
  EXPECT_NE(Calls().find("disable LLDPagent.service\ndaemon-reload\n"), std::string::npos);
  EXPECT_EQ(access((dir / "units/LLDPagent.service").c_str(), F_OK), -1);
}

TEST_F(ServiceHostTest, RemoveOfAStoppedServiceSendsNoStop) {
  InstallService(env);
  SetState("inactive");
  CaptureConsole removal;
  ServiceEnvironment r{removal, sink, runner};
  r.unitDir = env.unitDir;
  r.sleep = env.sleep;
  RemoveService(r);
  EXPECT_EQ(removal.Text(), "\nLLDP Agent stopped.\nLLDP Agent deleted.\n");
  EXPECT_EQ(Calls().find("stop --no-block"), std::string::npos);
  EXPECT_TRUE(slept.empty());
}

TEST_F(ServiceHostTest, RemoveGivesUpWaitingAfterThirtyPollsAndStillDeletes) {
  InstallService(env);
  SetState("active");
  EnvOverride polls("STOP_POLLS", "1000");
  CaptureConsole removal;
  ServiceEnvironment r{removal, sink, runner};
  r.unitDir = env.unitDir;
  r.sleep = env.sleep;
  RemoveService(r);
  EXPECT_EQ(removal.Text(), "Stopping LLDP Agent." + std::string(30, '.') +
                                "\nLLDP Agent failed to stop.\nLLDP Agent deleted.\n");
  EXPECT_EQ(slept.size(), 31u);
  EXPECT_EQ(access((dir / "units/LLDPagent.service").c_str(), F_OK), -1);
}

TEST_F(ServiceHostTest, RemoveOfAServiceThatIsNotInstalled) {
  RemoveService(env);
  EXPECT_EQ(console.Text(), "LLDP Agent failed to access service - No such file or directory (0x2)\n");
  EXPECT_EQ(Calls(), "");
}

TEST_F(ServiceHostTest, EntryTakesTheArgumentInAnyCaseAndRunsThePacketDriverSteps) {
  std::vector<std::string> order;
  env.installPacketDriver = [&] {
    order.push_back("install driver:" + std::to_string(access((dir / "units/LLDPagent.service").c_str(), F_OK)));
    return 1;
  };
  env.removePacketDriver = [&] {
    order.push_back("remove driver:" + std::to_string(access((dir / "units/LLDPagent.service").c_str(), F_OK)));
    return 1;
  };
  char prog[] = "lldp";
  char install[] = "-INSTALL";
  char remove[] = "-Remove";
  char* a1[] = {prog, install, nullptr};
  char* a2[] = {prog, remove, nullptr};
  EXPECT_EQ(ServiceEntry(2, a1, env), 0);
  SetState("inactive");
  EXPECT_EQ(ServiceEntry(2, a2, env), 0);
  // The driver is installed before the service and removed after it.
  EXPECT_EQ(order, (std::vector<std::string>{"install driver:-1", "remove driver:-1"}));
  EXPECT_EQ(console.Text(),
            "LLDP Agent installed.\nLLDP Agent started.\n\nLLDP Agent stopped.\nLLDP Agent deleted.\n");
}

TEST_F(ServiceHostTest, UnknownArgumentOutsideTheManagerPrintsUsageAndReportsTheFailure) {
  EnvOverride a("INVOCATION_ID", std::nullopt), b("NOTIFY_SOCKET", std::nullopt);
  bool ran = false;
  env.runAgent = [&](int, char**) { return ran = true, 1; };
  char prog[] = "lldp";
  char other[] = "-whatever";
  char* argv[] = {prog, other, nullptr};
  EXPECT_EQ(ServiceEntry(2, argv, env), 0);
  EXPECT_FALSE(ran);
  EXPECT_EQ(console.Text(),
            "LLDPagent -install     to install the service\n"
            "LLDPagent -remove      to remove the service\n"
            "LLDPagent -debug       to run the service as a console application\n"
            "\nStartServiceCtrlDispatcher being called.\n"
            "This may take several seconds.  Please wait.\n");
  ASSERT_EQ(sink.events.size(), 1u);
  EXPECT_EQ(sink.events[0], "LLDPagent error: 1 | StartServiceCtrlDispatcher failed.");
}

// The unit's writable folders: where each piece of the agent's state lives.
TEST(ServiceWritablePathsTest, EveryFolderTheAgentWrites) {
  struct Case {
    const char* what;
    std::string settingsFile, settingsText, pipe;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"all beside the agent", "/opt/torvane/lldp.ini", "", "/run/torvane_lldp",
       {"/opt/torvane", "/var/lib/torvane", "/run", "/run"}},
      // The package's layout: lldp.ini a link into /etc, the log in /var/log.
      {"settings elsewhere, log folder named", "/etc/torvane/lldp.ini",
       "[lldp]\nDirectory=/var/log/torvane/\n", "/run/torvane_lldp",
       {"/opt/torvane", "/var/lib/torvane", "/etc/torvane", "/var/log/torvane/", "/run", "/run"}},
      {"a relative log folder names nothing", "/opt/torvane/lldp.ini", "[LLDP]\ndirectory=logs/\n",
       "/run/torvane_lldp", {"/opt/torvane", "/var/lib/torvane", "/run", "/run"}},
      {"a Directory of another section names nothing", "/opt/torvane/lldp.ini",
       "[other]\nDirectory=/srv/log/\n", "/tmp/p/pipe", {"/opt/torvane", "/var/lib/torvane", "/tmp/p", "/run"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ServiceWritablePaths("/opt/torvane/lldp", c.settingsFile, c.settingsText, "/var/lib/torvane", c.pipe),
              c.expected)
        << c.what;
  }
}

TEST(ServiceWritablePathsTest, ResolvedFileFollowsLinksToTheirEnd) {
  ScratchDir dir;
  ASSERT_EQ(mkdir((dir / "etc").c_str(), 0755), 0);
  ASSERT_TRUE(WriteWholeFile(dir / "etc/lldp.ini", "[lldp]\n"));
  ASSERT_EQ(symlink((dir / "etc/lldp.ini").c_str(), (dir / "middle.ini").c_str()), 0);
  ASSERT_EQ(symlink("middle.ini", (dir / "lldp.ini").c_str()), 0);
  ASSERT_EQ(symlink((dir / "gone.ini").c_str(), (dir / "dangling.ini").c_str()), 0);
  char* real = realpath(dir.path().c_str(), nullptr);
  ASSERT_NE(real, nullptr);
  const std::string root = real;
  free(real);
  EXPECT_EQ(ResolvedFile(dir / "lldp.ini"), root + "/etc/lldp.ini");
  EXPECT_EQ(ResolvedFile(root + "/etc/lldp.ini"), root + "/etc/lldp.ini");
  // Nothing to follow to: the name itself.
  EXPECT_EQ(ResolvedFile(dir / "dangling.ini"), dir / "dangling.ini");
  EXPECT_EQ(ResolvedFile(dir / "missing.ini"), dir / "missing.ini");
}

TEST(LastErrorTextTest, TextAndCode) {
  EXPECT_EQ(LastErrorText(ENOENT), "No such file or directory (0x2)");
  EXPECT_EQ(LastErrorText(EACCES), "Permission denied (0xd)");
  EXPECT_EQ(LastErrorText(0), "");
}

// --- service mode ---

// A datagram socket standing in for the manager's notify socket.
class NotifyListener {
 public:
  explicit NotifyListener(const std::string& name, bool abstract) {
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path + (abstract ? 1 : 0), name.data(), name.size());
    socklen_t len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size() + 1);
    bound_ = bind(fd_, reinterpret_cast<sockaddr*>(&addr), len) == 0;
    timeval tv{0, 200 * 1000};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  }
  ~NotifyListener() { close(fd_); }
  bool bound() const { return bound_; }
  // Every datagram that arrived, in order.
  std::vector<std::string> Drain() {
    std::vector<std::string> out;
    char buf[256];
    ssize_t n;
    while ((n = recv(fd_, buf, sizeof buf, 0)) > 0) out.emplace_back(buf, static_cast<size_t>(n));
    return out;
  }

 private:
  int fd_;
  bool bound_ = false;
};

class ServiceModeTest : public ::testing::Test {
 protected:
  ScratchDir dir;
  CaptureConsole console;
  RecordingSink sink;
  ProcessRunner runner;
  ServiceEnvironment env{console, sink, runner};
  char prog[5] = "lldp";
  char* argv[2] = {prog, nullptr};
};

TEST_F(ServiceModeTest, ReportsReadyAndStoppingAndStopsOnSigterm) {
  NotifyListener manager(dir / "notify", false);
  ASSERT_TRUE(manager.bound());
  EnvOverride notify("NOTIFY_SOCKET", dir / "notify");
  std::atomic<bool> stop{false};
  env.requestStop = [&] { stop = true; };
  env.runAgent = [&](int, char**) {
    kill(getpid(), SIGTERM);  // as `systemctl stop` does
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!stop && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return stop ? 1 : 0;
  };
  EXPECT_EQ(ServiceMain(env, 1, argv), 0);
  EXPECT_TRUE(stop);
  // Start pending and stopped send nothing.
  EXPECT_EQ(manager.Drain(), (std::vector<std::string>{"READY=1", "STOPPING=1"}));
  EXPECT_TRUE(sink.events.empty());
}

TEST_F(ServiceModeTest, AbstractNotifySocket) {
  std::string name = "torvane-notify-" + std::to_string(getpid());
  NotifyListener manager(name, true);
  ASSERT_TRUE(manager.bound());
  EnvOverride notify("NOTIFY_SOCKET", "@" + name);
  EXPECT_EQ(ReportStatus(env, kServiceStartPending, 0, 3000), 1);
  EXPECT_EQ(ReportStatus(env, kServiceRunning, 0, 0), 1);
  EXPECT_EQ(ReportStatus(env, kServiceStopped, 0, 0), 1);
  EXPECT_EQ(manager.Drain(), std::vector<std::string>{"READY=1"});
}

TEST_F(ServiceModeTest, AgentThatFailsToStartEndsWithStatusOne) {
  EnvOverride notify("NOTIFY_SOCKET", std::nullopt);
  EnvOverride invocation("INVOCATION_ID", "0123456789abcdef");
  env.runAgent = [](int, char**) { return 0; };
  char* args[] = {prog, nullptr};
  EXPECT_EQ(ServiceEntry(1, args, env), 1);
  ASSERT_EQ(sink.events.size(), 1u);
  EXPECT_NE(sink.events[0].find("| Unable to start service"), std::string::npos);
}

TEST_F(ServiceModeTest, UnreachableNotifySocketIsReportedAndTheAgentDoesNotRun) {
  EnvOverride notify("NOTIFY_SOCKET", dir / "nobody-here");
  bool ran = false;
  env.runAgent = [&](int, char**) { return ran = true, 1; };
  EXPECT_EQ(ServiceMain(env, 1, argv), 1);
  EXPECT_FALSE(ran);
  ASSERT_EQ(sink.events.size(), 2u);
  EXPECT_NE(sink.events[0].find("| SetServiceStatus"), std::string::npos);
  EXPECT_NE(sink.events[1].find("| Unable to start service"), std::string::npos);
}

TEST_F(ServiceModeTest, ConsoleModeReportsNothing) {
  NotifyListener manager(dir / "notify", false);
  EnvOverride notify("NOTIFY_SOCKET", dir / "notify");
  env.consoleMode = true;
  EXPECT_EQ(ReportStatus(env, kServiceRunning, 0, 0), 1);
  ReportError(env, "Unable to start service");
  EXPECT_TRUE(manager.Drain().empty());
  EXPECT_TRUE(sink.events.empty());
}

}  // namespace
}  // namespace torvane
