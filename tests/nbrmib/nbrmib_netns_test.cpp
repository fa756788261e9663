// ctest-labels: netns
// The LLDP-MIB end to end, once for each host: our agent in a namespace with
// lldpd as its neighbour, a private snmpd on the namespace's 127.0.0.1 (its own
// configuration, AgentX socket and persistent folder in a temporary folder), and
// the library served either by the AgentX subagent or by snmpd's dlmod. What
// snmpwalk shows is compared with what lldpd advertises; SETs reach lldp.ini and
// the wire; the agent and the hosts are stopped and started under the walks.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/peer_lab.h"
#include "tests/support/temp_dir.h"

namespace torvane {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing::ReadFileText;

const char kOurIf[] = "tvn0";
const char kPeerIf[] = "tvn1";
const char kOurAddress[] = "10.96.0.1";
const char kPeerAddress[] = "10.96.0.2";
const char kPort[] = "19161";
const std::string kLldp = ".1.0.8802.1.1.2.1.";

enum class Host { kAgentX, kDlmod };

// snmpwalk -On output: ".1.0.8802... = TYPE: value" (or "= value" for an empty
// string), in the order printed.
using Walk = std::vector<std::pair<std::string, std::string>>;
Walk ParseWalk(const std::string& text) {
  Walk out;
  for (const std::string& line : Lines(text)) {
    size_t eq = line.find(" = ");
    if (line.empty() || line[0] != '.' || eq == std::string::npos) continue;
    out.emplace_back(line.substr(0, eq), line.substr(eq + 3));
  }
  return out;
}
std::map<std::string, std::string> AsMap(const Walk& w) { return {w.begin(), w.end()}; }

// "aa:bb:cc:dd:ee:ff" as net-snmp prints six bytes: "Hex-STRING: AA BB CC DD EE FF ".
std::string HexString(const std::string& mac) {
  std::string out = "Hex-STRING: ";
  for (char c : mac) out += c == ':' ? ' ' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out + " ";
}

// lldpcli's capability names as the bits our agent keeps (the LLDP TLV's).
std::string CapabilityHex(const std::string& text, bool enabledOnly) {
  unsigned v = 0;
  for (const LldpcliCapability& c : kLldpcliCapabilities) {
    std::string state = LldpcliValue(text, std::string("chassis.") + c.name + ".enabled");
    if (state == "on" || (!enabledOnly && state == "off")) v |= c.bit;
  }
  char buf[32];
  std::snprintf(buf, sizeof buf, "Hex-STRING: %02X ", v);
  return buf;
}

class NbrmibNetns : public ::testing::TestWithParam<Host> {
 protected:
  void SetUp() override {
    std::string why = PeerLab::Unavailable({"lldpd", "snmpd", "snmpwalk", "tshark"});
    if (!why.empty()) GTEST_SKIP() << why;
    library = PeerLab::Built("nbrmib/libnbrmib.so");
    ASSERT_EQ(PeerLab::Unbuilt({"agent/lldp", "nbrmib/libnbrmib.so", "nbrmib/nbrmib-agentx"}), "");

    lab = std::make_unique<PeerLab>();
    ASSERT_EQ(lab->Open({"o", "p", kOurIf, kPeerIf, kOurAddress, kPeerAddress}), "");
    nsOurs = lab->ours;
    nsPeer = lab->peer;
    pipe = lab->files.Pipe();
    // txInterval 30 at first, so that a SET of 5 shows as a new time-to-live;
    // a one-second pass keeps the test short (frames every txInterval / 10 s).
    ASSERT_TRUE(lab->InstallAgent("[lldp]\ntxInterval=30\n"));
    ourMac = lab->MacOf(nsOurs, kOurIf);
    ASSERT_EQ(ourMac.size(), 17u);

    lldpd = lab->StartLldpd(nsPeer, kPeerIf, "lldpd");
    ASSERT_GT(lldpd, 0);
    agent = StartAgent();
    ASSERT_GT(agent, 0);
    ASSERT_TRUE(StartSnmpd());
    if (GetParam() == Host::kAgentX) {
      ASSERT_TRUE(StartSubagent());
    }

    // lldpd sends at once when asked; our agent then lists it.
    ASSERT_TRUE(Eventually([&] { return !Lldpcli("show interfaces").empty(); }, 10s));
    ASSERT_TRUE(Eventually(
        [&] {
          lab->LldpcliDo(nsPeer, "lldpd", "update");
          return !Rows(Snmp("snmpwalk -v2c -c tarlow -On", kLldp + "4.1.1.9")).empty();
        },
        20s))
        << Snmp("snmpwalk -v2c -c tarlow -On", kLldp + "4");
  }

  void TearDown() override {
    if (!lab) return;
    if (subagentPid > 0) lab->Stop(subagentPid, SIGTERM, 5s);
    if (snmpdPid > 0) StopSnmpd();
    lab->StopAll();
    // Whatever the sanitizers found in our programs and in snmpd with our
    // library (they report at exit too); every run has its own output file.
    for (const std::string& log : lab->LogFiles()) {
      if (std::filesystem::path(log).filename().string().rfind("lldpd", 0) == 0) continue;
      const std::string text = ReadFileText(log);
      EXPECT_EQ(text.find("Sanitizer"), std::string::npos) << log << "\n" << text;
      EXPECT_EQ(text.find("runtime error"), std::string::npos) << log << "\n" << text;
      if (HasFailure()) std::printf("--- %s\n%s\n", log.c_str(), text.c_str());
    }
    lab.reset();
  }

  pid_t StartAgent() { return lab->StartAgent(nsOurs, 1000); }

  bool StartSnmpd() {
    std::string conf = "rocommunity tarlow 127.0.0.1\nrwcommunity tarlowrw 127.0.0.1\n";
    if (GetParam() == Host::kAgentX) {
      conf += "master agentx\nagentXSocket " + lab->files.AgentxSocket() + "\n";
    } else {
      conf += "dlmod nbrmib " + library + "\n";
    }
    std::vector<std::string> launcherEnv;
#ifdef NBRMIB_SANITIZER_RUNTIME
    // The library is built with the sanitizers: their runtime must come first in
    // snmpd, which is not.
    launcherEnv = {std::string("LD_PRELOAD=") + NBRMIB_SANITIZER_RUNTIME, "ASAN_OPTIONS=detect_leaks=0"};
#endif
    snmpdPid = lab->StartSnmpd(nsOurs, conf, kPort, {"TORVANE_PIPE=" + pipe}, launcherEnv);
    return snmpdPid > 0 && Eventually([&] {
             return Snmp("snmpget -v2c -c tarlow -On", ".1.3.6.1.2.1.1.1.0").find("STRING") != std::string::npos;
           });
  }

  // snmpd is stopped by the PID in its PID file (the one we started).
  void StopSnmpd() {
    std::string fromFile = Trimmed(ReadFileText(lab->files.SnmpdPidFile()));
    EXPECT_EQ(fromFile, std::to_string(snmpdPid));
    lab->Stop(snmpdPid, SIGTERM, 10s);
    snmpdPid = -1;
  }

  bool StartSubagent() {
    subagentPid = lab->StartSubagent(nsOurs, library);
    return subagentPid > 0 && Eventually([&] { return !Rows(Snmp("snmpwalk -v2c -c tarlow -On", kLldp + "1")).empty(); });
  }

  // One net-snmp command against the private snmpd, with its output and errors.
  std::string Snmp(const std::string& command, const std::string& args) {
    return lab->SnmpTool(nsOurs, command + " 127.0.0.1:" + kPort + " " + args + " 2>&1");
  }
  static Walk Rows(const std::string& text) {
    Walk w = ParseWalk(text);
    w.erase(std::remove_if(w.begin(), w.end(),
                           [](const auto& row) { return row.second.rfind("No Such", 0) == 0 || row.second.rfind("No more", 0) == 0; }),
            w.end());
    return w;
  }

  std::string Lldpcli(const std::string& command) { return lab->Lldpcli(nsPeer, "lldpd", command); }

  // The time-to-live of each LLDP frame our agent sends within `seconds`.
  std::vector<int> OurTtls(int seconds) {
    std::string out = lab->Capture(
        nsOurs, "tshark -Q -i " + std::string(kOurIf) + " -a duration:" + std::to_string(seconds) +
                    " -f 'ether proto 0x88cc and ether src " + ourMac + "' -T fields -e lldp.time_to_live 2>/dev/null");
    std::vector<int> ttls;
    for (const std::string& line : Lines(out)) ttls.push_back(std::atoi(line.c_str()));
    return ttls;
  }

  std::unique_ptr<PeerLab> lab;
  std::string nsOurs, nsPeer, library, pipe, ourMac;
  pid_t agent = -1, lldpd = -1, snmpdPid = -1, subagentPid = -1;
};

TEST_P(NbrmibNetns, WalksSetsAndRestarts) {
  // ---- What lldpd advertises, what the walks show.
  const std::string peer = Lldpcli("show interfaces");
  const std::string peerMac = LldpcliValue(peer, "port.mac");
  ASSERT_EQ(peerMac.size(), 17u) << peer;
  const std::string peerIfIndex = Trimmed(lab->Capture(nsPeer, std::string("cat /sys/class/net/") + kPeerIf + "/ifindex"));
  const std::string seenOfUs = Lldpcli("show neighbors details");

  const Walk v2 = Rows(Snmp("snmpwalk -v2c -c tarlow -On", ".1.0.8802.1.1.2"));
  const Walk v1 = Rows(Snmp("snmpwalk -v1 -c tarlow -On", ".1.0.8802.1.1.2"));
  EXPECT_EQ(v1, v2);
  std::map<std::string, std::string> w = AsMap(v2);
  auto at = [&](const std::string& suffix) {
    auto it = w.find(kLldp + suffix);
    return it == w.end() ? std::string("(missing " + suffix + ")") : it->second;
  };
  // The settings, the port, the address, the local system.
  EXPECT_EQ(at("1.1.0"), "INTEGER: 30");
  EXPECT_EQ(at("1.2.0"), "INTEGER: 4");
  EXPECT_EQ(at("1.3.0"), "INTEGER: 2");
  EXPECT_EQ(at("1.4.0"), "INTEGER: 2");
  EXPECT_EQ(at("1.5.0"), "INTEGER: 5");
  EXPECT_EQ(at("1.6.1.2.1"), "INTEGER: 3");
  EXPECT_EQ(at("1.6.1.3.1"), "INTEGER: 2");
  EXPECT_EQ(at("1.6.1.4.1"), "Hex-STRING: F0 ");
  EXPECT_NE(at("1.7.1.1.1.10.96.0.1").find("STRING"), std::string::npos);
  EXPECT_EQ(at("2.1.0").rfind("Timeticks: ", 0), 0u);
  EXPECT_EQ(at("2.2.0"), "INTEGER: 1");
  EXPECT_EQ(at("2.3.0"), "INTEGER: 0");
  EXPECT_EQ(at("3.3.0"), "STRING: \"" + AgentSystemName() + "\"");
  EXPECT_EQ(at("3.3.0"), "STRING: \"" + LldpcliValue(seenOfUs, "chassis.name") + "\"");
  EXPECT_EQ(at("3.4.0"), "STRING: \"" + LldpcliValue(seenOfUs, "chassis.descr") + "\"");
  EXPECT_EQ(at("3.5.0"), "Hex-STRING: 80 ");
  EXPECT_EQ(at("3.6.0"), "Hex-STRING: 80 ");
  EXPECT_EQ(at("3.7.1.2.1"), "INTEGER: 3");
  EXPECT_EQ(at("3.7.1.3.1"), HexString(ourMac));
  EXPECT_EQ(at("3.7.1.4.1"), "STRING: \"veth\"");
  EXPECT_EQ(at("3.8.1.3.1.10.96.0.1"), "INTEGER: 5");
  EXPECT_EQ(at("3.8.1.4.1.10.96.0.1"), "INTEGER: 2");
  EXPECT_EQ(at("3.8.1.5.1.10.96.0.1"), "INTEGER: 1");
  EXPECT_EQ(at("5.32962.1.2.1.1.1.1"), "INTEGER: 0");
  EXPECT_EQ(at("5.4623.1.2.4.1.1.1").rfind("INTEGER: ", 0), 0u);
  EXPECT_EQ(at("5.4623.1.2.1.1.4.1").rfind("INTEGER: ", 0), 0u);

  // lldpd's row: one neighbour, whatever its time mark, on port 1, first in the list.
  std::string row;
  for (const auto& [oid, value] : v2)
    if (oid.rfind(kLldp + "4.1.1.4.", 0) == 0) row = row.empty() ? oid.substr((kLldp + "4.1.1.4.").size()) : "twice";
  ASSERT_FALSE(row.empty());
  ASSERT_NE(row, "twice");
  EXPECT_EQ(row.substr(row.find('.')), ".1.1");
  EXPECT_EQ(at("4.1.1.4." + row), "INTEGER: 4");  // chassis ID: a MAC address
  EXPECT_EQ(at("4.1.1.5." + row), HexString(LldpcliValue(peer, "chassis.mac")));
  EXPECT_EQ(at("4.1.1.6." + row), "INTEGER: 3");  // port ID: a MAC address
  EXPECT_EQ(at("4.1.1.7." + row), HexString(peerMac));
  EXPECT_EQ(at("4.1.1.8." + row), "STRING: \"" + LldpcliValue(peer, "port.descr") + "\"");
  EXPECT_EQ(at("4.1.1.9." + row), "STRING: \"" + LldpcliValue(peer, "chassis.name") + "\"");
  EXPECT_EQ(at("4.1.1.10." + row), "STRING: \"" + LldpcliValue(peer, "chassis.descr") + "\"");
  EXPECT_EQ(at("4.1.1.11." + row), CapabilityHex(peer, false));
  EXPECT_EQ(at("4.1.1.12." + row), CapabilityHex(peer, true));
  EXPECT_EQ(at("4.2.1.3." + row + ".1.10.96.0.2"), "INTEGER: 2");  // interface numbering: ifIndex
  EXPECT_EQ(at("4.2.1.4." + row + ".1.10.96.0.2"), "INTEGER: " + peerIfIndex);
  EXPECT_EQ(at("5.32962.1.3.1.1.1." + row), "INTEGER: 0");
  EXPECT_EQ(at("5.4623.1.3.1.1.4." + row).rfind("INTEGER: ", 0), 0u);
  EXPECT_EQ(at("5.4623.1.3.4.1.1." + row).rfind("INTEGER: ", 0), 0u);
  // The OBJECT IDENTIFIER columns answer GET only.
  for (const auto& [oid, value] : v2) {
    EXPECT_NE(oid.rfind(kLldp + "3.8.1.6.", 0), 0u) << oid;
    EXPECT_NE(oid.rfind(kLldp + "4.2.1.5.", 0), 0u) << oid;
  }
  EXPECT_EQ(Rows(Snmp("snmpget -v2c -c tarlow -On", kLldp + "4.2.1.5." + row + ".1.10.96.0.2")).at(0).second,
            "OID: .1.3.6");
  // 16 scalars; the port's 3 + 3 + 3 and the address's 1 + 3; lldpd's 9 + 3 and
  // its IPv4 address's 2.
  EXPECT_EQ(v2.size(), 43u);

  // ---- A walk from 1 passes through the LLDP-MIB and on into what follows.
  const Walk fromOne = Rows(Snmp("snmpwalk -v2c -c tarlow -On -CE .1.3.6.1.2.1.1.2", ".1"));
  ASSERT_GT(fromOne.size(), v2.size());
  EXPECT_TRUE(std::equal(v2.begin(), v2.end(), fromOne.begin()));
  EXPECT_EQ(fromOne[v2.size()].first, ".1.3.6.1.2.1.1.1.0");

  // ---- SET of the transmit interval: 5 goes to lldp.ini, the agent uses 10.
  const std::string ini = lab->files.AgentIni();
  EXPECT_NE(Snmp("snmpset -v2c -c tarlowrw -On", kLldp + "1.1.0 i 5").find("= INTEGER: 5"), std::string::npos);
  EXPECT_NE(ReadFileText(ini).find("txInterval=5\n"), std::string::npos) << ReadFileText(ini);
  EXPECT_EQ(Rows(Snmp("snmpget -v2c -c tarlow -On", kLldp + "1.1.0")).at(0).second, "INTEGER: 10");
  std::vector<int> ttls = OurTtls(4);
  ASSERT_FALSE(ttls.empty());
  EXPECT_EQ(ttls.back(), 40);
  std::printf("wire: %zu frames in 4 s after the SET, last time-to-live %d\n", ttls.size(), ttls.back());
  // 4 is refused, by each version's error, and changes nothing.
  EXPECT_NE(Snmp("snmpset -v2c -c tarlowrw -On", kLldp + "1.1.0 i 4").find("wrongValue"), std::string::npos);
  EXPECT_NE(Snmp("snmpset -v1 -c tarlowrw -On", kLldp + "1.1.0 i 4").find("badValue"), std::string::npos);
  EXPECT_NE(ReadFileText(ini).find("txInterval=5\n"), std::string::npos) << ReadFileText(ini);

  // ---- Two bindings, the second bad: the first stays as it was.
  std::string out = Snmp("snmpset -v2c -c tarlowrw -On", kLldp + "1.2.0 i 3 " + kLldp + "1.3.0 i 99");
  EXPECT_NE(out.find("wrongValue"), std::string::npos) << out;
  EXPECT_NE(out.find("Failed object: " + kLldp + "1.3.0"), std::string::npos) << out;
  // The agent does not store the reinit delay: accepted, not kept, so genErr.
  out = Snmp("snmpset -v2c -c tarlowrw -On", kLldp + "1.2.0 i 3 " + kLldp + "1.3.0 i 5");
  EXPECT_NE(out.find("genError"), std::string::npos) << out;
  EXPECT_NE(out.find("Failed object: " + kLldp + "1.3.0"), std::string::npos) << out;
  EXPECT_EQ(Rows(Snmp("snmpget -v2c -c tarlow -On", kLldp + "1.2.0 " + kLldp + "1.3.0")),
            (Walk{{kLldp + "1.2.0", "INTEGER: 4"}, {kLldp + "1.3.0", "INTEGER: 2"}}));
  EXPECT_EQ(ReadFileText(ini).find("txHoldMultiplier"), std::string::npos) << ReadFileText(ini);

  // ---- Admin status 4 (disabled) stops our frames on that port; 3 brings them back.
  EXPECT_NE(Snmp("snmpset -v2c -c tarlowrw -On", kLldp + "1.6.1.2.1 i 4").find("= INTEGER: 4"), std::string::npos);
  std::this_thread::sleep_for(1500ms);
  const size_t whileDisabled = OurTtls(4).size();
  EXPECT_EQ(whileDisabled, 0u);
  EXPECT_NE(Snmp("snmpset -v2c -c tarlowrw -On", kLldp + "1.6.1.2.1 i 3").find("= INTEGER: 3"), std::string::npos);
  const size_t enabledAgain = OurTtls(4).size();
  EXPECT_GT(enabledAgain, 0u);
  std::printf("wire: %zu frames in 4 s with admin status 4, %zu after 3\n", whileDisabled, enabledAgain);

  // ---- The agent stopped: no rows, at once; started again: the next request works.
  ASSERT_TRUE(lab->Stop(agent, SIGINT, 10s));
  agent = -1;
  auto t0 = Clock::now();
  Walk none = Rows(Snmp("snmpwalk -v2c -c tarlow -On", kLldp + "4.1"));
  const auto stoppedWalk = Clock::now() - t0;
  EXPECT_LT(stoppedWalk, 1s);
  std::printf("agent stopped: the walk of lldpRemTable ended after %.3f s with %zu rows\n",
              std::chrono::duration<double>(stoppedWalk).count(), none.size());
  EXPECT_TRUE(none.empty()) << none.front().first;
  agent = StartAgent();
  ASSERT_TRUE(Eventually([&] { return std::filesystem::exists(pipe); }, 5s));
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(Rows(Snmp("snmpget -v2c -c tarlow -On", kLldp + "1.1.0")).at(0).second, "INTEGER: 10");
  ASSERT_TRUE(Eventually(
      [&] {
        lab->LldpcliDo(nsPeer, "lldpd", "update");
        return !Rows(Snmp("snmpwalk -v2c -c tarlow -On", kLldp + "4.1.1.9")).empty();
      },
      20s));

  if (GetParam() == Host::kAgentX) {
    // ---- The subagent killed: snmpd goes on serving its own objects.
    ASSERT_TRUE(lab->Stop(subagentPid, SIGKILL, 5s).has_value());
    subagentPid = -1;
    EXPECT_NE(Snmp("snmpget -v2c -c tarlow -On", ".1.3.6.1.2.1.1.1.0").find("STRING"), std::string::npos);
    EXPECT_TRUE(Rows(Snmp("snmpwalk -v2c -c tarlow -On", kLldp + "1")).empty());
    ASSERT_TRUE(StartSubagent());
    // snmpd restarted: the subagent connects again on its own.
    StopSnmpd();
    ASSERT_TRUE(StartSnmpd());
    EXPECT_TRUE(Eventually([&] { return !Rows(Snmp("snmpwalk -v2c -c tarlow -On", kLldp + "1.1")).empty(); }, 10s))
        << lab->LastLogText("subagent");
  } else {
    StopSnmpd();
    ASSERT_TRUE(StartSnmpd());
    EXPECT_FALSE(Rows(Snmp("snmpwalk -v2c -c tarlow -On", kLldp + "1.1")).empty());
  }
  // The times start again with snmpd's: lldpd, heard before, is at time mark 0.
  Walk rows = Rows(Snmp("snmpwalk -v2c -c tarlow -On", kLldp + "4.1.1.9"));
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].first, kLldp + "4.1.1.9.0.1.1");
}

INSTANTIATE_TEST_SUITE_P(Hosts, NbrmibNetns, ::testing::Values(Host::kAgentX, Host::kDlmod),
                         [](const ::testing::TestParamInfo<Host>& p) {
                           return p.param == Host::kAgentX ? "AgentX" : "Dlmod";
                         });

}  // namespace
}  // namespace torvane
