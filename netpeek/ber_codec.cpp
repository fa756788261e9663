#include "netpeek/ber_codec.h"

#include <string>

namespace torvane::netpeek {

std::string_view ber_fault_text(BerFault fault) {
  switch (fault) {
    case BerFault::kUnsupportedLength: return "Unsupported length";
    case BerFault::kLengthTooLong: return "length too long";
    case BerFault::kExtensionOctets: return "extension octets not supported";
    case BerFault::kIntTooLong: return "int too long";
    case BerFault::kUintTooLong: return "uint too long";
    case BerFault::kInvalidNull: return "invalid ASN_NULL";
    case BerFault::kUnknownType: return "unknown ASN.1 type";
    case BerFault::kBuildHeader: return "build header";
    case BerFault::kBuildInt: return "build int";
    case BerFault::kBuildString: return "build string";
    case BerFault::kBadHeader: return "bad header";
    case BerFault::kWrongAuthHeaderType: return "wrong auth header type";
    case BerFault::kBadVersion: return "bad parse of version";
    case BerFault::kBadCommunity: return "bad parse of community";
    case BerFault::kEmptyInteger: return "empty integer";
    case BerFault::kSubidTooLarge: return "sub-identifier over 32 bits";
    case BerFault::kTooManySubids: return "too many sub-identifiers";
    case BerFault::kSubidTruncated: return "sub-identifier cut short";
    case BerFault::kOidArcs: return "first arcs out of range";
    case BerFault::kLengthLongFormCut: return "length octets missing";
    case BerFault::kNone:
    case BerFault::kPastEnd:
    case BerFault::kNoRoom:
    case BerFault::kWrongTag:
    case BerFault::kTooBig:
    case BerFault::kBadPduType: return "";
  }
  return "";
}

void BerLog::fault(BerFault fault) {
  last_ = fault;
  ++count_;
  std::string_view text = ber_fault_text(fault);
  if (text.empty() || !sink_) return;
  std::string line = "ASN.1 ";
  line += text;
  line += '\n';
  sink_(line);
}

namespace {

bool Fail(BerLog& log, BerFault fault) {
  log.fault(fault);
  return false;
}

bool IsIntegerLike(uint8_t tag) {
  return tag == asn::kInteger || tag == asn::kCounter || tag == asn::kGauge || tag == asn::kTimeTicks;
}

bool IsOctetLike(uint8_t tag) {
  return tag == asn::kBitString || tag == asn::kOctetString || tag == asn::kSequence ||
         tag == asn::kIpAddress || tag == asn::kOpaque;
}

bool IsPduType(uint8_t tag) { return tag >= asn::kGetRequest && tag <= asn::kSetRequest; }

// Big-endian base-128 groups, as few as the value needs; every group but the last
// carries the high bit.
void PutBase128(ByteWriter& out, uint32_t value) {
  int groups = 1;
  while (groups < 5 && (value >> (7 * groups)) != 0) ++groups;
  for (int g = groups - 1; g > 0; --g) out.u8(static_cast<uint8_t>(0x80 | ((value >> (7 * g)) & 0x7F)));
  out.u8(static_cast<uint8_t>(value & 0x7F));
}

}  // namespace

// ---- primitive decoders ----

bool ber_decode_length(ByteReader& in, uint32_t& length, BerLog& log) {
  uint8_t first = in.u8();
  if (!in.ok()) return Fail(log, BerFault::kPastEnd);
  if (first < 0x80) {
    length = first;
    return true;
  }
  size_t n = first & 0x7F;
  if (n == 0 || n > 4) return Fail(log, BerFault::kUnsupportedLength);
  // The length octets are read only when they are there: a datagram that ends
  // inside a long-form length is refused, not read past.
  if (in.remaining() < n) return Fail(log, BerFault::kLengthLongFormCut);
  uint32_t value = 0;
  for (size_t i = 0; i < n; ++i) value = (value << 8) | in.u8();
  length = value;
  return true;
}

bool ber_decode_header(ByteReader& in, uint8_t& tag, ByteReader& content, BerLog& log) {
  uint8_t id = in.u8();
  if (!in.ok()) return Fail(log, BerFault::kPastEnd);
  if ((id & 0x1F) == 0x1F) return Fail(log, BerFault::kExtensionOctets);
  uint32_t length = 0;
  if (!ber_decode_length(in, length, log)) return false;
  // size_t against size_t: a length near 2^32 cannot wrap the comparison.
  if (static_cast<uint64_t>(length) > static_cast<uint64_t>(in.remaining()))
    return Fail(log, BerFault::kPastEnd);
  tag = id;
  content = in.sub(length);
  return true;
}

bool ber_decode_int(ByteReader& in, uint8_t& tag, int32_t& value, BerLog& log) {
  ByteReader c;
  if (!ber_decode_header(in, tag, c, log)) return false;
  size_t n = c.remaining();
  if (n == 0) return Fail(log, BerFault::kEmptyInteger);
  if (n >= 5) return Fail(log, BerFault::kIntTooLong);
  uint8_t first = c.u8();
  uint32_t u = (first & 0x80) ? 0xFFFFFFFFu : 0u;
  u = (u << 8) | first;
  for (size_t i = 1; i < n; ++i) u = (u << 8) | c.u8();
  value = static_cast<int32_t>(u);
  return true;
}

bool ber_decode_uint(ByteReader& in, uint8_t& tag, uint32_t& value, BerLog& log) {
  ByteReader c;
  if (!ber_decode_header(in, tag, c, log)) return false;
  size_t n = c.remaining();
  if (n == 0) return Fail(log, BerFault::kEmptyInteger);
  if (n > 5 || (n == 5 && *c.cursor() != 0)) return Fail(log, BerFault::kUintTooLong);
  uint32_t u = 0;
  for (size_t i = 0; i < n; ++i) u = (u << 8) | c.u8();
  value = u;
  return true;
}

bool ber_decode_octets(ByteReader& in, uint8_t& tag, std::span<uint8_t> buffer, size_t& length,
                       BerLog& log) {
  ByteReader c;
  if (!ber_decode_header(in, tag, c, log)) return false;
  if (c.remaining() > buffer.size()) return Fail(log, BerFault::kTooBig);
  length = c.remaining();
  c.copy(buffer.data(), length);
  return true;
}

bool ber_decode_oid(ByteReader& in, uint8_t& tag, Oid& oid, BerLog& log) {
  ByteReader c;
  if (!ber_decode_header(in, tag, c, log)) return false;
  oid.subids.clear();
  uint64_t value = 0;
  bool inGroup = false;
  bool first = true;
  while (!c.empty()) {
    uint8_t b = c.u8();
    value = (value << 7) | (b & 0x7F);
    if (value > 0xFFFFFFFFu) return Fail(log, BerFault::kSubidTooLarge);
    if (b & 0x80) {
      inGroup = true;
      continue;
    }
    inGroup = false;
    uint32_t v = static_cast<uint32_t>(value);
    value = 0;
    if (first) {
      first = false;
      // X.690: arcs 0 and 1 take 40 second arcs each; everything from 80 on is arc 2.
      uint32_t arc = v < 40 ? 0 : v < 80 ? 1 : 2;
      oid.subids.push_back(arc);
      oid.subids.push_back(v - 40 * arc);
    } else {
      if (oid.subids.size() >= kOidMaxSubids) return Fail(log, BerFault::kTooManySubids);
      oid.subids.push_back(v);
    }
  }
  if (inGroup) return Fail(log, BerFault::kSubidTruncated);
  return true;
}

bool ber_decode_null(ByteReader& in, uint8_t& tag, BerLog& log) {
  ByteReader c;
  if (!ber_decode_header(in, tag, c, log)) return false;
  if (!c.empty()) return Fail(log, BerFault::kInvalidNull);
  return true;
}

// ---- primitive encoders ----

bool ber_encode_length(ByteWriter& out, uint32_t length, BerLog& log) {
  if (length < 0x80) {
    out.u8(static_cast<uint8_t>(length));
  } else if (length < 0x100) {
    out.u8(0x81);
    out.u8(static_cast<uint8_t>(length));
  } else if (length < 0x10000) {
    out.u8(0x82);
    out.u16be(static_cast<uint16_t>(length));
  } else {
    return Fail(log, BerFault::kLengthTooLong);
  }
  return out.ok() ? true : Fail(log, BerFault::kNoRoom);
}

bool ber_encode_header(ByteWriter& out, uint8_t tag, uint32_t length, BerLog& log) {
  out.u8(tag);
  if (!out.ok()) return Fail(log, BerFault::kNoRoom);
  return ber_encode_length(out, length, log);
}

bool ber_encode_int(ByteWriter& out, uint8_t tag, int32_t value, BerLog& log) {
  // Drop the top octet while the top 9 bits are all 0 or all 1.
  int n = 4;
  while (n > 1) {
    int32_t top = value >> (8 * (n - 1) - 1);
    if (top != 0 && top != -1) break;
    --n;
  }
  if (!ber_encode_header(out, tag, static_cast<uint32_t>(n), log)) return false;
  uint32_t u = static_cast<uint32_t>(value);
  for (int i = n - 1; i >= 0; --i) out.u8(static_cast<uint8_t>(u >> (8 * i)));
  return out.ok() ? true : Fail(log, BerFault::kNoRoom);
}

bool ber_encode_octets(ByteWriter& out, uint8_t tag, std::span<const uint8_t> bytes, BerLog& log) {
  if (bytes.size() > 0xFFFFFFFFu) return Fail(log, BerFault::kLengthTooLong);
  if (!ber_encode_header(out, tag, static_cast<uint32_t>(bytes.size()), log)) return false;
  out.bytes(bytes);
  return out.ok() ? true : Fail(log, BerFault::kNoRoom);
}

bool ber_encode_oid(ByteWriter& out, uint8_t tag, const Oid& oid, BerLog& log) {
  if (oid.count() > kOidMaxSubids) return Fail(log, BerFault::kTooManySubids);
  uint8_t content[kOidMaxContent];
  ByteWriter c(content, sizeof content);
  if (oid.count() >= 2) {
    uint32_t a = oid.subids[0], b = oid.subids[1];
    if (a > 2 || (a < 2 && b >= 40)) return Fail(log, BerFault::kOidArcs);
    uint64_t combined = 40ull * a + b;
    if (combined > 0xFFFFFFFFu) return Fail(log, BerFault::kOidArcs);
    PutBase128(c, static_cast<uint32_t>(combined));
    for (size_t i = 2; i < oid.count(); ++i) PutBase128(c, oid.subids[i]);
  }
  if (!c.ok()) return Fail(log, BerFault::kTooManySubids);
  if (!ber_encode_header(out, tag, static_cast<uint32_t>(c.size()), log)) return false;
  out.bytes(content, c.size());
  return out.ok() ? true : Fail(log, BerFault::kNoRoom);
}

bool ber_encode_null(ByteWriter& out, uint8_t tag, BerLog& log) {
  return ber_encode_header(out, tag, 0, log);
}

// ---- message level ----

bool snmp_build_message_header(ByteWriter& out, std::string_view community, int32_t version,
                               size_t pdu_length, BerLog& log) {
  uint8_t inner[8 + kCommunityMax];
  ByteWriter w(inner, sizeof inner);
  if (!ber_encode_int(w, asn::kInteger, version, log)) return Fail(log, BerFault::kBuildInt);
  if (community.size() > kCommunityMax ||
      !ber_encode_octets(w, asn::kOctetString,
                         {reinterpret_cast<const uint8_t*>(community.data()), community.size()}, log))
    return Fail(log, BerFault::kBuildString);
  uint64_t total = static_cast<uint64_t>(w.size()) + pdu_length;
  if (total > 0xFFFFFFFFu || !ber_encode_header(out, asn::kSequence, static_cast<uint32_t>(total), log))
    return Fail(log, BerFault::kBuildHeader);
  out.bytes(inner, w.size());
  return out.ok() ? true : Fail(log, BerFault::kBuildHeader);
}

bool snmp_parse_message_header(ByteReader& in, MessageHeader& header, ByteReader& pdu, BerLog& log) {
  uint8_t tag = 0;
  ByteReader message;
  if (!ber_decode_header(in, tag, message, log)) return Fail(log, BerFault::kBadHeader);
  if (tag != asn::kSequence) return Fail(log, BerFault::kWrongAuthHeaderType);
  if (!ber_decode_int(message, tag, header.version, log)) return Fail(log, BerFault::kBadVersion);
  uint8_t community[kCommunityMax];
  size_t length = 0;
  if (!ber_decode_octets(message, tag, community, length, log)) return Fail(log, BerFault::kBadCommunity);
  header.community.assign(reinterpret_cast<const char*>(community), length);
  pdu = message;
  return true;
}

bool snmp_build_varbind(ByteWriter& out, const VarBind& binding, BerLog& log) {
  uint8_t scratch[kSnmpDatagramMax];
  ByteWriter s(scratch, sizeof scratch);
  if (!ber_encode_oid(s, asn::kObjectId, binding.name, log)) return false;
  bool ok = false;
  switch (binding.type) {
    case asn::kInteger:
    case asn::kCounter:
    case asn::kGauge:
    case asn::kTimeTicks:
      ok = ber_encode_int(s, binding.type, static_cast<int32_t>(binding.number), log);
      break;
    case asn::kOctetString:
    case asn::kIpAddress:
    case asn::kOpaque:
      ok = ber_encode_octets(s, binding.type, binding.octets, log);
      break;
    case asn::kNull:
      ok = ber_encode_null(s, asn::kNull, log);
      break;
    case asn::kObjectId:
      ok = ber_encode_oid(s, asn::kObjectId, binding.oid, log);
      break;
    default:
      return Fail(log, BerFault::kUnknownType);
  }
  if (!ok) return false;
  if (!ber_encode_header(out, asn::kSequence, static_cast<uint32_t>(s.size()), log)) return false;
  out.bytes(scratch, s.size());
  return out.ok() ? true : Fail(log, BerFault::kNoRoom);
}

bool snmp_parse_varbind(ByteReader& in, VarBind& binding, BerLog& log) {
  varbind_release({&binding, 1}, true);
  uint8_t tag = 0;
  ByteReader seq;
  if (!ber_decode_header(in, tag, seq, log)) return false;
  if (tag != asn::kSequence) return Fail(log, BerFault::kWrongTag);
  if (!ber_decode_oid(seq, tag, binding.name, log)) return false;
  if (tag != asn::kObjectId) return Fail(log, BerFault::kWrongTag);

  ByteReader probe = seq;
  uint8_t valueTag = 0;
  ByteReader content;
  if (!ber_decode_header(probe, valueTag, content, log)) return false;
  binding.type = valueTag;
  if (IsIntegerLike(valueTag)) return ber_decode_uint(seq, tag, binding.number, log);
  if (IsOctetLike(valueTag)) {
    auto bytes = content.rest();
    binding.octets.assign(bytes.begin(), bytes.end());
    return true;
  }
  if (valueTag == asn::kNull) return ber_decode_null(seq, tag, log);
  if (valueTag == asn::kObjectId) return ber_decode_oid(seq, tag, binding.oid, log);
  // Any other type (a Counter64, an SNMPv2 exception) is passed over: the binding
  // keeps its type and no value.
  return true;
}

int snmp_build_pdu(const Pdu& pdu, std::span<uint8_t> out, size_t& length, BerLog& log) {
  length = 0;
  uint8_t bindings[kSnmpDatagramMax];
  ByteWriter b(bindings, sizeof bindings);
  for (const VarBind& v : pdu.bindings)
    if (!snmp_build_varbind(b, v, log)) return -1;
  if (!IsPduType(pdu.type)) {
    log.fault(BerFault::kBadPduType);
    return -1;
  }
  uint8_t content[kSnmpDatagramMax];
  ByteWriter c(content, sizeof content);
  if (!ber_encode_int(c, asn::kInteger, pdu.request_id, log) ||
      !ber_encode_int(c, asn::kInteger, pdu.error_status, log) ||
      !ber_encode_int(c, asn::kInteger, pdu.error_index, log) ||
      !ber_encode_header(c, asn::kSequence, static_cast<uint32_t>(b.size()), log))
    return -1;
  c.bytes(bindings, b.size());
  if (!c.ok()) {
    log.fault(BerFault::kNoRoom);
    return -1;
  }
  ByteWriter o(out);
  if (!ber_encode_header(o, pdu.type, static_cast<uint32_t>(c.size()), log)) return -1;
  o.bytes(content, c.size());
  if (!o.ok()) {
    log.fault(BerFault::kNoRoom);
    return -1;
  }
  length = o.size();
  return 0;
}

int snmp_parse_pdu(Pdu& pdu, ByteReader& in, BerLog& log) {
  varbind_release(pdu.storage, true);
  pdu.bindings = {};
  uint8_t tag = 0;
  ByteReader body;
  if (!ber_decode_header(in, tag, body, log)) return -1;
  pdu.type = tag;
  if (!IsPduType(tag)) {
    log.fault(BerFault::kBadPduType);
    return -8;
  }
  if (!ber_decode_int(body, tag, pdu.request_id, log)) return -2;
  if (!ber_decode_int(body, tag, pdu.error_status, log)) return -3;
  if (!ber_decode_int(body, tag, pdu.error_index, log)) return -4;
  ByteReader list;
  if (!ber_decode_header(body, tag, list, log)) return -9;
  if (tag != asn::kSequence) {
    log.fault(BerFault::kWrongTag);
    return -10;
  }
  size_t count = 0;
  while (!list.empty() && count < kPduMaxBindings) {
    if (!snmp_parse_varbind(list, pdu.storage[count], log)) {
      varbind_release({&pdu.storage[count], 1}, true);
      pdu.bindings = {pdu.storage.data(), count};
      return -11;
    }
    ++count;
  }
  pdu.bindings = {pdu.storage.data(), count};
  return 0;
}

void varbind_release(std::span<VarBind> bindings, bool also_names) {
  for (VarBind& v : bindings) {
    std::vector<uint8_t>().swap(v.octets);
    std::vector<uint32_t>().swap(v.oid.subids);
    v.number = 0;
    v.type = asn::kNull;
    if (also_names) std::vector<uint32_t>().swap(v.name.subids);
  }
}

int snmp_build_request(const Pdu& pdu, std::string_view community, int32_t version,
                       std::span<uint8_t> out, size_t& length, BerLog& log) {
  length = 0;
  uint8_t encoded[kSnmpDatagramMax];
  size_t pduLength = 0;
  if (snmp_build_pdu(pdu, encoded, pduLength, log) != 0) return -1;
  ByteWriter w(out);
  if (!snmp_build_message_header(w, community, version, pduLength, log)) return -2;
  if (w.room() < pduLength) return -3;
  w.bytes(encoded, pduLength);
  length = w.size();
  return 0;
}

}  // namespace torvane::netpeek
