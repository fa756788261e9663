// The agent's copies of the host's interface rows and IPv4 address rows. The worker
// loads them; other threads (receive threads, pipe clients) only read published
// snapshots, so that no reader ever sees a row half rewritten.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

namespace torvane {

// An IPv4 address as four octets in network order, held in a u32 by memcpy
// (so 10.0.0.1 is the bytes 0a 00 00 01 in memory).
using Ipv4 = uint32_t;

// The address a.b.c.d in that representation.
constexpr Ipv4 MakeIpv4(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  return uint32_t{a} | (uint32_t{b} << 8) | (uint32_t{c} << 16) | (uint32_t{d} << 24);
}

constexpr size_t kMaxInterfaces = 128;
constexpr size_t kMaxAddresses = 128;

struct InterfaceEntry {
  char ifName[256];
  char ifDescr[128];
  uint32_t ifIndex;
  uint32_t ifType;         // 6 Ethernet, 71 IEEE 802.11, 24 loopback, 1 other
  uint32_t ifMtu;
  uint32_t ifSpeed;        // bit/s, saturating at 0xFFFFFFFF
  uint32_t ifPhysAddrLen;
  uint8_t ifPhysAddress[16];
  uint32_t ifAdminStatus;  // 1 up, 0 down
  uint32_t ifOperStatus;   // 5 operational, 2 up without carrier, 0 down
  uint32_t ifLastChange;
};

struct InterfaceTable {
  std::array<InterfaceEntry, kMaxInterfaces> entries{};
  uint32_t count = 0;
};

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

// Both tables as one published snapshot.
struct InterfaceLists {
  InterfaceTable interfaces;
  AddressTable addresses;
};

// Holder of the current snapshot. The worker publishes a whole new snapshot after
// each load; readers take a reference-counted pointer and read it at leisure.
class PublishedLists {
 public:
  PublishedLists() : current_(std::make_shared<const InterfaceLists>()) {}
  std::shared_ptr<const InterfaceLists> Get() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return current_;
  }
  void Publish(const InterfaceLists& lists) {
    auto next = std::make_shared<const InterfaceLists>(lists);
    std::lock_guard<std::mutex> lock(mutex_);
    current_ = std::move(next);
  }

 private:
  mutable std::mutex mutex_;  // innermost: held only to swap or copy the pointer
  std::shared_ptr<const InterfaceLists> current_;
};

}  // namespace torvane
