#include "netpeek/view_formats.h"

#include <algorithm>

#include "common/text.h"

namespace torvane::netpeek {

std::string ipv4_to_text(const Ipv4& a) { return FormatText("%u.%u.%u.%u", a[0], a[1], a[2], a[3]); }

Ipv4 ipv4_from_bytes(std::span<const uint8_t> bytes) {
  Ipv4 a{};
  std::copy_n(bytes.begin(), std::min<size_t>(bytes.size(), 4), a.begin());
  return a;
}

std::string hex_joined(std::span<const uint8_t> bytes, std::string_view separator) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * (2 + separator.size()));
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i) out += separator;
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 0x0F];
  }
  return out;
}

std::string local_time_text(const std::tm* time, const char* format) {
  if (!time) return {};
  char buffer[128];
  size_t n = std::strftime(buffer, sizeof buffer, format, time);
  return std::string(buffer, n);
}

std::string duration_text(uint32_t seconds) {
  return FormatText("%uh %umin %usec", seconds / 3600, seconds % 3600 / 60, seconds % 60);
}

std::string date_and_time_text(std::span<const uint8_t> bytes) {
  uint8_t b[7] = {};
  std::copy_n(bytes.begin(), std::min<size_t>(bytes.size(), 7), b);
  return FormatText("%4.4u-%2.2u-%2.2u %2.2u:%2.2u:%2.2u", (unsigned{b[0]} << 8) | b[1], b[2], b[3], b[4], b[5],
                    b[6]);
}

std::string services_text(uint32_t services) {
  static constexpr std::pair<uint32_t, const char*> kLayers[] = {
      {0x01, "physical "}, {0x02, "datalink "}, {0x04, "internet "}, {0x08, "end-to-end "}, {0x40, "applications"}};
  std::string out;
  for (const auto& [bit, text] : kLayers)
    if (services & bit) out += text;
  return out;
}

std::string storage_unit_text(uint32_t unit) {
  return unit <= 4096 ? FormatText("%u", unit) : FormatText("%u KB", unit / 1024);
}

std::string storage_amount_text(uint64_t bytes, uint64_t small_limit) {
  auto u = [](uint64_t v) { return static_cast<unsigned long long>(v); };
  if (bytes > (uint64_t{1} << 32)) return FormatText("%llu GB", u(bytes >> 30));
  if (bytes > (uint64_t{1} << 22)) return FormatText("%llu MB", u(bytes >> 20));
  if (bytes > small_limit) return FormatText("%llu KB", u(bytes >> 10));
  return FormatText("%llu", u(bytes));
}

std::string speed_text(uint32_t bps) {
  if (bps > 1000000) return FormatText("%uM", bps / 1000000);
  if (bps <= 1000) return FormatText("%u", bps);
  return FormatText("%uK", bps / 1000);
}

uint32_t fold_big_endian(std::span<const uint8_t> bytes) {
  uint32_t v = 0;
  for (size_t i = 0; i < bytes.size() && i < 4; ++i) v = (v << 8) | bytes[i];
  return v;
}

std::string capability_letters(uint32_t supported, uint32_t enabled) {
  static constexpr char kLetters[] = "OEBARTCS";
  std::string out;
  for (int bit = 0; bit < 8; ++bit) {
    const uint32_t mask = 1u << bit;
    if (enabled & mask)
      out += kLetters[bit];
    else if (supported & mask)
      out += static_cast<char>(kLetters[bit] - 'A' + 'a');
  }
  return out;
}

std::string mau_mode_text(uint32_t mau) {
  if (mau == 0) return {};
  std::string out = mau <= 13 ? "10M " : mau <= 20 ? "100M " : "1000M ";
  // 10BASE-T and 10BASE-FL full duplex (11, 13); from 100BASE-TX on, every even
  // type is the full-duplex one of its pair.
  if (mau == 11 || mau == 13 || (mau > 14 && mau % 2 == 0)) out += "FD";
  return out;
}

}  // namespace torvane::netpeek
