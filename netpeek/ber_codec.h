// netpeek's own encoder and decoder for the part of ASN.1 BER that SNMPv1 needs
// (RFC 1155 types, RFC 1157 message and PDU), with the builders and parsers of the
// message header, the PDU and the variable bindings. Pure: bytes in, records out
// and back; every read goes through a bounds-checked reader, every write through a
// writer that refuses to run past its buffer. The "ASN.1 %s" diagnostics go to a
// sink that the caller supplies (the program connects it to standard output).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/bytes.h"

namespace torvane::netpeek {

// One UDP datagram as the request engine sends and receives it.
inline constexpr size_t kSnmpDatagramMax = 1460;
// The decoder's and the encoder's working limits for one OBJECT IDENTIFIER.
inline constexpr size_t kOidMaxSubids = 128;
inline constexpr size_t kOidMaxContent = 128;
// Bindings kept from one response; later ones are ignored.
inline constexpr size_t kPduMaxBindings = 16;
// A community must leave room for its terminating zero in a 128-byte field.
inline constexpr size_t kCommunityMax = 127;

namespace asn {
inline constexpr uint8_t kInteger = 0x02;
inline constexpr uint8_t kBitString = 0x03;
inline constexpr uint8_t kOctetString = 0x04;
inline constexpr uint8_t kNull = 0x05;
inline constexpr uint8_t kObjectId = 0x06;
inline constexpr uint8_t kSequence = 0x30;
inline constexpr uint8_t kIpAddress = 0x40;
inline constexpr uint8_t kCounter = 0x41;
inline constexpr uint8_t kGauge = 0x42;
inline constexpr uint8_t kTimeTicks = 0x43;
inline constexpr uint8_t kOpaque = 0x44;
inline constexpr uint8_t kGetRequest = 0xA0;
inline constexpr uint8_t kGetNextRequest = 0xA1;
inline constexpr uint8_t kGetResponse = 0xA2;
inline constexpr uint8_t kSetRequest = 0xA3;
}  // namespace asn

// Why the codec refused something. The first group prints its "ASN.1 %s" line as
// the original viewer did; the refusals added for input that it read past its end
// print too, so that a peer's fault can be told from ours; the silent ones are
// plain running out of input or of room.
enum class BerFault : uint8_t {
  kNone,
  kUnsupportedLength,    // "Unsupported length": indefinite form or more than 4 length octets
  kLengthTooLong,        // "length too long": an encoded length over 65535
  kExtensionOctets,      // "extension octets not supported": high-tag-number form
  kIntTooLong,           // "int too long": a signed INTEGER of 5 or more octets
  kUintTooLong,          // "uint too long"
  kInvalidNull,          // "invalid ASN_NULL": NULL with content
  kUnknownType,          // "unknown ASN.1 type": a binding value the builder cannot write
  kBuildHeader,          // "build header"
  kBuildInt,             // "build int"
  kBuildString,          // "build string"
  kBadHeader,            // "bad header": message SEQUENCE not decodable
  kWrongAuthHeaderType,  // "wrong auth header type": message is not a SEQUENCE
  kBadVersion,           // "bad parse of version"
  kBadCommunity,         // "bad parse of community"
  kEmptyInteger,         // "empty integer": an integer of zero content octets
  kSubidTooLarge,        // "sub-identifier over 32 bits"
  kTooManySubids,        // "too many sub-identifiers": over 128, or over 128 content octets
  kSubidTruncated,       // "sub-identifier cut short": the last group has its high bit set
  kOidArcs,              // "first arcs out of range": not encodable under X.690
  kLengthLongFormCut,    // "length octets missing": a long-form length cut by the end
  // Silent refusals.
  kPastEnd,              // an element longer than the bytes that remain
  kNoRoom,               // output does not fit its buffer
  kWrongTag,             // an element of another type than the one required
  kTooBig,               // content larger than the caller's buffer
  kBadPduType,           // a PDU tag other than 0xA0..0xA3
};

// The diagnostic text of a fault ("" for the silent ones).
std::string_view ber_fault_text(BerFault fault);

// Where the codec reports: the last fault, how many there were, and the sink that
// receives each printed line "ASN.1 <text>\n". Without a sink nothing is printed.
class BerLog {
 public:
  using Sink = std::function<void(std::string_view line)>;
  BerLog() = default;
  explicit BerLog(Sink sink) : sink_(std::move(sink)) {}
  void set_sink(Sink sink) { sink_ = std::move(sink); }
  void fault(BerFault fault);
  BerFault last() const { return last_; }
  size_t count() const { return count_; }
  void reset() {
    last_ = BerFault::kNone;
    count_ = 0;
  }

 private:
  Sink sink_;
  BerFault last_ = BerFault::kNone;
  size_t count_ = 0;
};

// An object identifier: its sub-identifiers in order.
struct Oid {
  std::vector<uint32_t> subids;
  size_t count() const { return subids.size(); }
  bool operator==(const Oid&) const = default;
};

// One variable binding. A binding that carries no value has type NULL. The value
// lives in the field its type selects: number (INTEGER, Counter, Gauge,
// TimeTicks), octets (OCTET STRING, BIT STRING, IpAddress, Opaque, SEQUENCE) or oid
// (OBJECT IDENTIFIER); an empty OCTET STRING is a value of length 0.
struct VarBind {
  Oid name;
  uint8_t type = asn::kNull;
  uint32_t number = 0;
  std::vector<uint8_t> octets;
  Oid oid;
};

// One PDU. For building, bindings is the caller's list; the parser fills storage
// and points bindings at it. Not copyable: bindings may point into storage.
struct Pdu {
  uint8_t type = 0;
  int32_t request_id = 0;
  int32_t error_status = 0;
  int32_t error_index = 0;
  std::span<VarBind> bindings;
  std::array<VarBind, kPduMaxBindings> storage;

  Pdu() = default;
  Pdu(const Pdu&) = delete;
  Pdu& operator=(const Pdu&) = delete;
  size_t binding_count() const { return bindings.size(); }
};

// The message header of a received message.
struct MessageHeader {
  int32_t version = 0;
  std::string community;
};

// Primitive decoders read one element (or one length field) from `in` and leave it
// just after; on failure they return false and `in` may have moved. Decoders of a
// whole element report its identifier octet in `tag`.
bool ber_decode_length(ByteReader& in, uint32_t& length, BerLog& log);
// Identifier and length; `content` becomes a reader over exactly the content, and
// `in` moves past the whole element, so that nothing can read past a declared length.
bool ber_decode_header(ByteReader& in, uint8_t& tag, ByteReader& content, BerLog& log);
// Signed (version, request-id, error-status, error-index): sign-extended, at most 4 octets.
bool ber_decode_int(ByteReader& in, uint8_t& tag, int32_t& value, BerLog& log);
// Unsigned (every integer-like binding value): no sign extension, at most 4 octets
// after one leading zero octet.
bool ber_decode_uint(ByteReader& in, uint8_t& tag, uint32_t& value, BerLog& log);
// Into the caller's buffer; `length` is the content length.
bool ber_decode_octets(ByteReader& in, uint8_t& tag, std::span<uint8_t> buffer, size_t& length,
                       BerLog& log);
// At most 128 sub-identifiers of at most 32 bits each; the first octet value c
// gives the first two arcs as X.690 says (0 and 1 below 80, else 2 and c - 80).
bool ber_decode_oid(ByteReader& in, uint8_t& tag, Oid& oid, BerLog& log);
bool ber_decode_null(ByteReader& in, uint8_t& tag, BerLog& log);

// Primitive encoders append one element (or length field) to `out`; on failure
// they return false and `out` may hold part of it.
bool ber_encode_length(ByteWriter& out, uint32_t length, BerLog& log);
bool ber_encode_header(ByteWriter& out, uint8_t tag, uint32_t length, BerLog& log);
// Minimal two's-complement form of the 32-bit value (Counter, Gauge and TimeTicks
// pass their bits: values of 2^31 and above come out with the top bit set).
bool ber_encode_int(ByteWriter& out, uint8_t tag, int32_t value, BerLog& log);
bool ber_encode_octets(ByteWriter& out, uint8_t tag, std::span<const uint8_t> bytes, BerLog& log);
// Refuses more than 128 sub-identifiers, more than 128 content octets and first
// arcs that X.690 cannot carry. Fewer than 2 sub-identifiers give empty content.
bool ber_encode_oid(ByteWriter& out, uint8_t tag, const Oid& oid, BerLog& log);
bool ber_encode_null(ByteWriter& out, uint8_t tag, BerLog& log);

// Message level.
bool snmp_build_message_header(ByteWriter& out, std::string_view community, int32_t version,
                               size_t pdu_length, BerLog& log);
// Reads the message SEQUENCE, the version and the community (at most 127 bytes);
// `pdu` becomes a reader over the rest of the message's content.
bool snmp_parse_message_header(ByteReader& in, MessageHeader& header, ByteReader& pdu, BerLog& log);
bool snmp_build_varbind(ByteWriter& out, const VarBind& binding, BerLog& log);
bool snmp_parse_varbind(ByteReader& in, VarBind& binding, BerLog& log);
// Returns 0, or -1 when the PDU cannot be encoded into `out`; `length` is the
// number of bytes written.
int snmp_build_pdu(const Pdu& pdu, std::span<uint8_t> out, size_t& length, BerLog& log);
// Returns 0 or the negative codes: -1 PDU header, -2 request-id, -3 error-status,
// -4 error-index, -8 PDU tag (still stored in type), -9 bindings header, -10
// bindings not a SEQUENCE, -11 a binding. On return (success or not) bindings
// points at the bindings parsed so far, at most 16.
int snmp_parse_pdu(Pdu& pdu, ByteReader& in, BerLog& log);
// Frees each binding's value and sets its type to NULL; also its name when asked.
void varbind_release(std::span<VarBind> bindings, bool also_names);

// A whole request message: 0, or -1 PDU encoding failed, -2 message header failed,
// -3 no room for the PDU behind the header.
int snmp_build_request(const Pdu& pdu, std::string_view community, int32_t version,
                       std::span<uint8_t> out, size_t& length, BerLog& log);

}  // namespace torvane::netpeek
