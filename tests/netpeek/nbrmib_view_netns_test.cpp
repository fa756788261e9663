// ctest-labels: netns
// The LLDP view end to end through this system: our agent in a namespace hears
// lldpd across a veth pair, a private snmpd there serves the LLDP-MIB through
// our nbrmib AgentX subagent, and the program, run in that namespace with no
// display, saves the neighbour. The row must show what lldpd advertises: its
// system name and description, its port, its management address and its
// capabilities.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "tests/netpeek/support/private_snmpd.h"
#include "tests/support/netns_lab.h"

namespace torvane::netpeek {
namespace {

using namespace std::chrono_literals;
using testing::NetSnmpObject;

const char kOurIf[] = "tvx0";
const char kPeerIf[] = "tvx1";
const char kOurAddress[] = "10.98.0.1";
const char kPeerAddress[] = "10.98.0.2";
const std::string kLldp = "1.0.8802.1.1.2.1.";

std::string HexOf(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

// The value of "<...>.<key>=value" in lldpcli's keyvalue output.
std::string KeyValue(const std::string& text, const std::string& key) {
  for (const std::string& line : testing::split(text, '\n')) {
    size_t eq = line.find('=');
    if (eq != std::string::npos && eq >= key.size() + 1 && line.compare(eq - key.size(), key.size(), key) == 0 &&
        line[eq - key.size() - 1] == '.')
      return line.substr(eq + 1);
  }
  return {};
}

class NbrmibView : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why = NetnsLab::Unavailable();
    if (!why.empty()) GTEST_SKIP() << why;
    if (std::system("command -v lldpd >/dev/null && command -v lldpcli >/dev/null && command -v snmpd >/dev/null "
                    "&& command -v snmpwalk >/dev/null") != 0)
      GTEST_SKIP() << "lldpd, snmpd and snmpwalk are needed";
    const std::string build = LLDP_BINARY_DIR;
    const std::string agentBinary = build + "/agent/lldp";
    library = build + "/nbrmib/libnbrmib.so";
    subagentBinary = build + "/nbrmib/nbrmib-agentx";
    for (const std::string& f : {agentBinary, library, subagentBinary})
      ASSERT_TRUE(std::filesystem::exists(f)) << f << " is not built";

    lab = std::make_unique<NetnsLab>();
    nsOurs = lab->AddNamespace("o");
    nsPeer = lab->AddNamespace("p");
    ASSERT_FALSE(nsOurs.empty());
    ASSERT_FALSE(nsPeer.empty());
    ASSERT_TRUE(lab->AddVeth(nsOurs, kOurIf, std::string(kOurAddress) + "/24", nsPeer, kPeerIf,
                             std::string(kPeerAddress) + "/24"));
    dir = lab->TempDir();
    ASSERT_FALSE(dir.empty());
    std::filesystem::permissions(dir, std::filesystem::perms(0755));
    for (const char* sub : {"lldpd", "agent", "registry", "snmp", "work"}) {
      std::filesystem::create_directory(dir + "/" + sub);
      std::filesystem::permissions(dir + "/" + sub, std::filesystem::perms(0755));
    }
    std::ofstream(dir + "/lldpd/empty.conf");
    lldpdSocket = dir + "/lldpd/lldpd.socket";
    pipe = dir + "/pipe";
    std::filesystem::copy_file(agentBinary, dir + "/agent/lldp");
    std::ofstream(dir + "/agent/lldp.ini") << "[lldp]\ntxInterval=10\n";

    lldpd = lab->Spawn(nsPeer, {"lldpd", "-d", "-O", dir + "/lldpd/empty.conf", "-u", lldpdSocket, "-I", kPeerIf},
                       {}, dir + "/lldpd.out");
    ASSERT_GT(lldpd, 0);
    ASSERT_TRUE(LldpdResumed(dir + "/lldpd.out"));
    ASSERT_TRUE(Eventually([&] { return Lldpcli("show interfaces").find(kPeerIf) != std::string::npos; }, 10s));
    for (const std::string& c : {std::string("configure system hostname peer-b.example"),
                                 std::string("configure system description 'Peer B test host'"),
                                 std::string("configure ports ") + kPeerIf +
                                     " lldp portidsubtype local B-port-1 description Uplink-B",
                                 std::string("configure system capabilities enabled router")})
      ASSERT_TRUE(lab->ShIn(nsPeer, "lldpcli -u " + lldpdSocket + " " + c)) << c;

    agent = lab->Spawn(nsOurs, {dir + "/agent/lldp", "-debug"},
                       {"TORVANE_REGISTRY=" + dir + "/registry", "TORVANE_PIPE=" + pipe, "TORVANE_PASS_MS=1000"},
                       dir + "/agent.out");
    ASSERT_GT(agent, 0);

    std::ofstream(dir + "/snmp/snmpd.conf") << "rocommunity tarlow 127.0.0.1\nmaster agentx\nagentXSocket " << dir
                                            << "/snmp/agentx.sock\n";
    snmpd = lab->Spawn(nsOurs,
                       {"snmpd", "-f", "-Lo", "-C", "-I", "-smux", "-c", dir + "/snmp/snmpd.conf", "-p",
                        dir + "/snmp/snmpd.pid", "udp:127.0.0.1:161"},
                       {"MIBS=", "SNMP_PERSISTENT_DIR=" + dir + "/snmp/state"}, dir + "/snmpd.out");
    ASSERT_GT(snmpd, 0);
    ASSERT_TRUE(Eventually([&] { return std::filesystem::exists(dir + "/snmp/agentx.sock"); }, 10s));
    subagent = lab->Spawn(nsOurs, {subagentBinary, "-x", dir + "/snmp/agentx.sock", "-l", library, "-p", "1"},
                          {"TORVANE_PIPE=" + pipe, "SNMP_PERSISTENT_DIR=" + dir + "/snmp/client"},
                          dir + "/subagent.out");
    ASSERT_GT(subagent, 0);

    // lldpd sends at once when asked; our agent then lists it.
    ASSERT_TRUE(Eventually(
        [&] {
          lab->ShIn(nsPeer, "lldpcli -u " + lldpdSocket + " update");
          std::vector<NetSnmpObject> names = Walk(kLldp + "4.1.1.9");
          return names.size() == 1 && testing::hex_to_bytes(names[0].value) == "peer-b.example";
        },
        30s))
        << Snmpwalk(kLldp + "4") << testing::read_file(dir + "/agent.out");
  }

  void TearDown() override {
    if (lab && subagent > 0) lab->Stop(subagent, SIGTERM, 5s);
    if (lab && snmpd > 0) lab->Stop(snmpd, SIGTERM, 10s);
    if (lab && agent > 0) lab->Stop(agent, SIGINT, 10s);
    if (lab && lldpd > 0) lab->Stop(lldpd, SIGTERM, 10s);
    if (HasFailure() && lab)
      std::printf("--- snmpd\n%s\n--- subagent\n%s\n--- agent\n%s\n", testing::read_file(dir + "/snmpd.out").c_str(),
                  testing::read_file(dir + "/subagent.out").c_str(), testing::read_file(dir + "/agent.out").c_str());
    lab.reset();
  }

  std::string Lldpcli(const std::string& command) {
    return lab->Capture(nsPeer, "lldpcli -u " + lldpdSocket + " -f keyvalue " + command);
  }
  std::string Snmpwalk(const std::string& oid) {
    return lab->Capture(nsOurs, "MIBS= SNMP_PERSISTENT_DIR=" + dir + "/snmp/tools snmpwalk -v1 -c tarlow -On -Ox "
                                "127.0.0.1 " + oid);
  }
  std::vector<NetSnmpObject> Walk(const std::string& oid) { return testing::parse_net_snmp(Snmpwalk(oid)); }

  std::unique_ptr<NetnsLab> lab;
  std::string nsOurs, nsPeer, dir, library, subagentBinary, lldpdSocket, pipe;
  pid_t agent = -1, lldpd = -1, snmpd = -1, subagent = -1;
};

TEST_F(NbrmibView, RowShowsWhatLldpdAdvertises) {
  const std::string work = dir + "/work";
  std::string out = lab->Capture(nsOurs, "cd " + work + " && env -u DISPLAY -u WAYLAND_DISPLAY " NETPEEK_BINARY
                                         " -s 127.0.0.1 lldp; echo exit=$?");
  EXPECT_NE(out.find("exit=0"), std::string::npos) << out;
  const std::string saved = testing::read_file(work + "/127.0.0.1 - LLDP discovered Neighbors: 1.txt");
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
  EXPECT_EQ(row[4], HexOf("B-port"));
  EXPECT_EQ(row[5], "Uplink-B");
  EXPECT_EQ(row[6], kPeerAddress);
  EXPECT_EQ(row[9], "Peer B test host");
  // Capabilities: the frame's bits as lldpd names them, enabled upper case.
  static const std::pair<const char*, char> kLetters[] = {{"Other", 'O'}, {"Repeater", 'E'}, {"Bridge", 'B'},
                                                          {"Wlan", 'A'},  {"Router", 'R'},   {"Tel", 'T'},
                                                          {"Docsis", 'C'}, {"Station", 'S'}};
  std::string letters;
  for (const auto& [name, letter] : kLetters) {
    const std::string state = KeyValue(self, std::string("chassis.") + name + ".enabled");
    if (state == "on") letters += letter;
    if (state == "off") letters += static_cast<char>(letter - 'A' + 'a');
  }
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
