// The host's IPv4 address rows as the agent holds them and the query pipe
// carries them: each 32-byte entry is a pipe record, and the address table is what
// the frame builders draw their management addresses from.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

namespace torvane {

// An IPv4 address as four octets in network order, held in a u32 by memcpy
// (so 10.0.0.1 is the bytes 0a 00 00 01 in memory).
using Ipv4 = uint32_t;

// The address a.b.c.d in that representation.
constexpr Ipv4 MakeIpv4(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  return uint32_t{a} | (uint32_t{b} << 8) | (uint32_t{c} << 16) | (uint32_t{d} << 24);
}

constexpr size_t kMaxAddresses = 128;

static_assert(std::endian::native == std::endian::little);

// 32 bytes; the same image is a record of the query pipe.
struct AddressEntry {
  uint32_t ifIndex;
  Ipv4 address;
  Ipv4 mask;
  uint8_t portListLength;
  uint8_t portList[16];   // bit j (MSB of byte 0 first) = InterfaceTable entry j
  uint8_t zero[3];
};
static_assert(sizeof(AddressEntry) == 32);
static_assert(offsetof(AddressEntry, ifIndex) == 0);
static_assert(offsetof(AddressEntry, address) == 4);
static_assert(offsetof(AddressEntry, mask) == 8);
static_assert(offsetof(AddressEntry, portListLength) == 12);
static_assert(offsetof(AddressEntry, portList) == 13);
static_assert(offsetof(AddressEntry, zero) == 29);

struct AddressTable {
  std::array<AddressEntry, kMaxAddresses> entries{};
  uint32_t count = 0;
};

// The first address bound to ifIndex, else 0.
Ipv4 AddressOfInterface(const AddressTable& table, uint32_t ifIndex);
// The address of ifIndex whose subnet holds `address`, else 0.
Ipv4 AddressInSubnet(const AddressTable& table, uint32_t ifIndex, Ipv4 address);

}  // namespace torvane
