// The text forms of object identifiers and binding values that the walk file, the
// views and the status line show, and the comparisons of identifiers that walks
// need.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "netpeek/ber_codec.h"

namespace torvane::netpeek {

// A walk's start may name up to 256 sub-identifiers (only 128 can be sent).
inline constexpr size_t kOidTextMaxSubids = 256;

// Dotted text to an identifier: pieces split at '.', each read as an unsigned
// decimal (leading blanks skipped, digits up to the first other character, at most
// 4294967295); empty pieces are skipped, so ".1.3.6" is 1.3.6; at most 256 pieces.
Oid oid_from_text(std::string_view text);
// "1.3.6.1": "%u" joined by '.'; an empty identifier gives "".
std::string oid_to_text(const Oid& oid);

// -1, 0, 1 as a is before, equal to or after b in lexicographic order.
int oid_compare(const Oid& a, const Oid& b);
// Whether the first sub-identifiers of oid are those of prefix.
bool oid_starts_with(const Oid& oid, const Oid& prefix);

struct ValueText {
  std::string type_name;
  std::string text;
};
// Type name and display text of a binding's value; numeric shows every OCTET
// STRING in hex.
ValueText value_to_text(const VarBind& binding, bool numeric);

// The number a binding carries: INTEGER, Counter, Gauge, TimeTicks as they are; a
// BIT STRING of at most 4 bytes and an IpAddress of exactly 4 bytes read
// big-endian, shifted into what out already holds. Anything else stores fallback
// and returns false.
bool value_as_number(const VarBind& binding, uint32_t& out, uint32_t fallback);
// The first capacity - 1 bytes of an octet value (empty for other types).
std::string value_as_string(const VarBind& binding, size_t capacity);

}  // namespace torvane::netpeek
