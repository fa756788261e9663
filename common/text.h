// Small helpers for the fixed, NUL-terminated text fields of the records.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace torvane {

// Length of a NUL-terminated text inside a field of `size` bytes; never reads past
// the field, whatever it holds.
inline size_t FieldLength(const char* field, size_t size) {
  const void* nul = std::memchr(field, 0, size);
  return nul ? static_cast<size_t>(static_cast<const char*>(nul) - field) : size;
}
template <size_t N>
inline std::string_view FieldText(const char (&field)[N]) {
  return {field, FieldLength(field, N)};
}

// Copies text into a field of `size` bytes, cut to size - 1 and always terminated;
// the rest of the field is zeroed. Returns the number of characters kept.
inline size_t CopyText(char* field, size_t size, std::string_view text) {
  if (size == 0) return 0;
  size_t n = text.size() < size - 1 ? text.size() : size - 1;
  if (n) std::memcpy(field, text.data(), n);
  std::memset(field + n, 0, size - n);
  return n;
}
template <size_t N>
inline size_t CopyText(char (&field)[N], std::string_view text) {
  return CopyText(field, N, text);
}

// Case-insensitive ASCII comparison.
inline bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// Length of the valid UTF-8 sequence that starts at s[i] (1 for ASCII), or 0 when
// none does: a stray continuation byte, a cut sequence, an overlong form, a
// surrogate or a value above U+10FFFF. Texts from peers and agents are any bytes;
// whoever prints them decides per sequence what to do with the invalid ones.
size_t Utf8SequenceLength(std::string_view s, size_t i);

// One number as the C library's %x (base 16) or %u (base 10) conversion reads it
// at s[pos]: white space, an optional sign, for %x an optional "0x", at least one
// digit. A value too large for the library's unsigned long becomes all ones; the
// result is the low 32 bits, so "-1" gives 0xFFFFFFFF as it does there. On
// success pos moves past the number.
bool ScanNumber(std::string_view s, size_t& pos, int base, uint32_t& out);

// printf into a string, whatever its length.
std::string VFormatText(const char* format, va_list args);
__attribute__((format(printf, 1, 2))) std::string FormatText(const char* format, ...);

}  // namespace torvane
