#include <cstdio>
#include <limits>

#include "common/bytes.h"
#include "common/mac.h"
#include "common/text.h"

namespace torvane {

namespace {

bool IsScanSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

int DigitValue(char c, int base) {
  int d = -1;
  if (c >= '0' && c <= '9') d = c - '0';
  else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
  else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
  return d < base ? d : -1;
}

}  // namespace

bool ScanNumber(std::string_view s, size_t& pos, int base, uint32_t& out) {
  size_t i = pos;
  while (i < s.size() && IsScanSpace(s[i])) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  if (base == 16 && i + 2 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X') &&
      DigitValue(s[i + 2], 16) >= 0)
    i += 2;
  if (i >= s.size() || DigitValue(s[i], base) < 0) return false;
  uint64_t value = 0;
  bool overflow = false;
  for (; i < s.size() && DigitValue(s[i], base) >= 0; ++i) {
    uint64_t d = static_cast<uint64_t>(DigitValue(s[i], base));
    if (value > (std::numeric_limits<uint64_t>::max() - d) / static_cast<uint64_t>(base)) overflow = true;
    value = value * static_cast<uint64_t>(base) + d;
  }
  if (overflow) value = std::numeric_limits<uint64_t>::max();
  else if (negative) value = 0 - value;
  out = static_cast<uint32_t>(value);
  pos = i;
  return true;
}

std::string VFormatText(const char* format, va_list args) {
  va_list again;
  va_copy(again, args);
  int n = std::vsnprintf(nullptr, 0, format, args);
  std::string out;
  if (n > 0) {
    out.resize(static_cast<size_t>(n) + 1);
    std::vsnprintf(out.data(), out.size(), format, again);
    out.resize(static_cast<size_t>(n));
  }
  va_end(again);
  return out;
}

size_t Utf8SequenceLength(std::string_view s, size_t i) {
  auto at = [&](size_t k) { return static_cast<uint8_t>(s[k]); };
  auto cont = [&](size_t k) { return k < s.size() && (at(k) & 0xC0) == 0x80; };
  if (i >= s.size()) return 0;
  uint8_t b = at(i);
  if (b < 0x80) return 1;
  if (b >= 0xC2 && b <= 0xDF) return cont(i + 1) ? 2 : 0;
  if (b >= 0xE0 && b <= 0xEF) {
    if (!cont(i + 1) || !cont(i + 2)) return 0;
    uint8_t b1 = at(i + 1);
    if (b == 0xE0 && b1 < 0xA0) return 0;  // overlong
    if (b == 0xED && b1 > 0x9F) return 0;  // surrogate
    return 3;
  }
  if (b >= 0xF0 && b <= 0xF4) {
    if (!cont(i + 1) || !cont(i + 2) || !cont(i + 3)) return 0;
    uint8_t b1 = at(i + 1);
    if (b == 0xF0 && b1 < 0x90) return 0;  // overlong
    if (b == 0xF4 && b1 > 0x8F) return 0;  // above U+10FFFF
    return 4;
  }
  return 0;
}

std::string FormatMac(const uint8_t mac[6]) {
  return FormatText("%2.2x:%2.2x:%2.2x:%2.2x:%2.2x:%2.2x", mac[0], mac[1], mac[2], mac[3], mac[4],
                    mac[5]);
}

std::string FormatText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string out = VFormatText(format, args);
  va_end(args);
  return out;
}

}  // namespace torvane
