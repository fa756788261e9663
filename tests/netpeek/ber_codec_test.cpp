// The codec: the Part's vectors, a response captured from net-snmp's snmpd, and
// one negative case per malformed shape in one table, each with its exact fault.
#include "netpeek/ber_codec.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "netpeek/snmp_text.h"

namespace torvane::netpeek {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Hex(std::string_view text) {
  Bytes out;
  int nibble = -1;
  for (char c : text) {
    int v = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    if (v < 0) continue;
    if (nibble < 0) {
      nibble = v;
    } else {
      out.push_back(static_cast<uint8_t>(nibble << 4 | v));
      nibble = -1;
    }
  }
  return out;
}

struct Recorder {
  std::string lines;
  BerLog log{[this](std::string_view l) { lines += l; }};
};

template <typename F>
Bytes Encode(F f) {
  uint8_t buffer[kSnmpDatagramMax];
  ByteWriter w(buffer, sizeof buffer);
  BerLog log;
  if (!f(w, log)) return {0xEE};
  return Bytes(buffer, buffer + w.size());
}

TEST(BerLength, EncodesShortAndLongForms) {
  EXPECT_EQ(Encode([](ByteWriter& w, BerLog& l) { return ber_encode_length(w, 127, l); }), Hex("7F"));
  EXPECT_EQ(Encode([](ByteWriter& w, BerLog& l) { return ber_encode_length(w, 128, l); }), Hex("81 80"));
  EXPECT_EQ(Encode([](ByteWriter& w, BerLog& l) { return ber_encode_length(w, 256, l); }), Hex("82 01 00"));
  Recorder r;
  uint8_t buffer[8];
  ByteWriter w(buffer, sizeof buffer);
  EXPECT_FALSE(ber_encode_length(w, 65536, r.log));
  EXPECT_EQ(r.lines, "ASN.1 length too long\n");
}

TEST(BerLength, AcceptsFourLengthOctets) {
  Bytes b = Hex("84 00 00 00 05");
  ByteReader in(b.data(), b.size());
  uint32_t length = 0;
  BerLog log;
  ASSERT_TRUE(ber_decode_length(in, length, log));
  EXPECT_EQ(length, 5u);
}

TEST(BerInteger, EncodesMinimalTwosComplement) {
  auto enc = [](int32_t v) { return Encode([v](ByteWriter& w, BerLog& l) { return ber_encode_int(w, 0x02, v, l); }); };
  EXPECT_EQ(enc(0), Hex("02 01 00"));
  EXPECT_EQ(enc(127), Hex("02 01 7F"));
  EXPECT_EQ(enc(128), Hex("02 02 00 80"));
  EXPECT_EQ(enc(-1), Hex("02 01 FF"));
  EXPECT_EQ(enc(static_cast<int32_t>(0x80000000u)), Hex("02 04 80 00 00 00"));
}

TEST(BerInteger, UnsignedValueAndSignedHeaderFieldsDifferForFF) {
  Bytes b = Hex("02 01 FF");
  BerLog log;
  uint8_t tag = 0;
  ByteReader a(b.data(), b.size());
  uint32_t u = 0;
  ASSERT_TRUE(ber_decode_uint(a, tag, u, log));
  EXPECT_EQ(u, 255u);
  ByteReader s(b.data(), b.size());
  int32_t i = 0;
  ASSERT_TRUE(ber_decode_int(s, tag, i, log));
  EXPECT_EQ(i, -1);
  Bytes counter = Hex("41 05 00 FF FF FF FF");
  ByteReader c(counter.data(), counter.size());
  ASSERT_TRUE(ber_decode_uint(c, tag, u, log));
  EXPECT_EQ(u, 0xFFFFFFFFu);
  EXPECT_EQ(tag, asn::kCounter);
}

TEST(BerOid, EncodesTheVectors) {
  auto enc = [](const char* text) {
    Oid oid = oid_from_text(text);
    return Encode([&](ByteWriter& w, BerLog& l) { return ber_encode_oid(w, 0x06, oid, l); });
  };
  EXPECT_EQ(enc("1.3.6.1.2.1.1.1.0"), Hex("06 08 2B 06 01 02 01 01 01 00"));
  EXPECT_EQ(enc("1.3.200"), Hex("06 03 2B 81 48"));
  EXPECT_EQ(enc("1.3.4294967295"), Hex("06 06 2B 8F FF FF FF 7F"));
  EXPECT_EQ(enc("2.999"), Hex("06 02 88 37"));
  EXPECT_EQ(enc("1"), Hex("06 00"));
}

TEST(BerOid, FirstArcsFollowX690) {
  struct Case {
    const char* bytes;
    const char* text;
  } cases[] = {{"06 01 27", "0.39"}, {"06 01 28", "1.0"}, {"06 01 4F", "1.39"},
               {"06 01 50", "2.0"},  {"06 02 88 37", "2.999"}, {"06 00", ""}};
  for (const Case& c : cases) {
    Bytes b = Hex(c.bytes);
    ByteReader in(b.data(), b.size());
    uint8_t tag = 0;
    Oid oid;
    BerLog log;
    ASSERT_TRUE(ber_decode_oid(in, tag, oid, log)) << c.bytes;
    EXPECT_EQ(oid_to_text(oid), c.text) << c.bytes;
  }
}

// snmpd's answer to snmpget -v1 -c tarlow 1.3.6.1.2.1.1.1.0 (captured with -d):
// SEQUENCE { version 0, community "tarlow", GetResponse { request-id 0x5FBFB1D2,
// error-status 0, error-index 0, bindings { { 1.3.6.1.2.1.1.1.0, OCTET STRING
// "Linux vm 6.18.44-fc-v1300 #1 SMP PREEMPT_DYNAMIC @0 x86_64" } } } }
constexpr char kCapturedSysDescr[] =
    "30 63 02 01 00 04 06 74 61 72 6C 6F 77 A2 56 02 04 5F BF B1 D2 02 01 00 02 01 00 30 48 30 46 06"
    "08 2B 06 01 02 01 01 01 00 04 3A 4C 69 6E 75 78 20 76 6D 20 36 2E 31 38 2E 34 34 2D 66 63 2D 76"
    "31 33 30 30 20 23 31 20 53 4D 50 20 50 52 45 45 4D 50 54 5F 44 59 4E 41 4D 49 43 20 40 30 20 78"
    "38 36 5F 36 34";

TEST(SnmpMessage, DecodesCapturedSnmpdResponse) {
  Bytes b = Hex(kCapturedSysDescr);
  ByteReader in(b.data(), b.size());
  MessageHeader header;
  ByteReader pduBytes;
  BerLog log;
  ASSERT_TRUE(snmp_parse_message_header(in, header, pduBytes, log));
  EXPECT_EQ(header.version, 0);
  EXPECT_EQ(header.community, "tarlow");
  Pdu pdu;
  ASSERT_EQ(snmp_parse_pdu(pdu, pduBytes, log), 0);
  EXPECT_EQ(pdu.type, asn::kGetResponse);
  EXPECT_EQ(pdu.request_id, 0x5FBFB1D2);
  EXPECT_EQ(pdu.error_status, 0);
  ASSERT_EQ(pdu.binding_count(), 1u);
  EXPECT_EQ(oid_to_text(pdu.bindings[0].name), "1.3.6.1.2.1.1.1.0");
  EXPECT_EQ(pdu.bindings[0].type, asn::kOctetString);
  EXPECT_EQ(std::string(pdu.bindings[0].octets.begin(), pdu.bindings[0].octets.end()),
            "Linux vm 6.18.44-fc-v1300 #1 SMP PREEMPT_DYNAMIC @0 x86_64");
  // Built back from the records, the same bytes.
  uint8_t out[kSnmpDatagramMax];
  size_t length = 0;
  ASSERT_EQ(snmp_build_request(pdu, header.community, header.version, out, length, log), 0);
  EXPECT_EQ(Bytes(out, out + length), b);
}

Bytes ResponseWithBindings(size_t count) {
  std::vector<VarBind> list(count);
  for (size_t i = 0; i < count; ++i) {
    list[i].name = oid_from_text("1.3.6.1.2.1.2.2.1.1." + std::to_string(i + 1));
    list[i].type = asn::kInteger;
    list[i].number = static_cast<uint32_t>(i);
  }
  Pdu pdu;
  pdu.type = asn::kGetResponse;
  pdu.request_id = 9;
  pdu.bindings = list;
  uint8_t out[kSnmpDatagramMax];
  size_t length = 0;
  BerLog log;
  EXPECT_EQ(snmp_build_request(pdu, "tarlow", 0, out, length, log), 0);
  return Bytes(out, out + length);
}

TEST(SnmpMessage, KeepsSixteenOfTwentyBindings) {
  Bytes b = ResponseWithBindings(20);
  ByteReader in(b.data(), b.size());
  MessageHeader header;
  ByteReader pduBytes;
  BerLog log;
  ASSERT_TRUE(snmp_parse_message_header(in, header, pduBytes, log));
  Pdu pdu;
  ASSERT_EQ(snmp_parse_pdu(pdu, pduBytes, log), 0);
  ASSERT_EQ(pdu.binding_count(), 16u);
  EXPECT_EQ(oid_to_text(pdu.bindings[15].name), "1.3.6.1.2.1.2.2.1.1.16");
}

TEST(SnmpMessage, EmptyOctetStringIsAValue) {
  Bytes b = Hex("30 0A 06 06 2B 06 01 02 01 02 04 00");
  ByteReader in(b.data(), b.size());
  VarBind v;
  BerLog log;
  ASSERT_TRUE(snmp_parse_varbind(in, v, log));
  EXPECT_EQ(v.type, asn::kOctetString);
  EXPECT_TRUE(v.octets.empty());
}

TEST(SnmpMessage, UnknownValueTypeIsPassedOver) {
  // A v2 noSuchObject exception (tag 0x80) after the name: kept as the type, no value.
  Bytes b = Hex("30 0A 06 06 2B 06 01 02 01 02 80 00 05 00");
  ByteReader in(b.data(), b.size());
  VarBind v;
  BerLog log;
  ASSERT_TRUE(snmp_parse_varbind(in, v, log));
  EXPECT_EQ(v.type, 0x80);
  EXPECT_EQ(in.remaining(), 2u);
}

// ---- every malformed shape, with its exact outcome ----

enum class Parser { kLength, kHeader, kInt, kUint, kOid, kNull, kMessage, kPdu, kVarbind };

struct Malformed {
  const char* name;
  Parser parser;
  const char* bytes;
  BerFault fault;
  int code;  // snmp_parse_pdu's code (kPdu only)
  const char* line;  // the diagnostic printed, "" for none
};

std::string Repeat(const char* hex, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i) out += hex;
  return out;
}

const std::string kOid130 = "06 81 81 2B " + Repeat("01 ", 128);   // 2 + 128 sub-identifiers
const std::string kPduBadBinding = "A2 0F 02 01 01 02 01 00 02 01 00 30 04 30 02 04 00";
const std::string kCommunity128 = "30 81 86 02 01 00 04 81 80 " + Repeat("41 ", 128);

const Malformed kMalformed[] = {
    {"LongFormLengthCutByEnd", Parser::kLength, "82 01", BerFault::kLengthLongFormCut, 0, "ASN.1 length octets missing\n"},
    {"IndefiniteLength", Parser::kLength, "80", BerFault::kUnsupportedLength, 0, "ASN.1 Unsupported length\n"},
    {"FiveLengthOctets", Parser::kLength, "85 00 00 00 00 01", BerFault::kUnsupportedLength, 0, "ASN.1 Unsupported length\n"},
    {"EmptyInput", Parser::kHeader, "", BerFault::kPastEnd, 0, ""},
    {"ContentPastEnd", Parser::kHeader, "04 05 61 62", BerFault::kPastEnd, 0, ""},
    {"LengthNear4GiB", Parser::kHeader, "04 84 FF FF FF FF 00", BerFault::kPastEnd, 0, ""},
    {"HighTagNumber1F", Parser::kHeader, "1F 01 00", BerFault::kExtensionOctets, 0, "ASN.1 extension octets not supported\n"},
    {"HighTagNumberBF", Parser::kHeader, "BF 01 00", BerFault::kExtensionOctets, 0, "ASN.1 extension octets not supported\n"},
    {"ZeroLengthSignedInteger", Parser::kInt, "02 00", BerFault::kEmptyInteger, 0, "ASN.1 empty integer\n"},
    {"ZeroLengthValueInteger", Parser::kUint, "41 00", BerFault::kEmptyInteger, 0, "ASN.1 empty integer\n"},
    {"SignedIntegerOfFiveOctets", Parser::kInt, "02 05 01 00 00 00 00", BerFault::kIntTooLong, 0, "ASN.1 int too long\n"},
    {"UnsignedFiveOctetsNonZeroFirst", Parser::kUint, "41 05 01 00 00 00 00", BerFault::kUintTooLong, 0, "ASN.1 uint too long\n"},
    {"UnsignedSixOctets", Parser::kUint, "41 06 00 00 FF FF FF FF", BerFault::kUintTooLong, 0, "ASN.1 uint too long\n"},
    {"SubidentifierOver32Bits", Parser::kOid, "06 06 2B 90 80 80 80 00", BerFault::kSubidTooLarge, 0, "ASN.1 sub-identifier over 32 bits\n"},
    {"FirstValueOver32Bits", Parser::kOid, "06 05 90 80 80 80 00", BerFault::kSubidTooLarge, 0, "ASN.1 sub-identifier over 32 bits\n"},
    {"MoreThan128Subidentifiers", Parser::kOid, kOid130.c_str(), BerFault::kTooManySubids, 0, "ASN.1 too many sub-identifiers\n"},
    {"SubidentifierCutShort", Parser::kOid, "06 02 2B 81", BerFault::kSubidTruncated, 0, "ASN.1 sub-identifier cut short\n"},
    {"NullWithContent", Parser::kNull, "05 01 00", BerFault::kInvalidNull, 0, "ASN.1 invalid ASN_NULL\n"},
    {"MessageNotASequence", Parser::kMessage, "31 03 02 01 00", BerFault::kWrongAuthHeaderType, 0, "ASN.1 wrong auth header type\n"},
    {"MessagePastEnd", Parser::kMessage, "30 10 02 01 00", BerFault::kBadHeader, 0, "ASN.1 bad header\n"},
    {"VersionMissing", Parser::kMessage, "30 02 04 00", BerFault::kBadVersion, 0, "ASN.1 bad parse of version\n"},
    {"CommunityOf128Bytes", Parser::kMessage, kCommunity128.c_str(), BerFault::kBadCommunity, 0, "ASN.1 bad parse of community\n"},
    {"PduPastEnd", Parser::kPdu, "A2 10 02 01 01", BerFault::kPastEnd, -1, ""},
    {"PduOfUnknownType", Parser::kPdu, "A4 00", BerFault::kBadPduType, -8, ""},
    {"RequestIdEmpty", Parser::kPdu, "A2 02 02 00", BerFault::kEmptyInteger, -2, "ASN.1 empty integer\n"},
    {"RequestIdOfFiveOctets", Parser::kPdu, "A2 07 02 05 01 00 00 00 00", BerFault::kIntTooLong, -2, "ASN.1 int too long\n"},
    {"ErrorStatusMissing", Parser::kPdu, "A2 03 02 01 01", BerFault::kPastEnd, -3, ""},
    {"ErrorIndexMissing", Parser::kPdu, "A2 06 02 01 01 02 01 00", BerFault::kPastEnd, -4, ""},
    {"BindingsMissing", Parser::kPdu, "A2 09 02 01 01 02 01 00 02 01 00", BerFault::kPastEnd, -9, ""},
    {"BindingsNotASequence", Parser::kPdu, "A2 0B 02 01 01 02 01 00 02 01 00 31 00", BerFault::kWrongTag, -10, ""},
    {"BindingOfNoName", Parser::kPdu, kPduBadBinding.c_str(), BerFault::kWrongTag, -11, ""},
    {"BindingNotASequence", Parser::kVarbind, "31 03 06 01 2B", BerFault::kWrongTag, 0, ""},
    {"BindingValueMissing", Parser::kVarbind, "30 03 06 01 2B", BerFault::kPastEnd, 0, ""},
    {"BindingValuePastItsSequence", Parser::kVarbind, "30 05 06 01 2B 04 02 61 62", BerFault::kPastEnd, 0, ""},
};

class MalformedInput : public ::testing::TestWithParam<Malformed> {};

TEST_P(MalformedInput, IsRefusedWithItsReason) {
  const Malformed& m = GetParam();
  Bytes b = Hex(m.bytes);
  ByteReader in(b.data(), b.size());
  Recorder r;
  bool ok = true;
  uint8_t tag = 0;
  switch (m.parser) {
    case Parser::kLength: {
      uint32_t length = 0;
      ok = ber_decode_length(in, length, r.log);
      break;
    }
    case Parser::kHeader: {
      ByteReader content;
      ok = ber_decode_header(in, tag, content, r.log);
      break;
    }
    case Parser::kInt: {
      int32_t v = 0;
      ok = ber_decode_int(in, tag, v, r.log);
      break;
    }
    case Parser::kUint: {
      uint32_t v = 0;
      ok = ber_decode_uint(in, tag, v, r.log);
      break;
    }
    case Parser::kOid: {
      Oid oid;
      ok = ber_decode_oid(in, tag, oid, r.log);
      break;
    }
    case Parser::kNull:
      ok = ber_decode_null(in, tag, r.log);
      break;
    case Parser::kMessage: {
      MessageHeader h;
      ByteReader pdu;
      ok = snmp_parse_message_header(in, h, pdu, r.log);
      break;
    }
    case Parser::kPdu: {
      Pdu pdu;
      EXPECT_EQ(snmp_parse_pdu(pdu, in, r.log), m.code);
      ok = false;
      break;
    }
    case Parser::kVarbind: {
      VarBind v;
      ok = snmp_parse_varbind(in, v, r.log);
      break;
    }
  }
  EXPECT_FALSE(ok);
  EXPECT_EQ(r.log.last(), m.fault) << "got " << static_cast<int>(r.log.last());
  // The diagnostic of the shape itself (message-level faults print two lines).
  if (*m.line) {
    EXPECT_NE(r.lines.find(m.line), std::string::npos) << r.lines;
  } else {
    EXPECT_EQ(r.lines, "");
  }
}

INSTANTIATE_TEST_SUITE_P(Shapes, MalformedInput, ::testing::ValuesIn(kMalformed),
                         [](const ::testing::TestParamInfo<Malformed>& p) { return std::string(p.param.name); });

TEST(BerOid, AcceptsExactly128Subidentifiers) {
  Bytes b = Hex("06 7F 2B " + Repeat("01 ", 126));
  ByteReader in(b.data(), b.size());
  uint8_t tag = 0;
  Oid oid;
  BerLog log;
  ASSERT_TRUE(ber_decode_oid(in, tag, oid, log));
  EXPECT_EQ(oid.count(), 128u);
}

// ---- what the encoder refuses ----

struct Unbuildable {
  const char* name;
  std::string oid;
  uint8_t type;
  std::string community;
  uint8_t pdu_type;
  int code;
  BerFault fault;
};

const Unbuildable kUnbuildable[] = {
    {"OidOf129Subidentifiers", "1.3" + Repeat(".1", 127), asn::kNull, "tarlow", asn::kGetRequest, -1, BerFault::kTooManySubids},
    {"OidOver128ContentOctets", "1.3" + Repeat(".4294967295", 26), asn::kNull, "tarlow", asn::kGetRequest, -1, BerFault::kTooManySubids},
    {"FirstArcThree", "3.1", asn::kNull, "tarlow", asn::kGetRequest, -1, BerFault::kOidArcs},
    {"SecondArcForty", "1.40", asn::kNull, "tarlow", asn::kGetRequest, -1, BerFault::kOidArcs},
    {"BitStringValue", "1.3.6", asn::kBitString, "tarlow", asn::kGetRequest, -1, BerFault::kUnknownType},
    {"PduTypeA4", "1.3.6", asn::kNull, "tarlow", 0xA4, -1, BerFault::kBadPduType},
    {"CommunityOf128", "1.3.6", asn::kNull, std::string(128, 'c'), asn::kGetRequest, -2, BerFault::kBuildString},
};

class UnbuildableRequest : public ::testing::TestWithParam<Unbuildable> {};

TEST_P(UnbuildableRequest, FailsWithItsCode) {
  const Unbuildable& u = GetParam();
  VarBind v;
  v.name = oid_from_text(u.oid);
  v.type = u.type;
  Pdu pdu;
  pdu.type = u.pdu_type;
  pdu.request_id = 1;
  pdu.bindings = {&v, 1};
  uint8_t out[kSnmpDatagramMax];
  size_t length = 99;
  BerLog log;
  EXPECT_EQ(snmp_build_request(pdu, u.community, 0, out, length, log), u.code);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(log.last(), u.fault);
}

INSTANTIATE_TEST_SUITE_P(Shapes, UnbuildableRequest, ::testing::ValuesIn(kUnbuildable),
                         [](const ::testing::TestParamInfo<Unbuildable>& p) { return std::string(p.param.name); });

TEST(SnmpMessage, RequestThatDoesNotFitTheDatagramFails) {
  // 16 bindings of 128 sub-identifiers each are far more than 1460 bytes.
  std::vector<VarBind> list(16);
  for (VarBind& v : list) v.name = oid_from_text("1.3" + Repeat(".1", 126));
  Pdu pdu;
  pdu.type = asn::kGetRequest;
  pdu.bindings = list;
  uint8_t out[kSnmpDatagramMax];
  size_t length = 0;
  BerLog log;
  EXPECT_EQ(snmp_build_request(pdu, "tarlow", 0, out, length, log), -1);
  EXPECT_EQ(log.last(), BerFault::kNoRoom);
}

}  // namespace
}  // namespace torvane::netpeek
