// ctest-labels: unit;snmpd
// Every view saved by the program in batch mode (no display) from a private
// net-snmp snmpd on 127.0.0.1, checked against what snmpget and snmpwalk -v1
// -On read of the same objects. The LAN Manager objects that Linux agents lack
// (services, accounts, workgroup) and an LLDP-MIB as our subagent serves it come
// from the agent's pass_persist and override lines. The test finds its own TCP
// listener in TCP Ports and its own process in Active Processes.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/netpeek/support/private_snmpd.h"

namespace torvane::netpeek {
namespace {

using testing::NetSnmpObject;
using Row = std::vector<std::string>;

const char kLanManagerTable[] = R"(# LAN Manager services: the index is the name (its length, then its characters)
.1.3.6.1.4.1.77.1.2.3.1.1.11.87.111.114.107.115.116.97.116.105.111.110 string Workstation
.1.3.6.1.4.1.77.1.2.3.1.1.6.83.101.114.118.101.114 string Server
.1.3.6.1.4.1.77.1.2.3.1.1.9.78.101.116.32.76.111.103.111.110 string Net Logon
.1.3.6.1.4.1.77.1.2.3.1.1.11.68.72.67.80.32.67.108.105.101.110.116 string DHCP Client
.1.3.6.1.4.1.77.1.2.3.1.2.11.87.111.114.107.115.116.97.116.105.111.110 integer 3
.1.3.6.1.4.1.77.1.2.3.1.2.6.83.101.114.118.101.114 integer 3
.1.3.6.1.4.1.77.1.2.3.1.2.9.78.101.116.32.76.111.103.111.110 integer 3
.1.3.6.1.4.1.77.1.2.3.1.2.11.68.72.67.80.32.67.108.105.101.110.116 integer 3
.1.3.6.1.4.1.77.1.2.3.1.3.11.87.111.114.107.115.116.97.116.105.111.110 integer 1
.1.3.6.1.4.1.77.1.2.3.1.3.6.83.101.114.118.101.114 integer 1
.1.3.6.1.4.1.77.1.2.3.1.3.9.78.101.116.32.76.111.103.111.110 integer 1
.1.3.6.1.4.1.77.1.2.3.1.3.11.68.72.67.80.32.67.108.105.101.110.116 integer 1
# Accounts
.1.3.6.1.4.1.77.1.2.25.1.1.13.65.100.109.105.110.105.115.116.114.97.116.111.114 string Administrator
.1.3.6.1.4.1.77.1.2.25.1.1.5.71.117.101.115.116 string Guest
.1.3.6.1.4.1.77.1.2.25.1.1.10.115.118.99.95.98.97.99.107.117.112 string svc_backup
)";

// As our subagent serves it: capabilities as the frame's 16-bit field in 1 to 4
// bytes, management addresses as subtype and four arcs. Local ports 1 and 2;
// neighbours on each.
const char kLldpTable[] = R"(.1.0.8802.1.1.2.1.3.7.1.4.1 string Local Area Connection
.1.0.8802.1.1.2.1.3.7.1.4.2 string Wireless Network Connection
.1.0.8802.1.1.2.1.3.8.1.5.1.10.9.0.1 integer 1
.1.0.8802.1.1.2.1.4.1.1.5.1200.1.1 octet 00 1b 2c 3d 4e 5f
.1.0.8802.1.1.2.1.4.1.1.5.4500.2.3 octet 73 77 32
.1.0.8802.1.1.2.1.4.1.1.7.1200.1.1 octet 47 69 31 2f 30 2f 32 34
.1.0.8802.1.1.2.1.4.1.1.7.4500.2.3 octet 00 04 f2 aa bb cc
.1.0.8802.1.1.2.1.4.1.1.8.1200.1.1 string GigabitEthernet1/0/24
.1.0.8802.1.1.2.1.4.1.1.8.4500.2.3 string Port 1
.1.0.8802.1.1.2.1.4.1.1.9.1200.1.1 string core-sw1
.1.0.8802.1.1.2.1.4.1.1.9.4500.2.3 string phone-7
.1.0.8802.1.1.2.1.4.1.1.10.1200.1.1 string Switch Software 15.2
.1.0.8802.1.1.2.1.4.1.1.10.4500.2.3 string IP Phone
.1.0.8802.1.1.2.1.4.1.1.11.1200.1.1 octet 01 14
.1.0.8802.1.1.2.1.4.1.1.11.4500.2.3 octet 24
.1.0.8802.1.1.2.1.4.1.1.12.1200.1.1 octet 01 10
.1.0.8802.1.1.2.1.4.1.1.12.4500.2.3 octet 20
.1.0.8802.1.1.2.1.4.2.1.3.1200.1.1.1.10.9.0.254 integer 2
.1.0.8802.1.1.2.1.4.2.1.4.1200.1.1.1.10.9.0.254 integer 10
.1.0.8802.1.1.2.1.5.4623.1.3.1.1.4.1200.1.1 integer 30
.1.0.8802.1.1.2.1.5.4623.1.3.1.1.4.4500.2.3 integer 16
.1.0.8802.1.1.2.1.5.32962.1.3.1.1.1.1200.1.1 integer 20
.1.0.8802.1.1.2.1.5.32962.1.3.1.1.1.4500.2.3 integer 4096
)";

bool BeforeNoCase(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) < std::tolower(static_cast<unsigned char>(y));
  });
}

// A value as the views show text: the bytes up to the first zero, control bytes
// saved as spaces, cut to max characters.
std::string Shown(const NetSnmpObject& o, size_t max) {
  std::string s = o.type == "Hex-STRING" ? testing::hex_to_bytes(o.value) : o.value;
  s = s.substr(0, std::min(s.find('\0'), max));
  for (char& c : s)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  return s;
}

std::string DashedHex(const std::string& hex) {
  std::string out = hex;
  std::replace(out.begin(), out.end(), ' ', '-');
  return out;
}

// Whether text has the shape: '9' stands for a digit, '*' for one or more
// digits, every other character for itself.
bool HasShape(const std::string& text, const std::string& shape) {
  size_t t = 0;
  for (char c : shape) {
    if (c == '*') {
      if (t >= text.size() || !std::isdigit(static_cast<unsigned char>(text[t]))) return false;
      while (t < text.size() && std::isdigit(static_cast<unsigned char>(text[t]))) ++t;
    } else if (t >= text.size() || (c == '9' ? !std::isdigit(static_cast<unsigned char>(text[t])) : text[t] != c)) {
      return false;
    } else {
      ++t;
    }
  }
  return t == text.size();
}

uint32_t Seconds(const std::string& duration) {
  unsigned h = 0, m = 0, s = 0;
  EXPECT_EQ(std::sscanf(duration.c_str(), "%uh %umin %usec", &h, &m, &s), 3) << duration;
  return h * 3600 + m * 60 + s;
}

// The objects of a walk by identifier, and the rows of one column in order.
struct Walk {
  std::vector<NetSnmpObject> objects;
  const NetSnmpObject* find(const std::string& oid) const {
    for (const NetSnmpObject& o : objects)
      if (o.oid == oid) return &o;
    return nullptr;
  }
  // (index after the column, object) for each object of the column.
  std::vector<std::pair<std::string, NetSnmpObject>> column(const std::string& prefix) const {
    std::vector<std::pair<std::string, NetSnmpObject>> out;
    for (const NetSnmpObject& o : objects)
      if (o.oid.rfind(prefix + ".", 0) == 0) out.emplace_back(o.oid.substr(prefix.size() + 1), o);
    return out;
  }
  std::string value(const std::string& oid) const {
    const NetSnmpObject* o = find(oid);
    return o ? o->value : std::string();
  }
};

struct Saved {
  int exit_code = -1;
  std::string err;
  std::string title;  // from the file name
  std::vector<Row> rows;
};

class ViewsAgainstSnmpd : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (testing::find_program("snmpd").empty() || testing::find_program("snmpwalk").empty()) return;
    tables_ = std::make_unique<testing::ScratchDir>();
    testing::write_file(*tables_ / "lanman", kLanManagerTable);
    testing::write_file(*tables_ / "lldp", kLldpTable);
    snmpd_ = std::make_unique<testing::PrivateSnmpd>(
        "override .1.3.6.1.4.1.77.1.4.1.0 octet_str \"TESTGROUP\"\n"
        "pass_persist .1.3.6.1.4.1.77.1.2 " NETPEEK_PASS_TABLE " " + (*tables_ / "lanman") + "\n" +
        "pass_persist .1.0.8802.1.1.2 " NETPEEK_PASS_TABLE " " + (*tables_ / "lldp") + "\n");
    started_ = snmpd_->start(&why_);
  }
  static void TearDownTestSuite() {
    snmpd_.reset();
    tables_.reset();
  }
  void SetUp() override {
    if (!snmpd_) GTEST_SKIP() << "snmpd and snmp (net-snmp) are not installed";
    ASSERT_TRUE(started_) << why_;
  }

  // Runs the program with -s and no display; reads the one file it saved whose
  // title begins with title_prefix.
  Saved Netpeek(std::vector<std::string> args, const std::string& title_prefix) {
    testing::ScratchDir work;
    args.insert(args.begin(), {"/usr/bin/env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", NETPEEK_BINARY, "-s"});
    testing::RunResult r =
        testing::run_program(args, {"NETPEEK_SNMP_PORT=" + std::to_string(snmpd_->port())}, work.path());
    Saved s;
    s.exit_code = r.exit_code;
    s.err = r.err;
    const std::string prefix = "127.0.0.1 - " + title_prefix;
    int files = 0;
    for (const auto& e : std::filesystem::directory_iterator(work.path())) {
      const std::string name = e.path().filename().string();
      ++files;
      if (name.rfind(prefix, 0) != 0 || name.size() < 4 || name.substr(name.size() - 4) != ".txt") continue;
      s.title = name.substr(12, name.size() - 16);
      for (const std::string& line : testing::split(testing::read_file(e.path().string()), '\n'))
        if (!line.empty()) s.rows.push_back(testing::split(line, '\t'));
    }
    EXPECT_EQ(files, 1) << "files saved";
    EXPECT_FALSE(s.title.empty()) << "no file for " << title_prefix;
    return s;
  }

  Walk WalkOf(const std::string& oid) {
    testing::RunResult r = snmpd_->net_snmp("snmpwalk", {oid});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    return {testing::parse_net_snmp(r.out)};
  }
  Walk Get(const std::vector<std::string>& oids) {
    testing::RunResult r = snmpd_->net_snmp("snmpget", oids);
    return {testing::parse_net_snmp(r.out)};
  }

  static std::unique_ptr<testing::ScratchDir> tables_;
  static std::unique_ptr<testing::PrivateSnmpd> snmpd_;
  static bool started_;
  static std::string why_;
};

std::unique_ptr<testing::ScratchDir> ViewsAgainstSnmpd::tables_;
std::unique_ptr<testing::PrivateSnmpd> ViewsAgainstSnmpd::snmpd_;
bool ViewsAgainstSnmpd::started_ = false;
std::string ViewsAgainstSnmpd::why_;

std::map<std::string, std::string> ByLabel(const Saved& s) {
  std::map<std::string, std::string> out;
  for (const Row& r : s.rows) {
    EXPECT_EQ(r.size(), 2u);
    if (r.size() == 2 && !r[0].empty()) out.emplace(r[0], r[1]);
  }
  return out;
}

TEST_F(ViewsAgainstSnmpd, SystemInformation) {
  Saved s = Netpeek({"127.0.0.1"}, "System Information");
  ASSERT_EQ(s.exit_code, 0) << s.err;
  EXPECT_EQ(s.title, "System Information");
  Walk sys = WalkOf("1.3.6.1.2.1.1");
  Walk hr = WalkOf("1.3.6.1.2.1.25.1");
  std::map<std::string, std::string> rows = ByLabel(s);

  EXPECT_EQ(rows["Name"], Shown(*sys.find("1.3.6.1.2.1.1.5.0"), 255));
  EXPECT_EQ(rows["Description"], Shown(*sys.find("1.3.6.1.2.1.1.1.0"), 255));
  EXPECT_EQ(rows["Contact"], Shown(*sys.find("1.3.6.1.2.1.1.4.0"), 255));
  EXPECT_EQ(rows["Location"], Shown(*sys.find("1.3.6.1.2.1.1.6.0"), 255));
  // This snmpd has no sysServices: the rest of the group is still shown.
  ASSERT_EQ(sys.find("1.3.6.1.2.1.1.7.0"), nullptr);
  EXPECT_EQ(rows["Services"], "");

  const std::string kUptime = "*h *min *sec ( 9999-99-99  99:99:99 )";
  EXPECT_TRUE(HasShape(rows["SNMP UpTime"], kUptime)) << rows["SNMP UpTime"];
  EXPECT_TRUE(HasShape(rows["UpTime"], kUptime)) << rows["UpTime"];
  const uint32_t snmpUp = std::stoul(sys.value("1.3.6.1.2.1.1.3.0")) / 100;
  EXPECT_LE(Seconds(rows["SNMP UpTime"]), snmpUp);
  EXPECT_GE(Seconds(rows["SNMP UpTime"]) + 10, snmpUp);
  // The host's uptime counts hundredths here: shown as it is, not divided.
  const uint32_t hostUp = std::stoul(hr.value("1.3.6.1.2.1.25.1.1.0")) / 100;
  EXPECT_LE(Seconds(rows["UpTime"]), hostUp);
  EXPECT_GE(Seconds(rows["UpTime"]) + 10, hostUp);

  // hrSystemDate read a moment later than the view's.
  std::string date = testing::hex_to_bytes(hr.value("1.3.6.1.2.1.25.1.2.0"));
  ASSERT_GE(date.size(), 7u);
  std::tm theirs{};
  theirs.tm_year = ((static_cast<unsigned char>(date[0]) << 8) | static_cast<unsigned char>(date[1])) - 1900;
  theirs.tm_mon = date[2] - 1;
  theirs.tm_mday = date[3];
  theirs.tm_hour = date[4];
  theirs.tm_min = date[5];
  theirs.tm_sec = date[6];
  std::tm ours{};
  ASSERT_NE(strptime(rows["Current Time"].c_str(), "%Y-%m-%d %H:%M:%S", &ours), nullptr) << rows["Current Time"];
  const double apart = std::difftime(timegm(&theirs), timegm(&ours));
  EXPECT_GE(apart, 0);
  EXPECT_LE(apart, 10);

  EXPECT_EQ(rows["Current Users"], hr.value("1.3.6.1.2.1.25.1.5.0"));
  EXPECT_NEAR(std::stod(rows["Processes"]), std::stod(hr.value("1.3.6.1.2.1.25.1.6.0")), 60);
  const std::string limit = hr.value("1.3.6.1.2.1.25.1.7.0");
  EXPECT_EQ(rows["Process limit"], limit == "0" ? "not restricted" : limit);
  EXPECT_EQ(rows["LoadDevice Index"], hr.value("1.3.6.1.2.1.25.1.3.0"));
  EXPECT_EQ(rows["Boot Parameter"], Shown(*hr.find("1.3.6.1.2.1.25.1.4.0"), 127));
  // The workgroup comes from the override line.
  EXPECT_EQ(rows["Workgroup"], "TESTGROUP");
}

TEST_F(ViewsAgainstSnmpd, Interfaces) {
  Saved s = Netpeek({"127.0.0.1", "interfaces"}, "Interfaces");
  ASSERT_EQ(s.exit_code, 0) << s.err;
  Walk ifs = WalkOf("1.3.6.1.2.1.2.2.1");
  Walk ips = WalkOf("1.3.6.1.2.1.4.20.1");
  auto indexes = ifs.column("1.3.6.1.2.1.2.2.1.1");
  ASSERT_FALSE(indexes.empty());
  ASSERT_EQ(s.rows.size(), std::min<size_t>(indexes.size(), 32));
  const std::string kChanged = "99/99/99  99:99:99";
  for (size_t i = 0; i < s.rows.size(); ++i) {
    const std::string ix = indexes[i].first;
    const Row& row = s.rows[i];
    SCOPED_TRACE(ix);
    ASSERT_EQ(row.size(), 9u);
    EXPECT_EQ(row[0], Shown(*ifs.find("1.3.6.1.2.1.2.2.1.2." + ix), 255));
    EXPECT_EQ(row[1], DashedHex(ifs.value("1.3.6.1.2.1.2.2.1.6." + ix)));
    std::string address;
    for (const auto& [addr, o] : ips.column("1.3.6.1.2.1.4.20.1.2"))
      if (o.value == ix && address.empty()) address = addr;
    EXPECT_EQ(row[2], address);
    EXPECT_EQ(std::stoul(row[3]), std::stoul(ifs.value("1.3.6.1.2.1.2.2.1.4." + ix)));
    const std::map<std::string, std::string> kStatus = {{"1", "up"}, {"2", "down"}, {"3", "test"}};
    EXPECT_EQ(row[5], kStatus.at(ifs.value("1.3.6.1.2.1.2.2.1.7." + ix)));
    EXPECT_EQ(row[6], kStatus.count(ifs.value("1.3.6.1.2.1.2.2.1.8." + ix))
                          ? kStatus.at(ifs.value("1.3.6.1.2.1.2.2.1.8." + ix))
                          : "");
    const std::string type = ifs.value("1.3.6.1.2.1.2.2.1.3." + ix);
    if (type == "6") {
      EXPECT_EQ(row[7], "ethernet");
    }
    if (type == "24") {
      EXPECT_EQ(row[7], "loopback");
    }
    EXPECT_TRUE(HasShape(row[8], kChanged)) << row[8];
  }
}

TEST_F(ViewsAgainstSnmpd, RoutesAndArp) {
  Saved routes = Netpeek({"127.0.0.1", "routes"}, "Routes");
  ASSERT_EQ(routes.exit_code, 0) << routes.err;
  Walk r = WalkOf("1.3.6.1.2.1.4.21.1");
  Walk ips = WalkOf("1.3.6.1.2.1.4.20.1");
  auto dests = r.column("1.3.6.1.2.1.4.21.1.1");
  ASSERT_FALSE(dests.empty());  // a default route or the loopback network at least
  ASSERT_EQ(routes.rows.size(), std::min<size_t>(dests.size(), 64));
  for (size_t i = 0; i < routes.rows.size(); ++i) {
    const std::string ix = dests[i].first;
    SCOPED_TRACE(ix);
    std::string ifAddress = "0.0.0.0";
    for (const auto& [addr, o] : ips.column("1.3.6.1.2.1.4.20.1.2"))
      if (o.value == r.value("1.3.6.1.2.1.4.21.1.2." + ix)) {
        ifAddress = addr;
        break;
      }
    EXPECT_EQ(routes.rows[i], (Row{r.value("1.3.6.1.2.1.4.21.1.1." + ix), r.value("1.3.6.1.2.1.4.21.1.11." + ix),
                                   r.value("1.3.6.1.2.1.4.21.1.7." + ix), ifAddress,
                                   r.value("1.3.6.1.2.1.4.21.1.3." + ix)}));
  }

  Saved arp = Netpeek({"127.0.0.1", "arp"}, "Address Resolution (ARP) Table");
  ASSERT_EQ(arp.exit_code, 0) << arp.err;
  Walk a = WalkOf("1.3.6.1.2.1.4.22.1");
  auto entries = a.column("1.3.6.1.2.1.4.22.1.3");
  ASSERT_EQ(arp.rows.size(), entries.size());
  for (size_t i = 0; i < arp.rows.size(); ++i) {
    const std::string ix = entries[i].first;
    EXPECT_EQ(arp.rows[i][1], entries[i].second.value);
    EXPECT_EQ(arp.rows[i][2], DashedHex(a.value("1.3.6.1.2.1.4.22.1.2." + ix)));
  }
}

// A TCP listener of the test's own on 127.0.0.1.
class Listener {
 public:
  Listener() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::listen(fd_, 1) == 0 &&
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) == 0)
      port_ = ntohs(a.sin_port);
  }
  ~Listener() {
    if (fd_ >= 0) ::close(fd_);
  }
  uint16_t port() const { return port_; }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

std::string ServiceOrNumber(uint16_t port) {
  servent* s = ::getservbyport(htons(port), nullptr);
  return s ? s->s_name : std::to_string(port);
}

TEST_F(ViewsAgainstSnmpd, TcpPortsShowTheTestsListener) {
  Listener listener;
  ASSERT_NE(listener.port(), 0);
  const std::string port = std::to_string(listener.port());

  Saved numeric = Netpeek({"-n", "127.0.0.1", "tcp"}, "TCP Ports");
  ASSERT_EQ(numeric.exit_code, 0) << numeric.err;
  EXPECT_NE(std::find(numeric.rows.begin(), numeric.rows.end(), Row{"tcp", "127.0.0.1", port, "*", "*", "listen"}),
            numeric.rows.end());
  // Every listener that snmpwalk sees, the view shows.
  Walk w = WalkOf("1.3.6.1.2.1.6.13.1.1");
  size_t listeners = 0;
  for (const auto& [ix, o] : w.column("1.3.6.1.2.1.6.13.1.1")) {
    if (o.value != "2") continue;
    std::vector<std::string> arcs = testing::split(ix, '.');
    ASSERT_EQ(arcs.size(), 10u) << ix;
    const std::string local = arcs[0] + "." + arcs[1] + "." + arcs[2] + "." + arcs[3];
    Row expected{"tcp", local == "0.0.0.0" ? "*" : local, arcs[4], "*", "*", "listen"};
    EXPECT_NE(std::find(numeric.rows.begin(), numeric.rows.end(), expected), numeric.rows.end()) << ix;
    ++listeners;
  }
  EXPECT_GE(listeners, 1u);

  // With names: the loopback address is looked up before the file is written.
  Saved named = Netpeek({"127.0.0.1", "tcp"}, "TCP Ports");
  ASSERT_EQ(named.exit_code, 0) << named.err;
  EXPECT_NE(std::find(named.rows.begin(), named.rows.end(),
                      Row{"tcp", "localhost", ServiceOrNumber(listener.port()), "*", "*", "listen"}),
            named.rows.end());
}

TEST_F(ViewsAgainstSnmpd, UdpPorts) {
  Saved s = Netpeek({"-n", "127.0.0.1", "udp"}, "UDP Ports");
  ASSERT_EQ(s.exit_code, 0) << s.err;
  const Row agent{"udp", "127.0.0.1", std::to_string(snmpd_->port()), "*", "*", ""};
  EXPECT_NE(std::find(s.rows.begin(), s.rows.end(), agent), s.rows.end());
  std::set<Row> ours(s.rows.begin(), s.rows.end()), theirs;
  Walk w = WalkOf("1.3.6.1.2.1.7.5.1.1");
  for (const auto& [ix, o] : w.column("1.3.6.1.2.1.7.5.1.1")) {
    std::vector<std::string> arcs = testing::split(ix, '.');
    ASSERT_EQ(arcs.size(), 5u);
    theirs.insert({"udp", o.value == "0.0.0.0" ? "*" : o.value, arcs[4], "*", "*", ""});
  }
  // Each side also sees its own client socket, which the other does not.
  std::vector<Row> onlyOurs, onlyTheirs;
  std::set_difference(ours.begin(), ours.end(), theirs.begin(), theirs.end(), std::back_inserter(onlyOurs));
  std::set_difference(theirs.begin(), theirs.end(), ours.begin(), ours.end(), std::back_inserter(onlyTheirs));
  EXPECT_LE(onlyOurs.size(), 1u);
  EXPECT_LE(onlyTheirs.size(), 1u);
}

TEST_F(ViewsAgainstSnmpd, DevicesAndStorage) {
  Saved devices = Netpeek({"127.0.0.1", "devices"}, "Devices");
  ASSERT_EQ(devices.exit_code, 0) << devices.err;
  Walk d = WalkOf("1.3.6.1.2.1.25.3.2.1");
  std::vector<Row> expected;
  for (const auto& [ix, type] : d.column("1.3.6.1.2.1.25.3.2.1.2")) {
    if (type.value == "1.3.6.1.2.1.25.3.1.4") continue;  // network devices are left out
    const std::string descr = Shown(*d.find("1.3.6.1.2.1.25.3.2.1.3." + ix), 255);
    std::string typeName = type.value == "1.3.6.1.2.1.25.3.1.3" ? "Processor" : "?";
    const std::string status = d.value("1.3.6.1.2.1.25.3.2.1.5." + ix);
    expected.push_back({descr, typeName, status == "2" ? "running" : "?"});
  }
  ASSERT_EQ(devices.rows.size(), expected.size());
  EXPECT_EQ(devices.title, "Devices: " + std::to_string(expected.size()));
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(devices.rows[i][0], expected[i][0]);
    if (expected[i][1] != "?") {
      EXPECT_EQ(devices.rows[i][1], expected[i][1]);
    }
    if (expected[i][2] != "?") {
      EXPECT_EQ(devices.rows[i][2], expected[i][2]);
    }
  }

  Saved storage = Netpeek({"127.0.0.1", "storage"}, "Storage");
  ASSERT_EQ(storage.exit_code, 0) << storage.err;
  Walk st = WalkOf("1.3.6.1.2.1.25.2.3.1");
  auto descrs = st.column("1.3.6.1.2.1.25.2.3.1.3");
  ASSERT_EQ(storage.rows.size(), std::min<size_t>(descrs.size(), 128));
  EXPECT_EQ(storage.title, "Storage: " + std::to_string(storage.rows.size()));
  for (size_t i = 0; i < storage.rows.size(); ++i) {
    const std::string ix = descrs[i].first;
    EXPECT_EQ(storage.rows[i][0], Shown(descrs[i].second, 255));
    const uint32_t unit = std::stoul(st.value("1.3.6.1.2.1.25.2.3.1.4." + ix));
    EXPECT_EQ(storage.rows[i][2], unit <= 4096 ? std::to_string(unit) : std::to_string(unit / 1024) + " KB");
    if (st.value("1.3.6.1.2.1.25.2.3.1.2." + ix) == "1.3.6.1.2.1.25.2.1.2") {
      EXPECT_EQ(storage.rows[i][1], "RAM");
    }
    if (st.value("1.3.6.1.2.1.25.2.3.1.2." + ix) == "1.3.6.1.2.1.25.2.1.4") {
      EXPECT_EQ(storage.rows[i][1], "FixedDisk");
    }
  }
}

TEST_F(ViewsAgainstSnmpd, ActiveProcessesShowTheTestItself) {
  Saved s = Netpeek({"127.0.0.1", "tasks"}, "Active Processes");
  ASSERT_EQ(s.exit_code, 0) << s.err;
  const std::string pid = std::to_string(::getpid());
  Walk me = Get({"1.3.6.1.2.1.25.4.2.1.2." + pid, "1.3.6.1.2.1.25.4.2.1.4." + pid, "1.3.6.1.2.1.25.4.2.1.5." + pid});
  ASSERT_EQ(me.objects.size(), 3u);
  auto row = std::find_if(s.rows.begin(), s.rows.end(), [&](const Row& r) { return r.size() == 5 && r[1] == pid; });
  ASSERT_NE(row, s.rows.end()) << "no row for PID " << pid;
  EXPECT_EQ((*row)[0], Shown(me.objects[0], 63));
  EXPECT_EQ((*row)[3], Shown(me.objects[1], 129));
  EXPECT_EQ((*row)[4], Shown(me.objects[2], 129));
  EXPECT_TRUE(HasShape((*row)[2], "* K") && (*row)[2][0] != '0') << (*row)[2];
  const size_t processes = WalkOf("1.3.6.1.2.1.25.4.2.1.1").objects.size();
  EXPECT_EQ(s.title, "Active Processes: " + std::to_string(s.rows.size()));
  EXPECT_NEAR(static_cast<double>(s.rows.size()), static_cast<double>(processes), 60);
}

TEST_F(ViewsAgainstSnmpd, InstalledSoftwareSorted) {
  Saved s = Netpeek({"127.0.0.1", "installed"}, "Installed Software");
  ASSERT_EQ(s.exit_code, 0) << s.err;
  Walk w = WalkOf("1.3.6.1.2.1.25.6.3.1");
  std::vector<Row> expected;
  for (const auto& [ix, name] : w.column("1.3.6.1.2.1.25.6.3.1.2")) {
    std::string date = testing::hex_to_bytes(w.value("1.3.6.1.2.1.25.6.3.1.5." + ix));
    date.resize(std::max<size_t>(date.size(), 7), '\0');
    auto b = [&](size_t i) { return static_cast<unsigned>(static_cast<unsigned char>(date[i])); };
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", (b(0) << 8) | b(1), b(2), b(3), b(4), b(5),
                  b(6));
    expected.push_back({Shown(name, 127), text});
  }
  ASSERT_GT(expected.size(), 10u) << "dpkg's packages";
  if (expected.size() > 2048) expected.resize(2048);
  std::stable_sort(expected.begin(), expected.end(), [](const Row& a, const Row& b) { return BeforeNoCase(a[0], b[0]); });
  EXPECT_EQ(s.title, "Installed Software: " + std::to_string(expected.size()));
  EXPECT_EQ(s.rows, expected);
}

TEST_F(ViewsAgainstSnmpd, LanManagerServicesAndAccounts) {
  Saved services = Netpeek({"127.0.0.1", "services"}, "Active Services");
  ASSERT_EQ(services.exit_code, 0) << services.err;
  EXPECT_EQ(services.title, "Active Services: 4");
  EXPECT_EQ(services.rows,
            (std::vector<Row>{{"DHCP Client", ""}, {"Net Logon", ""}, {"Server", ""}, {"Workstation", ""}}));
  Saved users = Netpeek({"127.0.0.1", "users"}, "Accounts");
  ASSERT_EQ(users.exit_code, 0) << users.err;
  EXPECT_EQ(users.title, "Accounts: 3");
  EXPECT_EQ(users.rows, (std::vector<Row>{{"Administrator", ""}, {"Guest", ""}, {"svc_backup", ""}}));
  // What snmpwalk reads of the same objects.
  std::set<std::string> walked;
  for (const auto& [ix, o] : WalkOf("1.3.6.1.4.1.77.1.2").column("1.3.6.1.4.1.77.1.2.3.1.1"))
    walked.insert(Shown(o, 127));
  EXPECT_EQ(walked, (std::set<std::string>{"DHCP Client", "Net Logon", "Server", "Workstation"}));
}

TEST_F(ViewsAgainstSnmpd, LldpNeighborsServedByPass) {
  Saved s = Netpeek({"127.0.0.1", "lldp"}, "LLDP discovered Neighbors");
  ASSERT_EQ(s.exit_code, 0) << s.err;
  EXPECT_EQ(s.title, "LLDP discovered Neighbors: 2");
  ASSERT_EQ(s.rows.size(), 2u);
  const std::string kDiscovered = "99/99/99 99:99:99";
  for (Row& r : s.rows) {
    ASSERT_EQ(r.size(), 12u);
    EXPECT_TRUE(HasShape(r[8], kDiscovered)) << r[8];
    r[8] = "";
  }
  EXPECT_EQ(s.rows[0], (Row{"Local Area Connection", "10.9.0.1", "001b2c3d4e5f", "core-sw1", "4769312f302f",
                            "GigabitEthernet1/0/24", "10.9.0.254", "bR", "", "Switch Software 15.2", "1000M FD", "20"}));
  EXPECT_EQ(s.rows[1], (Row{"Wireless Network Connection", "", "737732", "phone-7", "0004f2aabbcc", "Port 1",
                            "0.0.0.0", "bT", "", "IP Phone", "100M FD", ""}));
  // snmpwalk reads the same neighbours.
  Walk w = WalkOf("1.0.8802.1.1.2.1.4.1.1");
  EXPECT_EQ(w.value("1.0.8802.1.1.2.1.4.1.1.5.1200.1.1"), "00 1b 2c 3d 4e 5f");
  EXPECT_EQ(Shown(*w.find("1.0.8802.1.1.2.1.4.1.1.9.4500.2.3"), 63), "phone-7");
  EXPECT_EQ(w.value("1.0.8802.1.1.2.1.4.1.1.11.1200.1.1"), "01 14");
}

}  // namespace
}  // namespace torvane::netpeek
