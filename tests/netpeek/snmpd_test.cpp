// ctest-labels: unit;snmpd
// The program against a real net-snmp snmpd on 127.0.0.1 (a private one: its own
// configuration, community "tarlow", a view of .1), compared with net-snmp's own
// managers: a walk of the interfaces group object by object, sysDescr, and a
// wrong community.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "tests/netpeek/support/private_snmpd.h"

namespace torvane::netpeek {
namespace {

using testing::RunResult;

using Object = testing::NetSnmpObject;
using testing::normal_hex;

std::string TextAsHex(const std::string& text) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : text) {
    if (!out.empty()) out += ' ';
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

// Our text form back to bytes: with any byte above 0x7E, such bytes are written
// "\0xNN" and every backslash doubled.
std::string Unescape(const std::string& t) {
  if (t.find("\\0x") == std::string::npos) return t;
  std::string out;
  for (size_t i = 0; i < t.size(); ++i) {
    if (t[i] == '\\' && i + 1 < t.size() && t[i + 1] == '\\') {
      out += '\\';
      ++i;
    } else if (t[i] == '\\' && i + 4 < t.size() && t[i + 1] == '0' && t[i + 2] == 'x') {
      out += static_cast<char>(std::stoul(t.substr(i + 3, 2), nullptr, 16));
      i += 4;
    } else {
      out += t[i];
    }
  }
  return out;
}

// Our OCTET STRING text back to bytes: hex form when it is "xx " groups, else text.
bool IsHexForm(const std::string& t) {
  if (t.size() % 3 != 0) return false;
  for (size_t i = 0; i < t.size(); i += 3)
    if (!std::isxdigit(static_cast<unsigned char>(t[i])) || !std::isxdigit(static_cast<unsigned char>(t[i + 1])) ||
        t[i + 2] != ' ')
      return false;
  return true;
}

// Our saved walk: "oid\ttype\ttext" per object.
std::vector<Object> ParseOurs(const std::string& text, bool* ended) {
  std::vector<Object> out;
  std::istringstream in(text);
  std::string line;
  *ended = false;
  while (std::getline(in, line)) {
    if (line == "end of MIB tree\t\t") {
      *ended = true;
      continue;
    }
    size_t a = line.find('\t'), b = line.find('\t', a + 1);
    Object o{line.substr(0, a), line.substr(a + 1, b - a - 1), line.substr(b + 1)};
    if (o.type == "Integer") o.value = o.value.substr(0, o.value.find(' '));
    if (o.type == "Octetstring") o.value = IsHexForm(o.value) ? normal_hex(o.value) : TextAsHex(Unescape(o.value));
    out.push_back(o);
  }
  return out;
}

class AgainstSnmpd : public ::testing::Test {
 protected:
  void SetUp() override {
    if (testing::find_program("snmpd").empty() || testing::find_program("snmpwalk").empty())
      GTEST_SKIP() << "snmpd and snmp (net-snmp) are not installed";
    std::string why;
    ASSERT_TRUE(snmpd_.start(&why)) << why;
  }

  RunResult Netpeek(std::vector<std::string> args) {
    args.insert(args.begin(), NETPEEK_BINARY);
    return testing::run_program(args, {"NETPEEK_SNMP_PORT=" + std::to_string(snmpd_.port())}, work_.path());
  }
  RunResult NetSnmp(const std::string& tool, std::vector<std::string> args) { return snmpd_.net_snmp(tool, args); }

  testing::PrivateSnmpd snmpd_;
  testing::ScratchDir work_;
};

TEST_F(AgainstSnmpd, DumpOfInterfacesEqualsSnmpwalk) {
  RunResult ours = Netpeek({"-s", "127.0.0.1", "dump", "in", "2"});
  ASSERT_EQ(ours.exit_code, 0) << ours.err;
  RunResult theirs = NetSnmp("snmpwalk", {"1.3.6.1.2.1.2"});
  ASSERT_EQ(theirs.exit_code, 0) << theirs.err;

  bool ended = false;
  std::vector<Object> a = ParseOurs(testing::read_file(work_ / "127.0.0.1 - 1.3.6.1.2.1.2.txt"), &ended);
  std::vector<Object> b = testing::parse_net_snmp(theirs.out);
  EXPECT_TRUE(ended);
  ASSERT_GT(b.size(), 20u);
  ASSERT_EQ(a.size(), b.size());
  const std::pair<const char*, const char*> kTypes[] = {{"Integer", "INTEGER"},  {"Octetstring", "Hex-STRING"},
                                                        {"Counter", "Counter32"}, {"Gauge", "Gauge32"},
                                                        {"TimeTicks", "Timeticks"}, {"OID", "OID"},
                                                        {"IP-Address", "IpAddress"}};
  for (size_t i = 0; i < a.size(); ++i) {
    SCOPED_TRACE(b[i].oid);
    ASSERT_EQ(a[i].oid, b[i].oid);
    bool known = false;
    for (auto [ourType, theirType] : kTypes)
      if (a[i].type == ourType) {
        known = true;
        EXPECT_EQ(b[i].type, theirType);
      }
    EXPECT_TRUE(known) << a[i].type;
    if (a[i].type == "Counter") {
      // Traffic counters of the interfaces move between the two walks (the walks
      // themselves run over lo): ours came first, so never ahead.
      uint64_t x = std::stoull(a[i].value), y = std::stoull(b[i].value);
      EXPECT_LE(x, y);
      EXPECT_LT(y - x, 100000000u);
    } else {
      EXPECT_EQ(a[i].value, b[i].value);
    }
  }
}

TEST_F(AgainstSnmpd, GetOfSysDescrEqualsSnmpget) {
  RunResult ours = Netpeek({"-s", "127.0.0.1", "get"});
  ASSERT_EQ(ours.exit_code, 0) << ours.err;
  RunResult theirs = NetSnmp("snmpget", {"1.3.6.1.2.1.1.1.0"});
  ASSERT_EQ(theirs.exit_code, 0) << theirs.err;
  bool ended = true;
  std::vector<Object> a = ParseOurs(testing::read_file(work_ / "127.0.0.1 - 1.3.6.1.2.1.1.1.0.txt"), &ended);
  std::vector<Object> b = testing::parse_net_snmp(theirs.out);
  EXPECT_FALSE(ended);
  ASSERT_EQ(a.size(), 1u);
  ASSERT_EQ(b.size(), 1u);
  EXPECT_EQ(a[0].oid, "1.3.6.1.2.1.1.1.0");
  EXPECT_EQ(a[0].type, "Octetstring");
  // A printable description is shown as text.
  std::string line = testing::read_file(work_ / "127.0.0.1 - 1.3.6.1.2.1.1.1.0.txt");
  EXPECT_FALSE(IsHexForm(line.substr(line.rfind('\t') + 1, line.size() - line.rfind('\t') - 2)));
  EXPECT_EQ(a[0].value, b[0].value);
}

TEST_F(AgainstSnmpd, WrongCommunityGivesUpAfterThreeSends) {
  RunResult ours = Netpeek({"-s", "-c", "wrong", "127.0.0.1", "dump", "in", "2"});
  EXPECT_EQ(ours.exit_code, 2);
  EXPECT_EQ(ours.err, "SNMP retry count exceeded\n");
  // Three sends one second apart, then the end.
  EXPECT_GE(ours.seconds, 2.9);
  EXPECT_LT(ours.seconds, 4.5);
  // The view was still saved: its title and no rows.
  EXPECT_EQ(testing::read_file(work_ / "127.0.0.1 - 1.3.6.1.2.1.2.txt"), "");
}

}  // namespace
}  // namespace torvane::netpeek
