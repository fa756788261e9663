// ctest-labels: unit;tshark
// The requests the engine sends, against two independent implementations: the
// bytes net-snmp's snmpget and snmpgetnext send for the same object (printed by
// their -d option; our request-id is set to theirs), and tshark's decode of ours.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "netpeek/snmp_engine.h"
#include "netpeek/snmp_text.h"
#include "tests/netpeek/support/fake_agent.h"
#include "tests/netpeek/support/private_snmpd.h"

namespace torvane::netpeek {
namespace {

using testing::Bytes;

// The first datagram in a net-snmp -d dump: the hex lines after "Sending N bytes".
Bytes SentBytes(const std::string& dump) {
  std::istringstream in(dump);
  std::string line;
  Bytes out;
  bool inside = false;
  while (std::getline(in, line)) {
    if (line.rfind("Sending ", 0) == 0) {
      inside = true;
      continue;
    }
    if (!inside) continue;
    if (line.size() < 6 || line[4] != ':') break;
    // "0000: 30 29 02 01  00 04 ..." then the printable column after 4 blanks.
    std::string hex = line.substr(6, 52);
    std::istringstream h(hex);
    std::string byte;
    while (h >> byte) out.push_back(static_cast<uint8_t>(std::stoul(byte, nullptr, 16)));
  }
  return out;
}

// What the engine sends for one request with the given request-id.
Bytes EngineRequest(uint8_t type, const std::string& oid, int32_t request_id) {
  testing::ScriptedTransport socket;
  socket.keep_sent = true;
  SnmpTarget target;
  target.socket = &socket;
  target.retries = 0;
  target.timeout_ms = 1;
  EXPECT_TRUE(snmp_connect(target, "agent"));
  target.request_counter = static_cast<uint32_t>(request_id) - 1;
  VarBind b;
  b.name = oid_from_text(oid);
  std::span<VarBind> list(&b, 1);
  int32_t es = 0, ei = 0;
  snmp_request(target, type, list, es, ei);
  return socket.sent().empty() ? Bytes{} : socket.sent().front();
}

struct Golden {
  const char* tool;
  uint8_t type;
  const char* oid;
};

const Golden kGolden[] = {
    {"snmpget", asn::kGetRequest, "1.3.6.1.2.1.1.1.0"},
    {"snmpgetnext", asn::kGetNextRequest, "1.3.6.1.2.1.2"},
    {"snmpgetnext", asn::kGetNextRequest, "1.3.6.1.4.1.2021.4294967295.200.0"},
    {"snmpget", asn::kGetRequest, "2.999.1"},
};

TEST(GoldenRequest, SameBytesAsNetSnmp) {
  testing::ScratchDir dir;
  testing::write_file(dir / "snmp.conf", "");
  for (const Golden& g : kGolden) {
    std::string tool = testing::find_program(g.tool);
    if (tool.empty()) GTEST_SKIP() << g.tool << " is not installed";
    // Sent to a port where nobody listens: -d prints the request all the same.
    std::string target = "127.0.0.1:" + std::to_string(testing::closed_udp_port());
    auto r = testing::run_program({tool, "-d", "-v1", "-c", "tarlow", "-r", "0", "-t", "0.2", target, g.oid},
                                  {"MIBS=", "SNMP_PERSISTENT_DIR=" + dir.path(), "SNMPCONFPATH=" + dir.path()});
    Bytes theirs = SentBytes(r.out + r.err);
    ASSERT_FALSE(theirs.empty()) << r.out << r.err;
    testing::ReceivedRequest parsed = testing::parse_request(theirs);
    ASSERT_TRUE(parsed.parsed);
    EXPECT_EQ(EngineRequest(g.type, g.oid, parsed.request_id), theirs) << g.tool << " " << g.oid;
  }
}

void Put32(std::ofstream& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.put(static_cast<char>(v >> (8 * i)));
}
void Put16(std::ofstream& out, uint16_t v) {
  out.put(static_cast<char>(v));
  out.put(static_cast<char>(v >> 8));
}

// Classic pcap of raw IPv4 packets (LINKTYPE_RAW): 127.0.0.1:40000 -> :161 over UDP.
void WritePcap(const std::string& path, const std::vector<Bytes>& messages) {
  std::ofstream out(path, std::ios::binary);
  Put32(out, 0xA1B2C3D4);
  Put16(out, 2);
  Put16(out, 4);
  Put32(out, 0);
  Put32(out, 0);
  Put32(out, 65535);
  Put32(out, 101);
  uint32_t second = 1700000000;
  for (const Bytes& m : messages) {
    Bytes p = {0x45, 0, 0, 0, 0, 1, 0x40, 0, 64, 17, 0, 0, 127, 0, 0, 1, 127, 0, 0, 1};
    size_t total = 20 + 8 + m.size();
    p[2] = static_cast<uint8_t>(total >> 8);
    p[3] = static_cast<uint8_t>(total);
    uint32_t sum = 0;
    for (size_t i = 0; i < 20; i += 2) sum += (p[i] << 8) | p[i + 1];
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    p[10] = static_cast<uint8_t>(~sum >> 8);
    p[11] = static_cast<uint8_t>(~sum);
    size_t udp = 8 + m.size();
    Bytes u = {0x9C, 0x40, 0, 161, static_cast<uint8_t>(udp >> 8), static_cast<uint8_t>(udp), 0, 0};
    p.insert(p.end(), u.begin(), u.end());
    p.insert(p.end(), m.begin(), m.end());
    Put32(out, second++);
    Put32(out, 0);
    Put32(out, static_cast<uint32_t>(p.size()));
    Put32(out, static_cast<uint32_t>(p.size()));
    out.write(reinterpret_cast<const char*>(p.data()), static_cast<std::streamsize>(p.size()));
  }
}

TEST(GoldenRequest, TsharkDecodesOurRequests) {
  std::string tshark = testing::find_program("tshark");
  if (tshark.empty()) GTEST_SKIP() << "tshark is not installed";
  testing::ScratchDir dir;
  // Request-ids chosen by us: 1, a negative one (the counter wrapped), a large one.
  std::vector<Bytes> messages = {EngineRequest(asn::kGetRequest, "1.3.6.1.2.1.1.1.0", 1),
                                 EngineRequest(asn::kGetNextRequest, "1.3.6.1.2.1.2.2.1.10", INT32_MIN),
                                 EngineRequest(asn::kGetNextRequest, "1.0.8802.1.1.2.1.4.1.1.5", 123456789)};
  WritePcap(dir / "ours.pcap", messages);
  auto r = testing::run_program({tshark, "-r", dir / "ours.pcap", "-T", "fields", "-E", "separator=|", "-e",
                                 "snmp.version", "-e", "snmp.community", "-e", "snmp.data", "-e", "snmp.request_id",
                                 "-e", "snmp.error_status", "-e", "snmp.name", "-e", "snmp.value.null", "-e",
                                 "_ws.malformed", "-e", "_ws.expert.severity"},
                                {"HOME=" + dir.path()});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  // version | community | PDU (0 get-request, 1 get-next-request) | request-id |
  // error-status | name | NULL value | malformed | expert severity
  EXPECT_EQ(r.out,
            "0|tarlow|0|1|0|1.3.6.1.2.1.1.1.0|1||\n"
            "0|tarlow|1|-2147483648|0|1.3.6.1.2.1.2.2.1.10|1||\n"
            "0|tarlow|1|123456789|0|1.0.8802.1.1.2.1.4.1.1.5|1||\n");
}

}  // namespace
}  // namespace torvane::netpeek
