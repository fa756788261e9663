// ctest-labels: unit;threaded
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "agent/runtime/agent.h"
#include "agent/store/event_log.h"
#include "agent/store/frame_dispatch.h"
#include "agent/store/neighbor_table.h"
#include "tests/support/runtime/noop_services.h"
#include "common/bytes.h"
#include "platform/profile.h"
#include "platform/registry_store.h"
#include "platform/system_facts.h"
#include "tests/support/fake_clock.h"
#include "tests/support/runtime/fake_link.h"
#include "tests/support/store/receive_rig.h"

namespace torvane {
namespace {

constexpr uint8_t kLldpGroup[6] = {0x01, 0x80, 0xC2, 0x00, 0x00, 0x0E};
constexpr uint8_t kCdpGroup[6] = {0x01, 0x00, 0x0C, 0xCC, 0xCC, 0xCC};

class CountingNeighbors : public NeighborService {
 public:
  void InitNeighborTable() override { ++inits; }
  void AgeNeighbors() override { ++agings; }
  std::atomic<int> inits{0};
  std::atomic<int> agings{0};
};

class CountingPipe : public PipeService {
 public:
  void Start() override { ++starts; }
  void Stop() override { ++stops; }
  std::atomic<int> starts{0};
  std::atomic<int> stops{0};
};

bool Dest(const SentFrame& f, const uint8_t* mac) {
  return f.bytes.size() >= 14 && std::memcmp(f.bytes.data(), mac, 6) == 0;
}
bool IsLldp(const SentFrame& f) {
  return f.bytes.size() >= 14 && f.bytes[12] == 0x88 && f.bytes[13] == 0xCC;
}
bool IsCdp(const SentFrame& f) { return Dest(f, kCdpGroup); }

// The body of the first TLV of `type` in an LLDP frame; empty when there is none.
std::vector<uint8_t> LldpTlv(const SentFrame& f, unsigned type) {
  ByteReader r(f.bytes.data(), f.bytes.size());
  r.skip(14);
  while (r.ok() && !r.empty()) {
    uint16_t header = r.u16be();
    unsigned t = header >> 9;
    auto body = r.bytes(header & 0x1FF);
    if (!r.ok() || t == 0) break;
    if (t == type) return {body.begin(), body.end()};
  }
  return {};
}

// Whether an LLDP frame carries the LLDP-MED capabilities TLV.
bool HasMedCapabilities(const SentFrame& f) {
  ByteReader r(f.bytes.data(), f.bytes.size());
  r.skip(14);
  while (r.ok() && !r.empty()) {
    uint16_t header = r.u16be();
    auto body = r.bytes(header & 0x1FF);
    if (!r.ok() || (header >> 9) == 0) break;
    if ((header >> 9) == 127 && body.size() >= 4 && body[0] == 0x00 && body[1] == 0x12 &&
        body[2] == 0xBB && body[3] == 1)
      return true;
  }
  return false;
}

// The TTL TLV's value, or -1 when the frame has none.
int LldpTtl(const SentFrame& f) {
  std::vector<uint8_t> b = LldpTlv(f, 3);
  if (b.size() != 2) return -1;
  return (b[0] << 8) | b[1];
}

template <class Pred>
std::vector<uint32_t> PassesOf(const std::vector<SentFrame>& frames, Pred pred) {
  std::vector<uint32_t> passes;
  for (const SentFrame& f : frames)
    if (pred(f)) passes.push_back(f.pass);
  return passes;
}

std::vector<uint32_t> Range(uint32_t first, uint32_t last) {
  std::vector<uint32_t> v;
  for (uint32_t p = first; p <= last; ++p) v.push_back(p);
  return v;
}

class WorkerTest : public ::testing::Test {
 protected:
  WorkerTest() {
    agent.link = &link;
    agent.neighbors = &neighbors;
    agent.pipe = &pipe;
    agent.changeDirectory = [this](const char* d) {
      directories.push_back(d);
      return true;
    };
  }

  void Ini(const std::string& body) { profile.files["/opt/torvane/lldp.ini"] = "[lldp]\n" + body; }

  FakeAdapter& AddAdapter(const std::string& name, Mac mac, uint32_t ifIndex) {
    FakeAdapter a;
    a.deviceName = "dev-" + name;
    a.connectionName = name;
    a.mac = mac;
    a.ifIndex = ifIndex;
    link.adapters.push_back(a);
    return link.adapters.back();
  }

  // Runs the agent and asks it to stop during its wait number `passes`, so that
  // exactly `passes` passes run before the shutdown cycle.
  int RunPasses(uint32_t passes, std::vector<std::string> args = {"lldp"}) {
    auto hook = clock.onWait;
    clock.onWait = [this, passes, hook](uint32_t n) {
      if (hook) hook(n);
      if (n == passes) RequestStop(agent);
    };
    return Run(std::move(args));
  }

  int Run(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    return RunAgent(agent, static_cast<int>(args.size()), argv.data());
  }

  MemoryProfile profile;
  MemoryRegistry registry;
  FakeSystemFacts facts;
  FakeClock clock;
  CaptureConsole console;
  Agent agent{SettingsHost{profile, registry, facts}, clock, console};
  FakeLinkLayer link{clock, &agent.lists};
  CountingNeighbors neighbors;
  CountingPipe pipe;
  std::vector<std::string> directories;

  const Mac macA{0x00, 0x1B, 0x21, 0x0A, 0x0B, 0x01};
  const Mac macB{0x00, 0x1B, 0x21, 0x0A, 0x0B, 0x02};
};

// ---- Passes and cycles ----

struct IntervalCase {
  uint32_t txInterval;
  std::vector<uint32_t> cyclePasses;
};
void PrintTo(const IntervalCase& c, std::ostream* out) { *out << "txInterval " << c.txInterval; }

class CyclesPerPass : public WorkerTest, public ::testing::WithParamInterface<IntervalCase> {};

TEST_P(CyclesPerPass, LldpGoesOutOnTheCyclePassesOnly) {
  Ini("txInterval=" + std::to_string(GetParam().txInterval) + "\n");
  AddAdapter("eth0", macA, 2);
  ASSERT_EQ(RunPasses(7), 1);

  auto frames = link.Frames();
  auto normal = PassesOf(frames, [](const SentFrame& f) { return IsLldp(f) && LldpTtl(f) > 0; });
  EXPECT_EQ(normal, GetParam().cyclePasses);
  // Discovery runs only on cycle passes.
  EXPECT_EQ(link.discoveries.load(), GetParam().cyclePasses.size());
  // Answer mode (the default) sends no CDP while no CDP neighbour was heard.
  EXPECT_TRUE(PassesOf(frames, IsCdp).empty());
}

INSTANTIATE_TEST_SUITE_P(
    TxInterval, CyclesPerPass,
    ::testing::Values(IntervalCase{10, Range(1, 7)},
                      // 15 is rounded up to 20: every second pass.
                      IntervalCase{15, {1, 3, 5, 7}}, IntervalCase{30, {1, 4, 7}}),
    [](const ::testing::TestParamInfo<IntervalCase>& c) {
      return "Every" + std::to_string(c.param.txInterval) + "s";
    });

TEST_F(WorkerTest, AgesTheTableEveryPassAndRunsThePipeForTheWholeRun) {
  AddAdapter("eth0", macA, 2);
  ASSERT_EQ(RunPasses(5), 1);
  EXPECT_EQ(neighbors.inits.load(), 1);
  EXPECT_EQ(neighbors.agings.load(), 5);
  EXPECT_EQ(pipe.starts.load(), 1);
  EXPECT_EQ(pipe.stops.load(), 1);
  EXPECT_TRUE(agent.stopping);
  // The start-up sleep, then one 10-second wait per pass, then the stop delay.
  EXPECT_EQ(clock.ElapsedMs(), 2000u + 5 * 10000u + 300u);
}

TEST_F(WorkerTest, HeardEndpointRunsFastStartAtOnceForTheRepeatCount) {
  Ini("txInterval=30\nMedDevType=4\n");
  AddAdapter("eth0", macA, 2);
  // The real receive path: during the second pass's wait an LLDP-MED endpoint
  // (lldpd -M 1) is heard on the port.
  EventLog log(agent.settings, facts, clock, agent.logLock);
  NeighborTable table(log, clock);
  FrameDispatch dispatch(
      DispatchParts{agent.ports, agent.settings, agent.lists, table, clock, agent, agent.trace});
  const std::vector<uint8_t> endpoint = nbrtest::ReadFixture("lldpd_lldp_med_endpoint.bin");
  clock.onWait = [&](uint32_t n) {
    if (n == 2) dispatch.DispatchFrame(agent.ports[0], endpoint.data(), endpoint.size());
  };
  ASSERT_EQ(RunPasses(12), 1);
  ASSERT_EQ(table.Count(), 1u);

  auto frames = link.Frames();
  auto normal = PassesOf(frames, [](const SentFrame& f) { return IsLldp(f) && LldpTtl(f) > 0; });
  // The wake starts a cycle at once (pass 3); it and each cycle after it take
  // one of the 4 fast-start repeats and reset the counter (passes 3 to 6), pass
  // 7 runs on that last reset, then the 30-second rhythm resumes at pass 10.
  EXPECT_EQ(normal, (std::vector<uint32_t>{1, 3, 4, 5, 6, 7, 10}));
  EXPECT_EQ(agent.ports[0].fastStartCount.load(), 0);
  // A network connectivity device answers the endpoint with LLDP-MED from the
  // first fast-start cycle on, and not before.
  for (const SentFrame& f : frames) {
    if (!IsLldp(f) || LldpTtl(f) == 0) continue;
    EXPECT_EQ(HasMedCapabilities(f), f.pass >= 3) << "pass " << f.pass;
  }
}

TEST_F(WorkerTest, StopDuringStartupSleepSendsNothing) {
  AddAdapter("eth0", macA, 2);
  clock.onSleep = [this](std::chrono::milliseconds d) {
    if (d == agent.timing.startup) RequestStop(agent);
  };
  ASSERT_EQ(Run({"lldp"}), 1);
  EXPECT_TRUE(link.Frames().empty());
  EXPECT_EQ(link.discoveries.load(), 0u);
  EXPECT_EQ(link.driverStartCalls.load(), 0u);
  EXPECT_EQ(link.opens.load(), 0u);
  EXPECT_EQ(pipe.stops.load(), 1);
  EXPECT_TRUE(agent.stopping);
}

TEST_F(WorkerTest, ShutdownCycleSendsTtlZeroThenClosesEverything) {
  Ini("txInterval=30\ntxHoldMultiplier=4\n");
  AddAdapter("eth0", macA, 2);
  ASSERT_EQ(RunPasses(2), 1);

  auto frames = link.Frames();
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].pass, 1u);
  EXPECT_EQ(LldpTtl(frames[0]), 120);
  // The shutdown cycle runs even though pass 3 would not have been a cycle pass.
  EXPECT_EQ(frames[1].pass, 3u);
  EXPECT_EQ(LldpTtl(frames[1]), 0);
  EXPECT_EQ(link.closeAlls.load(), 1u);
  EXPECT_EQ(link.driverStops.load(), 1u);
  EXPECT_EQ(agent.ports[0].state.load(), kPortClosed);
}

TEST_F(WorkerTest, ReadyPortWithoutLinkCountsAsReadyButSendsNothing) {
  Ini("txInterval=10\ntxCdp=1\n");
  AddAdapter("eth0", macA, 2).linkStatus = kLinkDisconnected;
  ASSERT_EQ(RunPasses(4), 1);
  EXPECT_TRUE(link.Frames().empty());
  // No restart: packet access came up once and the ports closed only at the end.
  EXPECT_EQ(link.driverStartCalls.load(), 1u);
  EXPECT_EQ(link.closeAlls.load(), 1u);
  EXPECT_EQ(link.opens.load(), 1u);
}

TEST_F(WorkerTest, NotReadyPortIsRefreshedButNeverReopened) {
  Ini("txInterval=10\n");
  AddAdapter("eth0", macA, 2).openState = kPortNotReady;
  AddAdapter("eth1", macB, 3);
  ASSERT_EQ(RunPasses(3), 1);
  EXPECT_EQ(link.opens.load(), 2u);
  auto frames = link.Frames();
  for (const SentFrame& f : frames) EXPECT_EQ(f.port, 2u);
  EXPECT_EQ(PassesOf(frames, [](const SentFrame& f) { return LldpTtl(f) > 0; }), Range(1, 3));
}

// ---- Per-port switches ----

TEST_F(WorkerTest, PerPortSwitchesComeFromTheRegistryWhenThePortOpens) {
  Ini("MedDevType=2\n");
  AddAdapter("eth0", macA, 2);
  AddAdapter("eth1", macB, 3);
  // eth0: transmit only, system description TLV only (0x2001).
  registry.keys["lldp"]["00:1b:21:0a:0b:01"] = RegValue{RegType::kString, "8193"};
  ASSERT_EQ(RunPasses(1), 1);

  EXPECT_EQ(agent.ports[0].adminStatus.load(), 0x01);
  EXPECT_EQ(agent.ports[0].tlvsTxEnable.load(), 0x20);
  // No value: the default transmit and receive bits with every TLV on.
  EXPECT_EQ(agent.ports[1].adminStatus.load(), 0x03);
  EXPECT_EQ(agent.ports[1].tlvsTxEnable.load(), 0xF0);
  EXPECT_EQ(agent.ports[0].medActive.load(), 1);
  EXPECT_EQ(agent.ports[1].medActive.load(), 1);

  // Each port opens with every multicast mode and the LLDP and CDP groups.
  EXPECT_EQ(link.lastMulticastMode, 3u);
  std::vector<uint8_t> groups(kLldpGroup, kLldpGroup + 6);
  groups.insert(groups.end(), kCdpGroup, kCdpGroup + 6);
  EXPECT_EQ(link.lastAddressList, groups);
}

TEST_F(WorkerTest, PortFollowsANewAddressOfItsAdapterAtTheNextCycle) {
  Ini("txInterval=10\n");
  AddAdapter("eth0", macA, 2);
  const Mac macC{0x02, 0x00, 0x5E, 0x10, 0x20, 0x30};
  // Switches stored for the new address: transmit and receive, Port Description only.
  registry.keys["lldp"]["02:00:5e:10:20:30"] = RegValue{RegType::kString, "32771"};
  clock.onWait = [&](uint32_t n) {
    if (n == 2) link.Adapter("dev-eth0")->mac = macC;  // the link stays up
  };
  ASSERT_EQ(RunPasses(4), 1);

  auto sourceOf = [](const SentFrame& f) { return Mac{f.bytes[6], f.bytes[7], f.bytes[8],
                                                      f.bytes[9], f.bytes[10], f.bytes[11]}; };
  std::vector<Mac> sources, portIds;
  for (const SentFrame& f : link.Frames()) {
    if (!IsLldp(f)) continue;
    sources.push_back(sourceOf(f));
    std::vector<uint8_t> id = LldpTlv(f, 2);
    ASSERT_EQ(id.size(), 7u);
    EXPECT_EQ(id[0], 3);  // port ID subtype: MAC address
    portIds.push_back(Mac{id[1], id[2], id[3], id[4], id[5], id[6]});
  }
  // Passes 1 and 2 under the old address, 3, 4 and the shutdown under the new.
  std::vector<Mac> expected{macA, macA, macC, macC, macC};
  EXPECT_EQ(sources, expected);
  EXPECT_EQ(portIds, expected);
  EXPECT_EQ(link.opens.load(), 2u);
  EXPECT_EQ(agent.ports[0].tlvsTxEnable.load(), 0x80);
}

TEST_F(WorkerTest, ReceiveOnlyPortSendsCdpButNoLldp) {
  Ini("txInterval=10\ntxCdp=1\n");
  AddAdapter("eth0", macA, 2);
  registry.keys["lldp"]["00:1b:21:0a:0b:01"] = RegValue{RegType::kString, "2"};
  ASSERT_EQ(RunPasses(3), 1);
  auto frames = link.Frames();
  EXPECT_TRUE(PassesOf(frames, IsLldp).empty());
  // Every cycle and the shutdown cycle send CDP.
  EXPECT_EQ(PassesOf(frames, IsCdp), Range(1, 4));
}

TEST_F(WorkerTest, NetworkConnectivityDeviceIsNoActiveEndpoint) {
  Ini("MedDevType=4\n");
  AddAdapter("eth0", macA, 2);
  ASSERT_EQ(RunPasses(1), 1);
  EXPECT_EQ(agent.ports[0].medActive.load(), 0);
}

// ---- CDP answer mode ----

TEST_F(WorkerTest, CdpAnswerModeSendsWhileNeighbourHeardThenOneMore) {
  Ini("txInterval=10\ntxCdp=3\n");
  AddAdapter("eth0", macA, 2);
  uint32_t heardAt = 0;
  clock.onWait = [&](uint32_t n) {
    if (n == 2) agent.ports[0].cdpSeen = heardAt = clock.Now();
  };
  ASSERT_EQ(RunPasses(35), 1);

  auto frames = link.Frames();
  auto cdp = PassesOf(frames, IsCdp);
  // Heard during pass 2's wait; pass k runs at start + 2 + 10 (k - 1) s, so pass 27
  // finds the frame 250 s old and pass 28 finds it 260 s old: that one still sends
  // and forgets it.
  EXPECT_EQ(cdp, Range(3, 28));
  ASSERT_FALSE(cdp.empty());
  for (const SentFrame& f : frames) {
    if (!IsCdp(f)) continue;
    if (f.pass < 28) {
      EXPECT_LE(f.time - heardAt, 255u);
    } else {
      EXPECT_GT(f.time - heardAt, 255u);
    }
  }
  EXPECT_EQ(agent.ports[0].cdpSeen.load(), 0u);
}

// A stopping agent does not renew its CDP entry in its peers' tables: the last
// cycle's CDP frame says hold time 0, as its LLDP frame says TTL 0.
TEST_F(WorkerTest, ShutdownCycleSendsCdpWithHoldTimeZero) {
  Ini("txInterval=10\ntxCdp=1\n");
  AddAdapter("eth0", macA, 2);
  ASSERT_EQ(RunPasses(2), 1);
  std::vector<int> holdTimes;
  for (const SentFrame& f : link.Frames())
    if (IsCdp(f) && f.bytes.size() > 23) holdTimes.push_back(f.bytes[23]);
  EXPECT_EQ(holdTimes, (std::vector<int>{40, 40, 0}));
}

TEST_F(WorkerTest, CdpFrameCarriesThePlatformText) {
  Ini("txCdp=1\n");
  AddAdapter("eth0", macA, 2);
  ASSERT_EQ(RunPasses(1), 1);
  std::string platform(FieldText(agent.settings.GetOutside().osVersionText));
  ASSERT_FALSE(platform.empty());
  bool found = false;
  for (const SentFrame& f : link.Frames()) {
    if (!IsCdp(f)) continue;
    std::string bytes(f.bytes.begin(), f.bytes.end());
    found = found || bytes.find(platform) != std::string::npos;
  }
  EXPECT_TRUE(found) << platform;
}

// ---- Extra copies ----

TEST_F(WorkerTest, LldpCopiesGoToTheExtraMulticastAndToBroadcastOnOneAdapter) {
  Ini("txCdp=0\ntxMcast=01:80:c2:00:00:03\ntxBcSrc=00-1b-21-0a-0b-02\n");
  AddAdapter("eth0", macA, 2);
  AddAdapter("eth1", macB, 3);
  ASSERT_EQ(RunPasses(1), 1);

  std::vector<SentFrame> pass1;
  for (const SentFrame& f : link.Frames())
    if (f.pass == 1) pass1.push_back(f);
  ASSERT_EQ(pass1.size(), 5u);

  const uint8_t mcast[6] = {0x01, 0x80, 0xC2, 0x00, 0x00, 0x03};
  const uint8_t bcast[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  struct Expect {
    uint32_t port;
    const uint8_t* dest;
    const Mac* source;
  } expect[5] = {{1, kLldpGroup, &macA}, {1, mcast, &macA}, {2, kLldpGroup, &macB},
                 {2, mcast, &macB},      {2, bcast, &macB}};
  for (size_t i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(pass1[i].port, expect[i].port);
    EXPECT_TRUE(Dest(pass1[i], expect[i].dest));
    EXPECT_EQ(std::memcmp(pass1[i].bytes.data() + 6, expect[i].source->data(), 6), 0);
  }
  // The copies carry the very frame of their port from the type field on.
  auto body = [](const SentFrame& f) { return std::vector<uint8_t>(f.bytes.begin() + 12, f.bytes.end()); };
  EXPECT_EQ(body(pass1[1]), body(pass1[0]));
  EXPECT_EQ(body(pass1[3]), body(pass1[2]));
  EXPECT_EQ(body(pass1[4]), body(pass1[2]));
}

// ---- Restart of packet access ----

TEST_F(WorkerTest, AllAdaptersGoneRestartsPacketAccessUntilOneIsBack) {
  Ini("txInterval=10\n");
  AddAdapter("eth0", macA, 2);
  clock.onWait = [this](uint32_t n) {
    if (n == 3) {
      link.adapters[0].present = false;
      // A CDP neighbour heard just before: the restart forgets it with the table.
      agent.ports[0].cdpSeen = clock.Now();
    }
    if (n == 6) link.adapters[0].present = true;
  };
  ASSERT_EQ(RunPasses(9), 1);

  auto frames = link.Frames();
  auto normal = PassesOf(frames, [](const SentFrame& f) { return IsLldp(f) && LldpTtl(f) > 0; });
  EXPECT_EQ(normal, (std::vector<uint32_t>{1, 2, 3, 7, 8, 9}));
  EXPECT_TRUE(PassesOf(frames, IsCdp).empty());
  // Passes 4, 5 and 6 found no ready port and each restarted packet access.
  EXPECT_EQ(link.driverStartCalls.load(), 4u);
  EXPECT_EQ(link.driverStops.load(), 4u);  // three restarts and the shutdown
  // Every port was closed before the table was cleared and the driver restarted.
  EXPECT_EQ(link.openAtDriverStart.load(), 0u);
}

TEST_F(WorkerTest, RestartKeepsTheCounterSoDiscoveryWaitsForItsPass) {
  Ini("txInterval=30\n");  // no adapters at all
  ASSERT_EQ(RunPasses(7), 1);
  // Cycles on passes 1, 4 and 7; only the first two led to a restart (the stop
  // came during pass 7's wait).
  EXPECT_EQ(link.discoveries.load(), 3u);
  EXPECT_EQ(link.driverStartCalls.load(), 3u);
}

TEST_F(WorkerTest, FailedOpenIsRetriedAtTheNextCycle) {
  Ini("txInterval=10\n");
  AddAdapter("eth0", macA, 2).failOpen = true;
  clock.onWait = [this](uint32_t n) {
    if (n == 2) link.adapters[0].failOpen = false;
  };
  ASSERT_EQ(RunPasses(4), 1);
  auto normal = PassesOf(link.Frames(), [](const SentFrame& f) { return LldpTtl(f) > 0; });
  EXPECT_EQ(normal, (std::vector<uint32_t>{3, 4}));
  EXPECT_EQ(link.opens.load(), 3u);
}

TEST_F(WorkerTest, WithoutDriverOrLibraryTheAgentDoesNotStart) {
  link.driverStarts = false;
  link.libraryLoads = false;
  AddAdapter("eth0", macA, 2);
  EXPECT_EQ(Run({"lldp"}), 0);
  EXPECT_TRUE(agent.stopping);
  EXPECT_EQ(link.libraryLoadCalls.load(), 1u);
  EXPECT_EQ(pipe.stops.load(), 1);
  EXPECT_TRUE(link.Frames().empty());
}

TEST_F(WorkerTest, FallsBackToThePacketLibraryWhenTheDriverFails) {
  link.driverStarts = false;
  AddAdapter("eth0", macA, 2);
  ASSERT_EQ(RunPasses(1), 1);
  EXPECT_TRUE(agent.usePacketLibrary);
  EXPECT_EQ(link.libraryLoadCalls.load(), 1u);
  EXPECT_EQ(link.driverStartCalls.load(), 2u);
  EXPECT_FALSE(link.Frames().empty());
}

TEST_F(WorkerTest, PacketBitLoadsTheLibraryOnceAtStartup) {
  Ini("Packet=1\n");
  link.driverStarts = false;
  link.libraryLoads = false;
  EXPECT_EQ(Run({"lldp"}), 0);
  // With the bit set a failed library load at start-up is not retried.
  EXPECT_EQ(link.libraryLoadCalls.load(), 1u);
}

// ---- Start-up ----

TEST_F(WorkerTest, StartupRecordsTheModuleDirectory) {
  ASSERT_EQ(RunPasses(1), 1);
  EXPECT_EQ(directories, std::vector<std::string>{"/opt/torvane/"});
  auto path = registry.Read("lldp", "Path");
  ASSERT_TRUE(path.has_value());
  EXPECT_EQ(path->type, RegType::kString);
  EXPECT_EQ(path->data, "/opt/torvane/");
  EXPECT_EQ(std::string(FieldText(agent.settings.GetOutside().moduleDirectory)), "/opt/torvane/");
  EXPECT_EQ(agent.debugLevel.load(), 0);
}

TEST_F(WorkerTest, NoModuleDirectoryMeansNoStart) {
  facts.exe.reset();
  EXPECT_EQ(Run({"lldp"}), 0);
  facts.exe = std::string("lldp");
  EXPECT_EQ(Run({"lldp"}), 0);
  EXPECT_EQ(pipe.starts.load(), 0);
  EXPECT_EQ(link.driverStartCalls.load(), 0u);
}

TEST_F(WorkerTest, PendingChassisIdIsComputedBeforeTheCycle) {
  Ini("txCname=2\n");
  AddAdapter("eth0", macA, 2);
  // The interface table is empty at load; discovery fills it before the cycle.
  InterfaceEntry& row = link.tables.interfaces.entries[0];
  row.ifIndex = 9;
  row.ifType = 6;
  row.ifAdminStatus = 1;
  row.ifOperStatus = 5;
  row.ifPhysAddrLen = 6;
  const uint8_t rowMac[6] = {0x02, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE};
  std::memcpy(row.ifPhysAddress, rowMac, 6);
  link.tables.interfaces.count = 1;
  ASSERT_EQ(RunPasses(1), 1);

  EXPECT_FALSE(agent.settings.chassisIdPending);
  auto frames = link.Frames();
  ASSERT_FALSE(frames.empty());
  std::vector<uint8_t> chassis = LldpTlv(frames[0], 1);
  std::vector<uint8_t> expected{4, 0x02, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE};
  EXPECT_EQ(chassis, expected);
}

// ---- Console traces ----

TEST_F(WorkerTest, TracePortLineFormat) {
  Port& p = agent.ports[0];
  p.number = 0x1a;
  p.SetConnectionName("Ethernet connection 1");  // cut to 16 characters
  p.macAddress.store(Mac{0x00, 0x1b, 0x21, 0xaa, 0x0b, 0xcc});
  p.ifIndex = 7;
  p.state = kPortReady;
  p.linkStatus = kLinkConnected;
  InterfaceLists lists;
  auto add = [&](uint32_t ifIndex, std::array<uint8_t, 4> a) {
    AddressEntry& e = lists.addresses.entries[lists.addresses.count++];
    e.ifIndex = ifIndex;
    std::memcpy(&e.address, a.data(), 4);
  };
  add(7, {10, 1, 2, 3});
  add(3, {192, 168, 0, 1});
  add(7, {172, 16, 254, 100});
  agent.lists.Publish(lists);

  TracePort(agent, p, "lldp sent");
  Port& q = agent.ports[1];
  q.number = 0x105;
  q.SetConnectionName("eth0");
  q.state = kPortNotReady;
  q.linkStatus = kLinkDisconnected;
  TracePort(agent, q, "stopped");

  EXPECT_EQ(console.Text(),
            "      1a  "
            "Ethernet connect  "
            "00:1b:21:aa:0b:cc "
            "10.1.2.3         "
            "172.16.254.100   "
            " 1 1 lldp sent\n"
            "     105  "
            "eth0              "
            "00:00:00:00:00:00 "
            " 2 2 stopped\n");
}

TEST_F(WorkerTest, DebugRunTracesPassesSendsFailuresAndStoppedPorts) {
  Ini("txInterval=30\ntxCdp=1\n");
  AddAdapter("eth0", macA, 0);
  AddAdapter("eth1", macB, 0).failOpen = true;
  FakeAdapter& down = AddAdapter("eth2", Mac{0x00, 0x1B, 0x21, 0x0A, 0x0B, 0x03}, 0);
  down.openState = kPortNotReady;
  ASSERT_EQ(RunPasses(1, {"lldp", "-DEBUG"}), 1);
  EXPECT_EQ(agent.debugLevel.load(), 1);
  EXPECT_GE(link.matches.load(), 1u);

  std::string text = console.Text();
  // Pass 1 begins 2 s after the clock's start (1700000000 = 2023-11-14 22:13:20 UTC),
  // shown in the fake's local time (UTC+1).
  EXPECT_EQ(text.substr(0, 20), "2023-11-14 23:13:22\n");
  EXPECT_NE(text.find("       1  eth0              00:1b:21:0a:0b:01  1 1 lldp sent\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("       1  eth0              00:1b:21:0a:0b:01  1 1 cdp sent\n"),
            std::string::npos);
  EXPECT_NE(text.find("       2  eth1              00:1b:21:0a:0b:02  0 0 failed\n"),
            std::string::npos);
  EXPECT_NE(text.find("       3  eth2              00:1b:21:0a:0b:03  2 1 stopped\n"),
            std::string::npos);
}

TEST_F(WorkerTest, QuietWithoutDebug) {
  Ini("txCdp=1\n");
  AddAdapter("eth0", macA, 2);
  AddAdapter("eth1", macB, 3).failOpen = true;
  ASSERT_EQ(RunPasses(2), 1);
  EXPECT_EQ(console.Text(), "");
  EXPECT_EQ(link.matches.load(), 0u);
}

// ---- Helpers ----

TEST(ModuleDirectoryOf, KeepsTheDirectoryWithItsSlash) {
  char buffer[16];
  EXPECT_EQ(ModuleDirectoryOf("/opt/lldp", buffer, sizeof buffer), 5u);
  EXPECT_STREQ(buffer, "/opt/");
  // Fits with its terminator: 15 characters in 16 bytes.
  EXPECT_EQ(ModuleDirectoryOf("/opt/x/abcdefgh", buffer, sizeof buffer), 7u);
  EXPECT_STREQ(buffer, "/opt/x/");
  // What readlink gave may run on past a NUL.
  EXPECT_EQ(ModuleDirectoryOf(std::string_view("/a/b\0/c/d", 9), buffer, sizeof buffer), 3u);
  EXPECT_STREQ(buffer, "/a/");
}

TEST(ModuleDirectoryOf, EmptyWithoutASlashAfterTheFirstCharacter) {
  char buffer[16] = "garbage";
  EXPECT_EQ(ModuleDirectoryOf("lldp", buffer, sizeof buffer), 0u);
  EXPECT_STREQ(buffer, "");
  std::strcpy(buffer, "garbage");
  EXPECT_EQ(ModuleDirectoryOf("/lldp", buffer, sizeof buffer), 0u);
  EXPECT_STREQ(buffer, "");
}

TEST(ModuleDirectoryOf, FailsRatherThanCuttingALongPath) {
  char buffer[16] = "garbage";
  // 16 characters would need 17 bytes: cutting it would give a wrong directory.
  EXPECT_EQ(ModuleDirectoryOf("/opt/x/abcdefghi", buffer, sizeof buffer), 0u);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(ModuleDirectoryOf("/opt/torvane/bin/lldp", buffer, sizeof buffer), 0u);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(ModuleDirectoryOf("/opt/lldp", buffer, 0), 0u);
}

TEST(WindowsVersion, IsAnNtClassSystem) { EXPECT_EQ(WindowsVersion(), 10u); }

// ---- Threads ----

TEST_F(WorkerTest, StopFromAnotherThreadEndsTheRunCleanly) {
  Ini("txInterval=10\n");
  AddAdapter("eth0", macA, 2);
  clock.realWait = std::chrono::milliseconds(2);
  int result = -1;
  std::thread worker([&] { result = Run({"lldp", "-debug"}); });
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (clock.Waits() < 3 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  RequestStop(agent);
  worker.join();

  EXPECT_EQ(result, 1);
  EXPECT_GE(clock.Waits(), 3u);
  auto frames = link.Frames();
  ASSERT_FALSE(frames.empty());
  EXPECT_EQ(LldpTtl(frames.back()), 0);
  for (size_t i = 0; i + 1 < frames.size(); ++i) EXPECT_EQ(LldpTtl(frames[i]), 40);
  EXPECT_EQ(pipe.stops.load(), 1);
}

}  // namespace
}  // namespace torvane
