// The agent's copies of the host's interface rows and IPv4 address rows. The worker
// loads them; other threads (receive threads, pipe clients) only read published
// snapshots, so that no reader ever sees a row half rewritten.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

#include "records/address_table.h"

namespace torvane {

constexpr size_t kMaxInterfaces = 128;

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

// Both tables as one published snapshot.
struct InterfaceLists {
  InterfaceTable interfaces;
  AddressTable addresses;
};

// Holder of the current snapshot. Readers take a reference-counted pointer and
// read it at leisure. Writers (the worker's reload, the pipe's change of an
// address's port list) change it through Change, one at a time, each starting
// from what the one before published, so that neither undoes the other.
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
  // `change` reads the current lists and returns the lists to publish, or null to
  // leave them as they are. Returns whether it published.
  template <class F>
  bool Change(F&& change) {
    std::lock_guard<std::mutex> lock(changeMutex_);
    std::shared_ptr<const InterfaceLists> next = change(*Get());
    if (!next) return false;
    std::lock_guard<std::mutex> swap(mutex_);
    current_ = std::move(next);
    return true;
  }

 private:
  std::mutex changeMutex_;    // one change at a time; taken before mutex_
  mutable std::mutex mutex_;  // innermost: held only to swap or copy the pointer
  std::shared_ptr<const InterfaceLists> current_;
};

}  // namespace torvane
