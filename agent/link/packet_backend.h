// The two ways the agent reaches the wire, behind one interface: its own packet
// sockets (the device back-end) or the capture library loaded at run time (the
// library back-end). Exactly one is in use per process at a time; a port keeps
// the back-end that opened it until it is closed.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <thread>

#include "agent/link/protocol_filter.h"

namespace torvane {

class Console;
class PacketBackend;

// A packet record: describes a buffer the caller owns. The receive thread's
// packet also carries what the back-end needs to wait for and read a batch.
struct Packet {
  virtual ~Packet() = default;
  uint8_t* buffer = nullptr;
  uint32_t length = 0;          // bytes in buffer
  uint32_t bytesReceived = 0;   // bytes the last read left in buffer
  int readEvent = -1;           // descriptor that becomes readable when frames wait
  int readError = 0;            // errno of the last failed read; 0 when closing ended it
};

inline void InitPacket(Packet& packet, uint8_t* buffer, uint32_t length) {
  packet.buffer = buffer;
  packet.length = length;
}

// The back-end state of an open port: the adapter handle, the closing event that
// releases its reader, the send packet and the reader thread. Created by
// OpenAdapter, destroyed by CloseAdapter after the reader has been joined.
struct PortLink {
  virtual ~PortLink() = default;
  PacketBackend* backend = nullptr;
  std::string ifName;
  int ifIndex = 0;
  // An eventfd in the reader's wait set; signalled when the port closes, since
  // closing the adapter from another thread does not wake a waiting reader.
  int closeEvent = -1;
  std::unique_ptr<Packet> sendPacket;
  std::thread reader;
  // Set by the reader when a read failed while the port was meant to run; the
  // worker then closes the port at its next turn.
  std::atomic<bool> readerFailed{false};
};

// Kernel buffer asked for at open: room for as many small frames as a 64 KiB
// capture buffer of whole records would hold (the kernel charges each queued
// frame its full allocation, about 830 bytes for a small one).
constexpr uint32_t kKernelBufferBytes = 1u << 20;
// The receive thread's buffer, one read's batch.
constexpr uint32_t kReceiveBufferBytes = 32768;
// Frames longer than this are not sent (largest tagged frame without checksum).
constexpr size_t kMaxSendLength = 1526;
// The kernel does not pad short frames to the Ethernet minimum.
constexpr size_t kMinFrameLength = 60;

// NDIS packet filter bits, as the agent passes them.
constexpr uint32_t kFilterDirected = 0x01;
constexpr uint32_t kFilterMulticast = 0x02;
constexpr uint32_t kFilterAllMulticast = 0x04;
constexpr uint32_t kFilterBroadcast = 0x08;
constexpr uint32_t kFilterPromiscuous = 0x20;

enum class OpenFailure { kNone, kCannotOpen, kUnusable };

class PacketBackend {
 public:
  virtual ~PacketBackend() = default;

  // The stand-in's name in driver texts ("af_packet", "libpcap").
  virtual const char* Name() const = 0;
  // True when the packet service can be used; `version` gets the library's
  // version text where there is one.
  virtual bool StartDriver(std::string& version) = 0;
  virtual bool StopDriver() = 0;

  // Opens the adapter that the device name designates. nullptr on failure, with
  // `why` telling whether the adapter is missing (tried again later) or can
  // never carry the agent's frames.
  virtual std::unique_ptr<PortLink> OpenAdapter(std::string_view deviceName, OpenFailure& why) = 0;
  // Closes what OpenAdapter opened. The reader must have been joined.
  virtual void CloseAdapter(PortLink& link) = 0;

  virtual std::unique_ptr<Packet> AllocatePacket() = 0;
  // Sends the packet's buffer as one frame (padded to the Ethernet minimum).
  virtual bool WritePacket(PortLink& link, Packet& packet) = 0;
  // Waits without a time limit for frames (or for the port to close) and fills
  // the packet's buffer with capture records. False when the read failed or the
  // port is closing; true with bytesReceived 0 when woken with nothing to read.
  virtual bool ReadPacket(PortLink& link, Packet& packet) = 0;
  // Arms the packet for reading on this adapter.
  virtual bool SetReadEvent(PortLink& link, Packet& packet) = 0;
  // Releases a reader waiting in ReadPacket; every later read fails at once.
  virtual void ReleaseReader(PortLink& link) = 0;

  virtual bool SetPacketFilter(PortLink& link, uint32_t filter) = 0;
  virtual bool SetMulticastList(PortLink& link, const uint8_t* list, size_t bytes) = 0;
  virtual bool SetProtocolFilter(PortLink& link, std::span<const BpfInstruction> program) = 0;
  // A back-end that would capture unfiltered when the protocol filter fails
  // makes that failure end the open.
  virtual bool ProtocolFilterRequired() const = 0;
  virtual bool SetKernelBuffer(PortLink& link, uint32_t bytes) = 0;
  // Whether the receive path traces this back-end's read and read-event
  // failures (the device back-end's own calls).
  virtual bool TracesDeviceErrors() const = 0;
};

}  // namespace torvane
