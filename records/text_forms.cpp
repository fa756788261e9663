#include "records/text_forms.h"

#include <cstdio>
#include <cstring>

#include "common/text.h"

namespace torvane {

std::string FormatIpv4(const uint8_t address[4]) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%u.%u.%u.%u", address[0], address[1], address[2],
                address[3]);
  return buffer;
}

std::string FormatIpv4(Ipv4 address) {
  uint8_t bytes[4];
  std::memcpy(bytes, &address, 4);
  return FormatIpv4(bytes);
}

std::string FormatIpv4OrEmpty(const uint8_t address[4]) {
  if ((address[0] | address[1] | address[2] | address[3]) == 0) return {};
  return FormatIpv4(address);
}

std::string FormatIdField(const IdField& id, bool asText) {
  size_t n = id.length < sizeof id.bytes ? id.length : sizeof id.bytes;
  if (asText) {
    const void* nul = std::memchr(id.bytes, 0, n);
    if (nul) n = static_cast<size_t>(static_cast<const uint8_t*>(nul) - id.bytes);
    return std::string(reinterpret_cast<const char*>(id.bytes), n);
  }
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(2 * n);
  for (size_t i = 0; i < n; ++i) {
    out.push_back(kHex[id.bytes[i] >> 4]);
    out.push_back(kHex[id.bytes[i] & 0x0F]);
  }
  return out;
}

std::string CapabilityLetters(uint32_t supported, uint32_t enabled) {
  static const char kLetters[] = "OEBARTCS";
  std::string out;
  for (unsigned bit = 0; bit < 8; ++bit) {
    uint32_t mask = 1u << bit;
    if (enabled & mask)
      out.push_back(kLetters[bit]);
    else if (supported & mask)
      out.push_back(static_cast<char>(kLetters[bit] - 'A' + 'a'));
  }
  return out;
}

std::string ModeText(uint32_t mode) {
  std::string out;
  switch ((mode >> 1) & 3) {
    case 1: out = "10M "; break;
    case 2: out = "100M "; break;
    case 3: out = "1000M "; break;
    default: break;
  }
  if (mode & 1) out += "FD";
  return out;
}

std::string ZoneOffsetText(long gmtoffSeconds) {
  long minutes = gmtoffSeconds / 60;
  long value = (minutes / 60) * 100 + minutes % 60;
  char buffer[24];
  std::snprintf(buffer, sizeof buffer, " %+4.4ld", value);
  return buffer;
}

std::string FormatLocalTime(LocalTimeSource& clock, time_t t) {
  std::tm local{};
  long gmtoff = 0;
  if (!clock.LocalTime(t, local, gmtoff)) return {};
  char buffer[64];
  size_t n = std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", &local);
  return std::string(buffer, n);
}

std::string FormatTimestamp(LocalTimeSource& clock, time_t t) {
  std::tm local{};
  long gmtoff = 0;
  if (!clock.LocalTime(t, local, gmtoff)) return {};
  char buffer[64];
  size_t n = std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", &local);
  return std::string(buffer, n) + ZoneOffsetText(gmtoff);
}

std::string SanitizeText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    uint8_t b = static_cast<uint8_t>(text[i]);
    if (b < 0x20 || b == 0x7F) {
      out.push_back('?');
      ++i;
      continue;
    }
    if (b < 0x80) {
      out.push_back(static_cast<char>(b));
      ++i;
      continue;
    }
    size_t n = Utf8SequenceLength(text, i);
    if (n == 0) {
      // A stray byte: 0x80..0x9F would act as a C1 control on a terminal that
      // reads bytes as Latin-1; anything else is left as it came.
      out.push_back(b <= 0x9F ? '?' : static_cast<char>(b));
      ++i;
      continue;
    }
    if (n == 2 && b == 0xC2 && static_cast<uint8_t>(text[i + 1]) <= 0x9F) {
      out.push_back('?');
    } else {
      out.append(text.substr(i, n));
    }
    i += n;
  }
  return out;
}

}  // namespace torvane
