#include <cstdio>

#include "common/bytes.h"
#include "common/mac.h"
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
