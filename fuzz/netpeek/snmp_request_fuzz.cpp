// Random datagrams fed to snmp_request in virtual time, as a walk would issue its
// requests: whatever arrives (junk, late answers, refusals, floods), each request
// must end by its deadline, send at most twice per try, and hand back only an
// answer of the right shape.
//
// Input: byte 0 retries (0..3), byte 1 number of requests (1..8), then arrivals:
// [delay in 10 ms steps][kind][length, 2 bytes big-endian][datagram]; kind 1 is
// an ICMP refusal, 2 an oversize datagram, 3 a socket error, others a datagram.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "netpeek/snmp_engine.h"
#include "netpeek/snmp_text.h"
#include "tests/netpeek/support/fake_agent.h"

using namespace torvane;
using namespace torvane::netpeek;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  ByteReader in(data, size);
  const uint32_t retries = in.u8() & 3;
  const uint8_t second = in.u8();
  const int requests = (second & 7) + 1;
  const bool walk = second & 0x80;

  testing::ScriptedTransport transport;
  int64_t at = 0;
  while (!in.empty()) {
    at += int64_t{in.u8()} * 10;
    uint8_t kind = in.u8();
    uint16_t length = in.u16be();
    auto bytes = in.bytes(length);
    if (!in.ok()) break;
    testing::ScriptedTransport::Arrival a;
    a.at_ms = at;
    a.status = kind == 1 ? IoStatus::kRefused : kind == 2 ? IoStatus::kOversize : kind == 3 ? IoStatus::kFailed : IoStatus::kOk;
    a.bytes.assign(bytes.begin(), bytes.end());
    transport.push(std::move(a));
  }

  BerLog log;
  SnmpTarget target;
  target.socket = &transport;
  target.log = &log;
  target.retries = retries;
  target.timeout_ms = 1000;
  if (!snmp_connect(target, "fuzz")) std::abort();

  VarBind start;
  start.name = oid_from_text("1.3.6.1.2.1");
  std::span<VarBind> list(&start, 1);
  const int64_t deadline = int64_t{retries + 1} * target.timeout_ms;
  for (int i = 0; i < requests; ++i) {
    const int64_t began = transport.now_ms();
    const size_t sentBefore = transport.sends().size();
    int32_t es = 0, ei = 0;
    int answered = snmp_request(target, walk ? asn::kGetNextRequest : asn::kGetRequest, list, es, ei);
    if (transport.now_ms() - began > deadline) std::abort();
    if (transport.sends().size() - sentBefore > 2 * (retries + 1)) std::abort();
    if (!answered) {
      if (target.last_outcome == SnmpOutcome::kReceiveFailed) break;
      continue;
    }
    if (list.size() != 1) std::abort();
    if (target.version != 0 && target.version != 1) std::abort();
    (void)value_to_text(list[0], false);
    if (list[0].name.count() == 0 || list[0].name.count() > kOidMaxSubids) {
      list = std::span<VarBind>(&start, 1);  // nothing to ask next from
    }
  }
  return 0;
}
