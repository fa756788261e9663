// Any datagram as a received SNMP message: the header and PDU parsers, the text
// forms of every value, release; and for what parses, a round trip: built again
// and parsed again it must give the same records, and a second build is stable.
// Input that is no message is also tried as a bare PDU.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "netpeek/ber_codec.h"
#include "netpeek/snmp_text.h"

using namespace torvane;
using namespace torvane::netpeek;

namespace {

struct Parsed {
  MessageHeader header;
  Pdu pdu;
};

bool Parse(const uint8_t* data, size_t size, Parsed& p, BerLog& log) {
  ByteReader in(data, size);
  ByteReader body;
  if (!snmp_parse_message_header(in, p.header, body, log)) return false;
  return snmp_parse_pdu(p.pdu, body, log) == 0;
}

void Exercise(const Pdu& pdu) {
  for (const VarBind& b : pdu.bindings) {
    (void)oid_to_text(b.name);
    (void)value_to_text(b, false);
    (void)value_to_text(b, true);
    uint32_t n = 7;
    (void)value_as_number(b, n, 0);
    (void)value_as_string(b, 64);
    (void)value_as_string(b, 1);
  }
}

std::vector<uint8_t> Build(const Parsed& p, BerLog& log) {
  uint8_t out[kSnmpDatagramMax];
  size_t length = 0;
  if (snmp_build_request(p.pdu, p.header.community, p.header.version, out, length, log) != 0) return {};
  return std::vector<uint8_t>(out, out + length);
}

void Check(bool condition) {
  if (!condition) std::abort();
}

bool SameExceptNumbers(const Parsed& a, const Parsed& b) {
  if (a.header.version != b.header.version || a.header.community != b.header.community) return false;
  if (a.pdu.type != b.pdu.type || a.pdu.request_id != b.pdu.request_id ||
      a.pdu.error_status != b.pdu.error_status || a.pdu.error_index != b.pdu.error_index)
    return false;
  if (a.pdu.binding_count() != b.pdu.binding_count()) return false;
  for (size_t i = 0; i < a.pdu.binding_count(); ++i) {
    const VarBind &x = a.pdu.bindings[i], &y = b.pdu.bindings[i];
    if (!(x.name == y.name) || x.type != y.type || x.octets != y.octets || !(x.oid == y.oid)) return false;
    // Values below 2^31 come back as they were; larger ones are written in their
    // signed form, which the unsigned reading does not extend.
    if (x.number < 0x80000000u && x.number != y.number) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kSnmpDatagramMax) return 0;  // the engine drops longer datagrams whole
  BerLog log;
  Parsed first;
  if (!Parse(data, size, first, log)) {
    Pdu pdu;
    ByteReader in(data, size);
    snmp_parse_pdu(pdu, in, log);
    Exercise(pdu);
    varbind_release(pdu.storage, true);
    return 0;
  }
  Exercise(first.pdu);

  std::vector<uint8_t> built = Build(first, log);
  if (built.empty()) {
    // Only these stop a parsed message from being built again: a value type the
    // builder does not write, an identifier over 128 content octets, or a result
    // over 1460 bytes (an INTEGER of value 128 and up grows by a sign octet).
    Check(log.last() == BerFault::kUnknownType || log.last() == BerFault::kTooManySubids ||
          log.last() == BerFault::kNoRoom);
    return 0;
  }
  Parsed second;
  Check(Parse(built.data(), built.size(), second, log));
  Check(SameExceptNumbers(first, second));
  // Built again from what came back, the bytes no longer change (the first build
  // may still turn a large unsigned value into its shorter signed form).
  std::vector<uint8_t> again = Build(second, log);
  if (again.empty()) {
    Check(log.last() == BerFault::kNoRoom);  // a sign octet more, past 1460 bytes
    return 0;
  }
  Parsed third;
  Check(Parse(again.data(), again.size(), third, log));
  Check(SameExceptNumbers(second, third));
  for (size_t i = 0; i < second.pdu.binding_count(); ++i)
    Check(second.pdu.bindings[i].number == third.pdu.bindings[i].number);
  Check(Build(third, log) == again);
  varbind_release(first.pdu.storage, true);
  return 0;
}
