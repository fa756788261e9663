// The one UDP socket of the viewer, behind a narrow interface: the request engine
// sends, waits and receives through it, so that its tests can run against an agent
// in the same process and its fuzz target against a scripted one in virtual time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

namespace torvane::netpeek {

enum class IoStatus : uint8_t {
  kOk,
  kRefused,     // an ICMP error (port, host or network unreachable) for an earlier datagram
  kNothing,     // nothing to read (yet)
  kOversize,    // a datagram larger than the buffer: dropped whole
  kFailed,      // any other error; error holds errno
};

struct IoResult {
  IoStatus status = IoStatus::kFailed;
  size_t size = 0;  // bytes received
  int error = 0;
};

enum class WaitStatus : uint8_t { kReadable, kTimeout, kFailed };

struct WaitResult {
  WaitStatus status = WaitStatus::kFailed;
  int error = 0;
};

class UdpTransport {
 public:
  virtual ~UdpTransport() = default;
  // socket(AF_INET, SOCK_DGRAM), bound to 0.0.0.0 port 0, SO_BROADCAST set.
  virtual bool open() = 0;
  // IPv4 address of a node name or dotted text (network byte order), the first
  // result only; 0 when there is none.
  virtual uint32_t resolve(std::string_view name) = 0;
  // Connects (or reconnects) the socket to address:port (port in host order).
  virtual bool connect(uint32_t address, uint16_t port) = 0;
  virtual IoResult send(std::span<const uint8_t> datagram) = 0;
  // Waits at most timeout_ms for a datagram (or an error) to be readable.
  virtual WaitResult wait_readable(int64_t timeout_ms) = 0;
  // One datagram, without blocking.
  virtual IoResult receive(std::span<uint8_t> buffer) = 0;
  // A monotonic clock in milliseconds.
  virtual int64_t now_ms() = 0;
};

// The Linux socket.
std::unique_ptr<UdpTransport> make_linux_udp_transport();

}  // namespace torvane::netpeek
