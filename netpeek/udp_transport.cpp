#include "netpeek/udp_transport.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <string>

namespace torvane::netpeek {

namespace {

class LinuxUdpTransport final : public UdpTransport {
 public:
  ~LinuxUdpTransport() override {
    if (fd_ >= 0) ::close(fd_);
  }

  bool open() override {
    if (fd_ >= 0) return true;
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    any.sin_port = 0;
    int on = 1;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0 ||
        ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
      ::close(fd);
      return false;
    }
    fd_ = fd;
    return true;
  }

  uint32_t resolve(std::string_view name) override {
    if (name.empty()) return 0;
    std::string host(name);
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* list = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0 || !list) return 0;
    uint32_t address = 0;
    if (list->ai_family == AF_INET && list->ai_addr)
      address = reinterpret_cast<const sockaddr_in*>(list->ai_addr)->sin_addr.s_addr;
    ::freeaddrinfo(list);
    return address;
  }

  bool connect(uint32_t address, uint16_t port) override {
    if (fd_ < 0) return false;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = address;
    to.sin_port = htons(port);
    return ::connect(fd_, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
  }

  IoResult send(std::span<const uint8_t> datagram) override {
    ssize_t n = ::send(fd_, datagram.data(), datagram.size(), MSG_NOSIGNAL);
    if (n >= 0) return {IoStatus::kOk, static_cast<size_t>(n), 0};
    return Error(errno);
  }

  WaitResult wait_readable(int64_t timeout_ms) override {
    if (timeout_ms < 0) timeout_ms = 0;
    if (timeout_ms > 3600000) timeout_ms = 3600000;
    pollfd p{fd_, POLLIN, 0};
    int r = ::poll(&p, 1, static_cast<int>(timeout_ms));
    if (r > 0) return {WaitStatus::kReadable, 0};
    if (r == 0 || errno == EINTR) return {WaitStatus::kTimeout, 0};
    return {WaitStatus::kFailed, errno};
  }

  IoResult receive(std::span<uint8_t> buffer) override {
    // MSG_TRUNC returns the datagram's real length, so that a longer one is
    // dropped whole instead of being parsed cut.
    ssize_t n = ::recv(fd_, buffer.data(), buffer.size(), MSG_DONTWAIT | MSG_TRUNC);
    if (n < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return {IoStatus::kNothing, 0, 0};
      return Error(errno);
    }
    if (static_cast<size_t>(n) > buffer.size()) return {IoStatus::kOversize, static_cast<size_t>(n), 0};
    return {IoStatus::kOk, static_cast<size_t>(n), 0};
  }

  int64_t now_ms() override {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
  }

 private:
  // ICMP errors reported for an earlier datagram on the connected socket: port or
  // host unreachable. They say nothing about this request's answer.
  static IoResult Error(int e) {
    if (e == ECONNREFUSED || e == EHOSTUNREACH || e == ENETUNREACH || e == EHOSTDOWN) return {IoStatus::kRefused, 0, e};
    return {IoStatus::kFailed, 0, e};
  }
  int fd_ = -1;
};

}  // namespace

std::unique_ptr<UdpTransport> make_linux_udp_transport() { return std::make_unique<LinuxUdpTransport>(); }

}  // namespace torvane::netpeek
