// ctest-labels: unit;threaded
// The console host: Ctrl+C and SIGTERM reach the control handler through the
// signal thread (never through an asynchronous handler), and "-debug" runs the
// worker until such a stop.
#include "agent/runtime/console_host.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/console.h"
#include "platform/profile.h"
#include "platform/registry_store.h"
#include "platform/system_facts.h"
#include "tests/support/fake_clock.h"
#include "tests/support/runtime/fake_link.h"

namespace torvane {
namespace {

using namespace std::chrono_literals;

class ConsoleHostTest : public ::testing::Test {
 protected:
  ConsoleHostTest() {
    // The test's own thread blocks the stop signals first, as the program entry
    // does, so that a signal sent to the process can only be taken by signalfd.
    EXPECT_TRUE(BlockStopSignals());
    agent.timing.stopDelay = 0ms;
    agent.link = &link;
    agent.changeDirectory = [](const char*) { return true; };
    clock.realWait = 2ms;
    FakeAdapter a;
    a.deviceName = "dev-eth0";
    a.connectionName = "eth0";
    a.mac = Mac{0x02, 0, 0, 0, 0, 1};
    a.ifIndex = 2;
    link.adapters.push_back(a);
  }

  template <class F>
  static bool Eventually(F done, std::chrono::milliseconds limit = 5000ms) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(1ms);
    }
    return true;
  }

  MemoryProfile profile;
  MemoryRegistry registry;
  FakeSystemFacts facts;
  FakeClock clock;
  CaptureConsole console;
  Agent agent{SettingsHost{profile, registry, facts}, clock, console};
  FakeLinkLayer link{clock, &agent.lists};
};

TEST_F(ConsoleHostTest, CtrlCAndCtrlBreakStopTheAgentOtherEventsDoNot) {
  EXPECT_FALSE(ConsoleControl(agent, kCloseEvent));
  EXPECT_FALSE(agent.stopRequested);
  EXPECT_EQ(console.Text(), "");
  EXPECT_TRUE(ConsoleControl(agent, kCtrlCEvent));
  EXPECT_TRUE(agent.stopRequested);
  EXPECT_TRUE(agent.wake.TryTake());
  EXPECT_TRUE(ConsoleControl(agent, kCtrlBreakEvent));
  EXPECT_EQ(console.Text(), "Stopping LLDP Agent.\nStopping LLDP Agent.\n");
}

TEST_F(ConsoleHostTest, SigtermIsTakenByTheSignalThread) {
  StopSignalThread signals(agent);
  ASSERT_TRUE(signals.Start());
  ASSERT_EQ(kill(getpid(), SIGTERM), 0);
  EXPECT_TRUE(Eventually([&] { return agent.stopRequested.load(); }));
  signals.Stop();
  EXPECT_EQ(console.Text(), "Stopping LLDP Agent.\n");
}

TEST_F(ConsoleHostTest, DebugRunsTheWorkerUntilCtrlC) {
  std::vector<std::string> args = {"lldp", "-DEBUG"};
  std::vector<char*> argv = {args[0].data(), args[1].data(), nullptr};
  std::atomic<bool> done{false};
  int code = -1;
  std::thread host([&] {
    code = RunConsole(agent, 2, argv.data());
    done = true;
  });
  bool cycled = Eventually([&] { return link.discoveries.load() >= 2; });
  EXPECT_TRUE(cycled);
  ASSERT_EQ(kill(getpid(), SIGINT), 0);
  bool ended = Eventually([&] { return done.load(); });
  if (!ended) RequestStop(agent);  // never leave the host thread behind
  host.join();
  EXPECT_TRUE(ended);
  EXPECT_EQ(code, 0);
  std::string text = console.Text();
  EXPECT_EQ(text.rfind("Debugging LLDP Agent.\n", 0), 0u) << text;
  EXPECT_NE(text.find("Stopping LLDP Agent.\n"), std::string::npos);
  EXPECT_GE(link.closeAlls.load(), 1u);  // the shutdown sequence ran
  EXPECT_EQ(agent.debugLevel, 1);
}

TEST(ConsoleHost, UsageNamesTheService) {
  CaptureConsole console;
  PrintUsage(console);
  EXPECT_EQ(console.Text(),
            "LLDPagent -install     to install the service\n"
            "LLDPagent -remove      to remove the service\n"
            "LLDPagent -debug       to run the service as a console application\n");
}

TEST(ConsoleHost, PassLengthHookTakesOnlySaneValues) {
  AgentTiming timing;
  setenv("TORVANE_PASS_MS", "250", 1);
  ApplyTestTiming(timing);
  EXPECT_EQ(timing.pass, 250ms);
  for (const char* bad : {"0", "20000", "12x", "", "-5"}) {
    setenv("TORVANE_PASS_MS", bad, 1);
    ApplyTestTiming(timing);
    EXPECT_EQ(timing.pass, 250ms) << bad;
  }
  unsetenv("TORVANE_PASS_MS");
}

}  // namespace
}  // namespace torvane
