// ctest-labels: netns
// The LLDP view end to end through this system: our agent in a namespace hears
// lldpd across a veth pair, a private snmpd there serves the LLDP-MIB through
// our nbrmib AgentX subagent, and the program, run in that namespace with no
// display, saves the neighbour. The row must show what lldpd advertises: its
// system name and description, its port, its management address and its
// capabilities.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "tests/netpeek/support/lab_view.h"
#include "tests/netpeek/support/private_snmpd.h"
#include "tests/support/peer_lab.h"

namespace torvane::netpeek {
namespace {

using namespace std::chrono_literals;
using testing::NetSnmpObject;

const char kOurIf[] = "tvx0";
const char kPeerIf[] = "tvx1";
const char kOurAddress[] = "10.98.0.1";
const char kPeerAddress[] = "10.98.0.2";
const std::string kLldp = "1.0.8802.1.1.2.1.";

class NbrmibView : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why = PeerLab::Unavailable({"lldpd", "lldpcli", "snmpd", "snmpwalk"});
    if (!why.empty()) GTEST_SKIP() << why;
    library = PeerLab::Built("nbrmib/libnbrmib.so");
    ASSERT_EQ(PeerLab::Unbuilt({"agent/lldp", "nbrmib/libnbrmib.so", "nbrmib/nbrmib-agentx"}), "");

    lab = std::make_unique<PeerLab>();
    ASSERT_EQ(lab->Open({"o", "p", kOurIf, kPeerIf, kOurAddress, kPeerAddress}), "");
    nsOurs = lab->ours;
    nsPeer = lab->peer;
    ASSERT_TRUE(lab->InstallAgent("[lldp]\ntxInterval=10\n"));

    lldpd = lab->StartLldpd(nsPeer, kPeerIf, "lldpd");
    ASSERT_GT(lldpd, 0);
    ASSERT_TRUE(lab->LldpdReady(nsPeer, "lldpd", kPeerIf, 10s));
    ASSERT_TRUE(lab->ConfigureLldpd(nsPeer, "lldpd", kPeerIf,
                                    {"peer-b.example", "Peer B test host", "B-port-1", "Uplink-B", "router"}));

    agent = lab->StartAgent(nsOurs, 1000);
    ASSERT_GT(agent, 0);

    snmpd = lab->StartSnmpd(
        nsOurs, "rocommunity tarlow 127.0.0.1\nmaster agentx\nagentXSocket " + lab->files.AgentxSocket() + "\n", "161");
    ASSERT_GT(snmpd, 0);
    ASSERT_TRUE(lab->AgentxSocketReady(10s));
    subagent = lab->StartSubagent(nsOurs, library);
    ASSERT_GT(subagent, 0);

    // lldpd sends at once when asked; our agent then lists it.
    ASSERT_TRUE(Eventually(
        [&] {
          lab->LldpcliDo(nsPeer, "lldpd", "update");
          std::vector<NetSnmpObject> names = Walk(kLldp + "4.1.1.9");
          return names.size() == 1 && testing::hex_to_bytes(names[0].value) == "peer-b.example";
        },
        30s))
        << Snmpwalk(kLldp + "4") << lab->LastLogText("agent");
  }

  void TearDown() override {
    if (!lab) return;
    lab->StopAll();
    if (HasFailure()) std::printf("%s", lab->LogsOf({"snmpd", "subagent", "agent"}).c_str());
    lab.reset();
  }

  std::string Lldpcli(const std::string& command) { return lab->Lldpcli(nsPeer, "lldpd", command); }
  std::string Snmpwalk(const std::string& oid) { return testing::lab_snmpwalk(*lab, nsOurs, oid); }
  std::vector<NetSnmpObject> Walk(const std::string& oid) { return testing::lab_walk(*lab, nsOurs, oid); }

  std::unique_ptr<PeerLab> lab;
  std::string nsOurs, nsPeer, library;
  pid_t agent = -1, lldpd = -1, snmpd = -1, subagent = -1;
};

TEST_F(NbrmibView, RowShowsWhatLldpdAdvertises) {
  std::string out = testing::run_lldp_view(*lab, nsOurs);
  EXPECT_NE(out.find("exit=0"), std::string::npos) << out;
  const std::string saved = testing::saved_lldp_view(*lab);
  std::vector<std::string> lines = testing::split(saved, '\n');
  ASSERT_EQ(lines.size(), 2u) << saved;
  std::vector<std::string> row = testing::split(lines[0], '\t');
  ASSERT_EQ(row.size(), 12u) << lines[0];
  std::printf("saved: %s\n", lines[0].c_str());

  // What lldpd says of itself.
  const std::string self = Lldpcli("show chassis");
  const std::string peerMac = lab->Capture(nsPeer, std::string("cat /sys/class/net/") + kPeerIf + "/address");
  std::string macHex = peerMac.substr(0, 17);
  std::erase(macHex, ':');
  EXPECT_EQ(row[2], macHex);
  EXPECT_EQ(row[3], "peer-b.example");
  EXPECT_EQ(row[4], testing::bytes_to_hex("B-port"));
  EXPECT_EQ(row[5], "Uplink-B");
  EXPECT_EQ(row[6], kPeerAddress);
  EXPECT_EQ(row[9], "Peer B test host");
  // Capabilities: the frame's bits as lldpd names them, enabled upper case.
  const std::string letters = CapabilityLetters(self);
  ASSERT_NE(letters.find('R'), std::string::npos) << self;
  EXPECT_EQ(row[7], letters);

  // Our side: the local port by its number, and its address.
  std::vector<NetSnmpObject> names = Walk(kLldp + "4.1.1.9");
  ASSERT_EQ(names.size(), 1u);
  std::vector<std::string> arcs = testing::split(names[0].oid.substr((kLldp + "4.1.1.9.").size()), '.');
  ASSERT_EQ(arcs.size(), 3u);
  std::vector<NetSnmpObject> local = Walk(kLldp + "3.7.1.4." + arcs[1]);
  ASSERT_EQ(local.size(), 1u);
  EXPECT_EQ(row[0], testing::hex_to_bytes(local[0].value));
  EXPECT_EQ(row[1], kOurAddress);
}

}  // namespace
}  // namespace torvane::netpeek
