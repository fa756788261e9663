// ctest-labels: netns
// The LLDP view against lldpd's own AgentX subagent: in one namespace a private
// snmpd (master agentx) with lldpd as its subagent, in another lldpd as the
// neighbour across a veth pair. The program, run in the first namespace with no
// display, saves the neighbour; the file is checked against what the neighbour
// advertises and what snmpwalk reads from the agent.
//
// lldpd serves the LLDP-MIB as the MIB writes it, where our subagent keeps the
// forms this viewer has always read; the view shows what it can of lldpd's:
// - lldpLocPortNum is the interface index, not a position: the view names the
//   local port by its index, so the row shows the port's description.
// - capability maps are BITS (bit 0 "other" is the top bit of the first byte,
//   one byte when no bit past 7 is set): the view folds the bytes as the frame's
//   16-bit field, as our subagent serves them, so lldpd's maps come out as other
//   letters (router enabled, 0x08, reads as "A"; bridge, wlan, router and station
//   supported, 0x39, as "oArt").
// - management addresses in lldpLocManAddrTable and lldpRemManAddrTable carry a
//   length arc before the address (an OCTET STRING index): the view reads only
//   subtype and four arcs, so it shows no local address and 0.0.0.0.
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

const char kViewerIf[] = "tvw0";
const char kPeerIf[] = "tvw1";
const char kViewerAddress[] = "10.97.0.1";
const char kPeerAddress[] = "10.97.0.2";
const std::string kLldp = "1.0.8802.1.1.2.1.";

class LldpdSubagent : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why = PeerLab::Unavailable({"lldpd", "lldpcli", "snmpd", "snmpwalk"});
    if (!why.empty()) GTEST_SKIP() << why;
    lab = std::make_unique<PeerLab>();
    ASSERT_EQ(lab->Open({"v", "p", kViewerIf, kPeerIf, kViewerAddress, kPeerAddress}), "");
    nsViewer = lab->ours;
    nsPeer = lab->peer;

    // snmpd on the viewer namespace's own 127.0.0.1, port 161, with lldpd as its
    // AgentX subagent (lldpd's own user must reach the socket).
    snmpd = lab->StartSnmpd(nsViewer,
                            "rocommunity tarlow 127.0.0.1\nmaster agentx\nagentXSocket " + lab->files.AgentxSocket() +
                                "\nagentXPerms 0777 0755\n",
                            "161");
    ASSERT_GT(snmpd, 0);
    ASSERT_TRUE(lab->AgentxSocketReady(10s)) << lab->LastLogText("snmpd");

    peer = lab->StartLldpd(nsPeer, kPeerIf, "lldpd");
    viewer = lab->StartLldpd(nsViewer, kViewerIf, "lldpd-viewer", {"-x", "-X", lab->files.AgentxSocket()});
    ASSERT_GT(peer, 0);
    ASSERT_GT(viewer, 0);
    ASSERT_TRUE(lab->LldpdReady(nsPeer, "lldpd", kPeerIf, 10s)) << lab->LastLogText("lldpd");
    // What the neighbour advertises, set here so that each field is known.
    ASSERT_TRUE(lab->ConfigureLldpd(nsPeer, "lldpd", kPeerIf,
                                    {"peer-b.example", "Peer B test host", "B-port-1", "Uplink-B", "router"}));
    ASSERT_TRUE(Eventually(
        [&] {
          lab->LldpcliDo(nsPeer, "lldpd", "update");
          std::vector<NetSnmpObject> names = Walk(kLldp + "4.1.1.9");
          return names.size() == 1 && testing::hex_to_bytes(names[0].value) == "peer-b.example";
        },
        30s))
        << lab->LastLogText("lldpd-viewer") << Snmpwalk(kLldp + "4");
  }

  void TearDown() override {
    if (!lab) return;
    lab->StopAll();
    if (HasFailure()) std::printf("%s", lab->LogsOf({"snmpd", "lldpd-viewer"}).c_str());
    lab.reset();
  }

  std::string Snmpwalk(const std::string& oid) { return testing::lab_snmpwalk(*lab, nsViewer, oid); }
  std::vector<NetSnmpObject> Walk(const std::string& oid) { return testing::lab_walk(*lab, nsViewer, oid); }

  std::unique_ptr<PeerLab> lab;
  std::string nsViewer, nsPeer;
  pid_t snmpd = -1, peer = -1, viewer = -1;
};

TEST_F(LldpdSubagent, ViewShowsTheNeighbour) {
  // The program as a person runs it: default port 161, no display.
  std::string out = testing::run_lldp_view(*lab, nsViewer);
  EXPECT_NE(out.find("exit=0"), std::string::npos) << out;
  const std::string saved = testing::saved_lldp_view(*lab);
  std::vector<std::string> lines = testing::split(saved, '\n');
  ASSERT_EQ(lines.size(), 2u) << saved;  // one row and the end of the file
  std::vector<std::string> row = testing::split(lines[0], '\t');
  ASSERT_EQ(row.size(), 12u) << lines[0];
  std::printf("saved: %s\n", lines[0].c_str());

  // What lldpd serves for that neighbour.
  std::vector<NetSnmpObject> rem = Walk(kLldp + "4.1.1");
  std::vector<NetSnmpObject> names = Walk(kLldp + "4.1.1.9");
  ASSERT_EQ(names.size(), 1u);
  const std::string index = names[0].oid.substr((kLldp + "4.1.1.9.").size());  // time mark, port, remote index
  std::vector<std::string> arcs = testing::split(index, '.');
  ASSERT_EQ(arcs.size(), 3u) << index;
  auto value = [&](const std::string& column) {
    for (const NetSnmpObject& o : rem)
      if (o.oid == kLldp + "4.1.1." + column + "." + index) return o.value;
    return std::string("(none)");
  };

  // The local port by its number: lldpd numbers ports by interface index.
  std::vector<NetSnmpObject> local = Walk(kLldp + "3.7.1.4." + arcs[1]);
  ASSERT_EQ(local.size(), 1u);
  EXPECT_EQ(row[0], testing::hex_to_bytes(local[0].value));
  EXPECT_NE(row[0], arcs[1]);
  // Its address has a length arc before it: not read.
  std::vector<NetSnmpObject> localAddresses = Walk(kLldp + "3.8.1.5");
  ASSERT_FALSE(localAddresses.empty());
  EXPECT_EQ(testing::split(localAddresses[0].oid, '.').size(), 17u) << localAddresses[0].oid;
  EXPECT_EQ(row[1], "");

  // Chassis: the peer's MAC; name, port and description as configured.
  const std::string peerMac =
      lab->Capture(nsPeer, std::string("cat /sys/class/net/") + kPeerIf + "/address").substr(0, 17);
  std::string macHex = peerMac;
  std::erase(macHex, ':');
  EXPECT_EQ(row[2], macHex);
  EXPECT_EQ(testing::normal_hex(value("5")), testing::normal_hex(peerMac.substr(0, 2) + " " + peerMac.substr(3, 2) +
                                                                 " " + peerMac.substr(6, 2) + " " +
                                                                 peerMac.substr(9, 2) + " " + peerMac.substr(12, 2) +
                                                                 " " + peerMac.substr(15, 2)));
  EXPECT_EQ(row[3], "peer-b.example");
  EXPECT_EQ(row[4], testing::bytes_to_hex("B-port"));  // the first 6 bytes of the port ID "B-port-1"
  EXPECT_EQ(row[5], "Uplink-B");
  EXPECT_EQ(row[9], "Peer B test host");

  // The neighbour's address: the name carries a length arc (20 arcs), skipped.
  std::vector<NetSnmpObject> remAddresses = Walk(kLldp + "4.2.1.3");
  ASSERT_FALSE(remAddresses.empty());
  EXPECT_EQ(remAddresses[0].oid, kLldp + "4.2.1.3." + index + ".1.4." + kPeerAddress);
  EXPECT_EQ(row[6], "0.0.0.0");

  // Capabilities as BITS: router enabled is bit 4, 0x08 in the first byte; read
  // as the frame's field that is 0x08 "A" (or, when lldpd sends two bytes, bits
  // of the second byte, which the letters do not cover).
  const std::string supported = testing::hex_to_bytes(value("11"));
  const std::string enabled = testing::hex_to_bytes(value("12"));
  ASSERT_FALSE(enabled.empty());
  EXPECT_EQ(static_cast<unsigned char>(enabled[0]) & 0x08, 0x08) << value("12");
  auto fold = [](const std::string& bytes) {
    unsigned v = 0;
    for (size_t i = 0; i < bytes.size() && i < 4; ++i) v = (v << 8) | static_cast<unsigned char>(bytes[i]);
    return v;
  };
  std::string letters;
  for (int bit = 0; bit < 8; ++bit) {
    const unsigned mask = 1u << bit;
    if (fold(enabled) & mask)
      letters += "OEBARTCS"[bit];
    else if (fold(supported) & mask)
      letters += static_cast<char>("OEBARTCS"[bit] - 'A' + 'a');
  }
  EXPECT_EQ(row[7], letters) << "supported " << value("11") << ", enabled " << value("12");
  EXPECT_EQ(row[7].find('R'), std::string::npos);  // router is not read as R

  std::vector<NetSnmpObject> mau = Walk(kLldp + "5.4623.1.3.1.1.4");
  std::printf("MAU type: %s\n", mau.empty() ? "(none)" : mau[0].value.c_str());
  // A veth reports a 10 Gb/s MAU type; the view's modes end at "1000M ".
  if (!mau.empty() && std::stoul(mau[0].value) > 20) {
    EXPECT_EQ(row[10].rfind("1000M ", 0), 0u) << row[10];
  }
  std::vector<NetSnmpObject> vlan = Walk(kLldp + "5.32962.1.3.1.1.1");
  EXPECT_EQ(row[11], vlan.empty() || vlan[0].value == "0" ? "" : vlan[0].value);
}

}  // namespace
}  // namespace torvane::netpeek
