// One record per adapter ("port") and the fixed table of 128 of them. Entries never
// move while the table lives. The worker owns a port's texts and link facts; the
// receive thread and the pipe threads read them, and write the few fields that
// are theirs (cdpSeen, medActive, fastStartCount, medEndpointSeen, adminStatus,
// tlvsTxEnable), so every numeric field is atomic and the texts sit behind a
// small per-port lock.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>

#include "common/mac.h"
#include "common/text.h"

namespace torvane {

// A MAC address that one thread may store while others load it, whole.
class AtomicMac {
 public:
  Mac load() const {
    uint64_t v = bits_.load(std::memory_order_relaxed);
    Mac m;
    for (size_t i = 0; i < 6; ++i) m[i] = static_cast<uint8_t>(v >> (8 * i));
    return m;
  }
  void store(const Mac& m) {
    uint64_t v = 0;
    for (size_t i = 0; i < 6; ++i) v |= uint64_t{m[i]} << (8 * i);
    bits_.store(v, std::memory_order_relaxed);
  }
  void store(const uint8_t* six) {
    Mac m;
    std::memcpy(m.data(), six, 6);
    store(m);
  }
  bool equals(const uint8_t* six) const {
    Mac m = load();
    return std::memcmp(m.data(), six, 6) == 0;
  }
  bool zero() const { return bits_.load(std::memory_order_relaxed) == 0; }

 private:
  std::atomic<uint64_t> bits_{0};
};

// Back-end state of an open port (sockets, reader thread, packets). Owned by the
// link layer from OpenPort to ClosePort; the rest of the agent only tests it for null.
struct PortLink;

enum PortState : uint32_t { kPortClosed = 0, kPortReady = 1, kPortNotReady = 2, kPortUnusable = 3 };
enum LinkStatus : uint32_t { kLinkUnknown = 0, kLinkConnected = 1, kLinkDisconnected = 2 };
enum ReceiverState : uint32_t { kReceiverStopped = 0, kReceiverStarting = 1, kReceiverRunning = 2 };

struct Port {
  std::atomic<uint32_t> number{0};

  // Texts: written by the worker under textLock; every other thread copies them
  // under it (see the accessors below). textLock is innermost.
  mutable std::mutex textLock;
  char deviceName[256] = {};
  char description[128] = {};
  char connectionName[64] = {};

  AtomicMac macAddress;
  std::atomic<uint8_t> adminStatus{0};   // bit 0 transmit, bit 1 receive
  std::atomic<uint8_t> tlvsTxEnable{0};  // 0x80 port descr, 0x40 sys name, 0x20 sys descr, 0x10 caps
  std::atomic<uint32_t> linkSpeed{0};    // units of 100 bit/s
  std::atomic<uint32_t> duplex{0};       // 0 unknown, 1 half, 2 full
  std::atomic<uint32_t> autoNeg{0};
  std::atomic<uint32_t> packetFilter{0};
  std::atomic<uint32_t> multicastListLen{0};
  std::atomic<uint32_t> vlanId{0};
  std::atomic<uint32_t> maxFrameSize{0};
  std::atomic<uint32_t> mediaSupported{0};  // 0 unknown, 1 802.3, 2 not (unusable)
  std::atomic<uint32_t> ifType{0};          // 71 IEEE 802.11, otherwise 6
  std::atomic<uint16_t> mauType{0};
  std::atomic<uint8_t> medActive{0};
  std::atomic<uint8_t> fastStartCount{0};
  std::atomic<uint32_t> medEndpointSeen{0};
  std::atomic<uint32_t> state{kPortClosed};
  std::atomic<uint32_t> linkStatus{kLinkUnknown};
  std::atomic<uint32_t> queryMode{0};       // 0 none, 1 adapter device, 2 packet driver
  std::atomic<uint32_t> ifIndex{0};
  std::atomic<uint32_t> cdpSeen{0};
  std::atomic<uint32_t> sendFailures{0};
  std::atomic<uint32_t> receiverState{kReceiverStopped};
  PortLink* link = nullptr;

  Port() = default;
  Port(const Port&) = delete;
  Port& operator=(const Port&) = delete;

  // Back to the all-zero record of a fresh table. The link layer must have closed
  // the port first (link == nullptr).
  void Reset();

  std::string DeviceName() const { return Text(deviceName); }
  std::string Description() const { return Text(description); }
  std::string ConnectionName() const { return Text(connectionName); }
  // The receive path copies the connection name into every neighbour record it
  // fills; this copy takes no allocation.
  void CopyConnectionName(char (&out)[64]) const {
    static_assert(sizeof connectionName == 64);
    std::lock_guard<std::mutex> lock(textLock);
    std::memcpy(out, connectionName, sizeof connectionName);
    out[sizeof connectionName - 1] = 0;
  }
  void SetDeviceName(std::string_view s) { SetText(deviceName, s); }
  void SetDescription(std::string_view s) { SetText(description, s); }
  void SetConnectionName(std::string_view s) { SetText(connectionName, s); }

 private:
  template <size_t N>
  std::string Text(const char (&field)[N]) const {
    std::lock_guard<std::mutex> lock(textLock);
    return std::string(FieldText(field));
  }
  template <size_t N>
  void SetText(char (&field)[N], std::string_view s) {
    std::lock_guard<std::mutex> lock(textLock);
    CopyText(field, s);
  }
};

constexpr size_t kMaxPorts = 128;

struct PortTable {
  std::array<Port, kMaxPorts> ports;
  std::atomic<uint32_t> portCount{0};

  Port& operator[](size_t i) { return ports[i]; }
  const Port& operator[](size_t i) const { return ports[i]; }
  // Zeroes every entry and the count (packet access is being (re)started).
  void Reset() {
    portCount = 0;
    for (auto& p : ports) p.Reset();
  }
};

}  // namespace torvane
