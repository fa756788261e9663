// The viewer's codec per request and per response: building a GetNext request
// message, parsing a captured snmpd response and turning its value into text.
#include <benchmark/benchmark.h>

#include <vector>

#include "netpeek/ber_codec.h"
#include "netpeek/snmp_text.h"

namespace {

using namespace torvane;
using namespace torvane::netpeek;

// snmpd's answer to a GetRequest of sysDescr (the codec test's capture).
const std::vector<uint8_t> kResponse = {
    0x30, 0x63, 0x02, 0x01, 0x00, 0x04, 0x06, 0x74, 0x61, 0x72, 0x6C, 0x6F, 0x77, 0xA2, 0x56, 0x02, 0x04, 0x5F,
    0xBF, 0xB1, 0xD2, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00, 0x30, 0x48, 0x30, 0x46, 0x06, 0x08, 0x2B, 0x06, 0x01,
    0x02, 0x01, 0x01, 0x01, 0x00, 0x04, 0x3A, 0x4C, 0x69, 0x6E, 0x75, 0x78, 0x20, 0x76, 0x6D, 0x20, 0x36, 0x2E,
    0x31, 0x38, 0x2E, 0x34, 0x34, 0x2D, 0x66, 0x63, 0x2D, 0x76, 0x31, 0x33, 0x30, 0x30, 0x20, 0x23, 0x31, 0x20,
    0x53, 0x4D, 0x50, 0x20, 0x50, 0x52, 0x45, 0x45, 0x4D, 0x50, 0x54, 0x5F, 0x44, 0x59, 0x4E, 0x41, 0x4D, 0x49,
    0x43, 0x20, 0x40, 0x30, 0x20, 0x78, 0x38, 0x36, 0x5F, 0x36, 0x34};

void BM_BuildGetNextRequest(benchmark::State& state) {
  VarBind b;
  b.name = oid_from_text("1.3.6.1.2.1.2.2.1.10.4");
  Pdu pdu;
  pdu.type = asn::kGetNextRequest;
  pdu.bindings = {&b, 1};
  BerLog log;
  uint8_t out[kSnmpDatagramMax];
  for (auto _ : state) {
    size_t length = 0;
    ++pdu.request_id;
    benchmark::DoNotOptimize(snmp_build_request(pdu, "tarlow", 0, out, length, log));
  }
}
BENCHMARK(BM_BuildGetNextRequest);

void BM_ParseResponse(benchmark::State& state) {
  BerLog log;
  Pdu pdu;
  for (auto _ : state) {
    ByteReader in(kResponse.data(), kResponse.size());
    MessageHeader header;
    ByteReader body;
    benchmark::DoNotOptimize(snmp_parse_message_header(in, header, body, log));
    benchmark::DoNotOptimize(snmp_parse_pdu(pdu, body, log));
  }
}
BENCHMARK(BM_ParseResponse);

void BM_ValueToText(benchmark::State& state) {
  BerLog log;
  Pdu pdu;
  ByteReader in(kResponse.data(), kResponse.size());
  MessageHeader header;
  ByteReader body;
  snmp_parse_message_header(in, header, body, log);
  snmp_parse_pdu(pdu, body, log);
  for (auto _ : state) benchmark::DoNotOptimize(value_to_text(pdu.bindings[0], false));
}
BENCHMARK(BM_ValueToText);

}  // namespace
