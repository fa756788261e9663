// MAC addresses: the six octets, their one text form, and the all-zero test
// that "not set" means for an address (or any other run of octets) in a record.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace torvane {

using Mac = std::array<uint8_t, 6>;

// "%2.2x:%2.2x:%2.2x:%2.2x:%2.2x:%2.2x": lower-case hex, colons between.
std::string FormatMac(const uint8_t mac[6]);
inline std::string FormatMac(const Mac& mac) { return FormatMac(mac.data()); }

// True when all `n` octets are zero.
inline bool IsAllZero(const uint8_t* bytes, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (bytes[i]) return false;
  return true;
}

}  // namespace torvane
