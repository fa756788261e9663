#include <cstdio>

#include "common/bytes.h"
#include "common/text.h"

namespace torvane {

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

std::string FormatText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string out = VFormatText(format, args);
  va_end(args);
  return out;
}

}  // namespace torvane
