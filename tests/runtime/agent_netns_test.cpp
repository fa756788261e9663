// ctest-labels: netns
// The agent as a program: the built `lldp -debug` runs in one namespace with a
// veth port and a tap port, tshark captures on the veth's far end in another,
// and the test reads what the agent sends out through the tap. Run once with
// each packet back-end.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "records/pipe_client.h"
#include "tests/support/peer_lab.h"
#include "tests/support/temp_dir.h"

namespace torvane {
namespace {

using namespace std::chrono_literals;
using testing::ReadFileText;

std::vector<std::vector<std::string>> Rows(const std::string& csv) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(csv);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.empty()) continue;
    std::vector<std::string> cells;
    std::string cell;
    std::istringstream cs(line);
    while (std::getline(cs, cell, ',')) cells.push_back(cell);
    if (!line.empty() && line.back() == ',') cells.push_back("");
    rows.push_back(cells);
  }
  return rows;
}

class AgentNetns : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    std::string why = PeerLab::Unavailable({"tshark", "ethtool"});
    if (!why.empty()) GTEST_SKIP() << why;
    ASSERT_EQ(PeerLab::Unbuilt({"agent/lldp"}), "");
    lab = std::make_unique<PeerLab>();
    ASSERT_EQ(lab->Open({"a", "b", "tva0", "tvb0", "10.94.0.1", "10.94.0.2"}), "");
    nsA = lab->ours;
    nsB = lab->peer;
    dir = lab->files.root;
    // A copy of the agent; each test writes the lldp.ini beside it.
    ASSERT_TRUE(lab->InstallAgent(""));
    ourMac = lab->MacOf(nsA, "tva0");
  }

  void TearDown() override { lab.reset(); }

  void WriteIni(const std::string& extra) {
    std::ofstream(lab->files.AgentIni()) << "[lldp]\ntxInterval=10\ntxCdp=1\ntxCname=3\nPacket="
                                         << GetParam() << "\n"
                                         << extra;
  }

  pid_t StartAgent() { return lab->StartAgent(nsA, 500); }

  std::string AgentOutput() { return lab->LastLogText("agent"); }

  // Stops the agent as Ctrl+C does; true when it ended by itself with exit code 0.
  bool StopAgent(pid_t pid) {
    std::optional<int> status = lab->Stop(pid, SIGINT, 10s);
    return status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
  }

  std::unique_ptr<PeerLab> lab;
  std::string nsA, nsB, dir, ourMac;
};

TEST_P(AgentNetns, AdvertisesEachPortAndSaysGoodbyeOnStop) {
  // The tap port: held open so that it has carrier, at 100 Mbit/s half duplex.
  NamespaceThread tapThread(nsA, false);
  std::unique_ptr<TapDevice> tap;
  ASSERT_TRUE(tapThread.Call([&] { tap = std::make_unique<TapDevice>("tvtap0"); }));
  ASSERT_TRUE(tap && tap->ok());
  ASSERT_TRUE(lab->ShIn(nsA, "ip link set tvtap0 up"));
  ASSERT_TRUE(lab->ShIn(nsA, "ethtool -s tvtap0 speed 100 duplex half autoneg off"));

  WriteIni("");
  pid_t tshark = lab->Spawn(nsB, {"tshark", "-i", "tvb0", "-w", dir + "/veth.pcap"}, {},
                            dir + "/tshark.out");
  ASSERT_GT(tshark, 0);
  ASSERT_TRUE(Eventually([&] { return ReadFileText(dir + "/tshark.out").find("Capturing on") !=
                                      std::string::npos; }, 15s))
      << ReadFileText(dir + "/tshark.out");

  pid_t agent = StartAgent();
  ASSERT_GT(agent, 0);
  ASSERT_TRUE(Eventually([&] { return CountOf(AgentOutput(), "lldp sent") >= 6; }, 15s))
      << AgentOutput();

  // What the agent sent out through the tap, until its stop.
  std::vector<Bytes> tapLldp;
  tapThread.Call([&] {
    while (auto f = tap->Read(300ms))
      if (LldpTlv(*f, 3)) tapLldp.push_back(*f);
  });
  ASSERT_TRUE(StopAgent(agent)) << AgentOutput();
  tapThread.Call([&] {
    while (auto f = tap->Read(300ms))
      if (LldpTlv(*f, 3)) tapLldp.push_back(*f);
  });
  std::this_thread::sleep_for(500ms);
  lab->Stop(tshark, SIGINT, 10s);
  tapThread.Call([&] { tap.reset(); });

  std::string out = AgentOutput();
  EXPECT_EQ(out.rfind("Debugging LLDP Agent.\n", 0), 0u) << out;
  EXPECT_EQ(CountOf(out, "Stopping LLDP Agent.\n"), 1u);
  EXPECT_NE(out.find(GetParam() ? "PCAP libpcap" : "af_packet driver started"), std::string::npos);
  EXPECT_EQ(CountOf(out, "failed"), 0u) << out;

  // The veth port, as tshark decodes it.
  auto lldp = Rows(lab->Capture(nsB, "tshark -r " + dir + "/veth.pcap -Y lldp -T fields -E separator=, "
                                     "-e eth.src -e lldp.chassis.subtype -e lldp.chassis.id.ip4 "
                                     "-e lldp.port.subtype -e lldp.port.id.mac -e lldp.mgn.addr.ip4 "
                                     "-e lldp.ieee.802_3.pmd_mau_type "
                                     "-e lldp.ieee.802_3.max_frame_size -e lldp.time_to_live"));
  ASSERT_GE(lldp.size(), 3u);
  for (size_t i = 0; i < lldp.size(); ++i) {
    const auto& r = lldp[i];
    ASSERT_EQ(r.size(), 9u);
    EXPECT_EQ(r[0], ourMac);
    EXPECT_EQ(r[1], "5");  // chassis ID: a network address
    EXPECT_EQ(r[2], "10.94.0.1");
    EXPECT_EQ(r[3], "3");  // port ID: the MAC address
    EXPECT_EQ(r[4], ourMac);
    if (i + 1 < lldp.size()) {
      EXPECT_EQ(r[5], "10.94.0.1");
      EXPECT_EQ(r[6], "0x0036");  // MAU type 54, 10GBASE-T: the veth's 10 Gbit/s
      EXPECT_EQ(r[7], "1518");    // MTU + 18
      EXPECT_EQ(r[8], "40");      // txInterval x 4
    } else {
      EXPECT_EQ(r[8], "0");  // the shutdown frame
    }
  }
  auto cdp = Rows(lab->Capture(nsB, "tshark -r " + dir + "/veth.pcap -Y cdp -T fields -E separator=, "
                                    "-e eth.src -e eth.dst -e cdp.deviceid -e cdp.ttl"));
  ASSERT_GE(cdp.size(), 2u);
  for (const auto& r : cdp) {
    ASSERT_EQ(r.size(), 4u);
    EXPECT_EQ(r[0], ourMac);
    EXPECT_EQ(r[1], "01:00:0c:cc:cc:cc");
    EXPECT_FALSE(r[2].empty());
  }

  // The tap port: MAU type 15, 100BASE-TX half duplex.
  ASSERT_GE(tapLldp.size(), 2u);
  auto macPhy = LldpTlv(tapLldp.front(), 127, 0x00120F, 1);
  ASSERT_TRUE(macPhy);
  ASSERT_EQ(macPhy->size(), 5u);
  EXPECT_EQ(((*macPhy)[3] << 8) | (*macPhy)[4], 15);
  auto ttl = LldpTlv(tapLldp.back(), 3);
  ASSERT_TRUE(ttl);
  EXPECT_EQ(*ttl, (Bytes{0, 0}));
}

TEST_P(AgentNetns, DeletedVethIsReopenedByALaterCycle) {
  WriteIni("");
  pid_t agent = StartAgent();
  ASSERT_GT(agent, 0);
  ASSERT_TRUE(Eventually([&] { return CountOf(AgentOutput(), "lldp sent") >= 1; }, 15s))
      << AgentOutput();
  ASSERT_TRUE(lab->Sh("ip -n " + nsA + " link del tva0"));
  ASSERT_TRUE(Eventually([&] { return CountOf(AgentOutput(), "tva0 stopped\n") >= 1; }, 10s))
      << AgentOutput();
  EXPECT_EQ(CountOf(AgentOutput(), "tva0 recv data failed\n"), 1u) << AgentOutput();
  // A pass or two with no port at all: the worker restarts packet access.
  std::this_thread::sleep_for(1200ms);
  size_t opensBefore = CountOf(AgentOutput(), "tva0 started receiver");
  ASSERT_TRUE(lab->Relink());

  // The agent's frames reach the new far end.
  NamespaceThread peer(nsB, false);
  std::optional<Bytes> frame;
  ASSERT_TRUE(peer.Call(
      [&] {
        RawPort far("tvb0");
        auto end = std::chrono::steady_clock::now() + 10s;
        while (!frame && std::chrono::steady_clock::now() < end) {
          auto f = far.Receive(1s);
          if (f && LldpTlv(*f, 3)) frame = f;
        }
      },
      15s));
  ASSERT_TRUE(frame) << AgentOutput();
  EXPECT_GT(CountOf(AgentOutput(), "tva0 started receiver"), opensBefore);
  ASSERT_TRUE(StopAgent(agent)) << AgentOutput();
  EXPECT_EQ(CountOf(AgentOutput(), "Stopping LLDP Agent.\n"), 1u);
}

// A bond or a VLAN parent changes its MAC address with the link up: the port
// reopens under the new address at the next cycle.
TEST_P(AgentNetns, NewAdapterAddressReachesFramesAndPipeWithinTwoCycles) {
  WriteIni("");
  pid_t agent = StartAgent();
  ASSERT_GT(agent, 0);
  ASSERT_TRUE(Eventually([&] { return CountOf(AgentOutput(), "lldp sent") >= 1; }, 15s))
      << AgentOutput();
  // The port record as the pipe gives it (code 14): the MAC at offset 33.
  PipeConnection pipe;
  auto pipeMac = [&]() -> std::string {
    uint32_t port = 1;
    uint8_t record[228] = {};
    if (!pipe.IsOpen() && !pipe.Open(dir + "/pipe")) return "";
    if (PipeQuery(pipe, 14, 4, &port, sizeof record, record) != 1) return "";
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", record[33], record[34],
                  record[35], record[36], record[37], record[38]);
    return text;
  };
  ASSERT_EQ(pipeMac(), ourMac);

  NamespaceThread peer(nsB, false);
  std::unique_ptr<RawPort> far;
  ASSERT_TRUE(peer.Call([&] { far = std::make_unique<RawPort>("tvb0"); }));
  ASSERT_TRUE(far && far->ok());
  const std::string newMac = "02:5e:10:aa:bb:cc";
  const Bytes newBytes = MacBytes(newMac);
  size_t sentBefore = CountOf(AgentOutput(), "lldp sent");
  ASSERT_TRUE(lab->ShIn(nsA, "ip link set tva0 address " + newMac));
  ASSERT_EQ(lab->Capture(nsA, "cat /sys/class/net/tva0/operstate"), "up\n");

  // LLDP frames on the wire until three carry the new address (bounded).
  std::vector<Bytes> frames;
  size_t cyclesToNew = 0;
  ASSERT_TRUE(peer.Call(
      [&] {
        size_t fresh = 0;
        auto end = std::chrono::steady_clock::now() + 10s;
        while (fresh < 3 && std::chrono::steady_clock::now() < end) {
          auto f = far->Receive(1s);
          if (!f || !LldpTlv(*f, 3)) continue;
          frames.push_back(*f);
          if (Bytes(f->begin() + 6, f->begin() + 12) != newBytes) continue;
          if (fresh++ == 0) cyclesToNew = CountOf(AgentOutput(), "lldp sent") - sentBefore;
        }
        far.reset();
      },
      15s));
  size_t firstNew = frames.size();
  for (size_t i = 0; i < frames.size() && firstNew == frames.size(); ++i)
    if (Bytes(frames[i].begin() + 6, frames[i].begin() + 12) == newBytes) firstNew = i;
  ASSERT_LT(firstNew, frames.size()) << AgentOutput();
  // The cycle that sends the first new frame has not traced it yet, or just has.
  EXPECT_LE(cyclesToNew, 2u) << AgentOutput();
  for (size_t i = firstNew; i < frames.size(); ++i) {
    EXPECT_EQ(Bytes(frames[i].begin() + 6, frames[i].begin() + 12), newBytes) << "frame " << i;
    Bytes portId{3};
    portId.insert(portId.end(), newBytes.begin(), newBytes.end());
    EXPECT_EQ(LldpTlv(frames[i], 2), portId) << "frame " << i;
  }
  EXPECT_EQ(pipeMac(), newMac);
  ASSERT_TRUE(StopAgent(agent)) << AgentOutput();
}

INSTANTIATE_TEST_SUITE_P(BackEnds, AgentNetns, ::testing::Values(0, 1),
                         [](const ::testing::TestParamInfo<int>& p) {
                           return p.param ? "Library" : "Sockets";
                         });

}  // namespace
}  // namespace torvane
