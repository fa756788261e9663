#include "agent/link/packet_socket.h"

#include <arpa/inet.h>
#include <linux/filter.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "agent/link/adapter_discovery.h"
#include "agent/link/capture_buffer.h"
#include "agent/link/packet_membership.h"
#include "common/text.h"
#include "platform/console.h"

namespace torvane {
namespace {

constexpr unsigned kBatchFrames = 32;

struct SocketLink : PortLink {
  int fd = -1;
  bool bound = false;
  PacketMemberships memberships;
};

// One recvmmsg batch: frames the kernel handed over that did not yet fit the
// reader's buffer wait here for the next read.
struct SocketPacket : Packet {
  uint8_t frames[kBatchFrames][kCaptureSnapLength];
  sockaddr_ll from[kBatchFrames];
  alignas(cmsghdr) uint8_t control[kBatchFrames][CMSG_SPACE(sizeof(tpacket_auxdata))];
  iovec iov[kBatchFrames];
  mmsghdr msgs[kBatchFrames];
  unsigned count = 0;  // frames in the batch
  unsigned next = 0;   // first frame not yet handed on
  uint32_t seconds = 0;
  uint32_t micros = 0;
};

void CloseFd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

// The frame's length on the wire: the filter cuts what it captures, the
// auxiliary data keeps the original length.
uint32_t WireLength(const msghdr& msg, uint32_t captured) {
  for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(const_cast<msghdr*>(&msg), c)) {
    if (c->cmsg_level == SOL_PACKET && c->cmsg_type == PACKET_AUXDATA &&
        c->cmsg_len >= CMSG_LEN(sizeof(tpacket_auxdata))) {
      tpacket_auxdata aux;
      std::memcpy(&aux, CMSG_DATA(c), sizeof aux);
      return aux.tp_len > captured ? aux.tp_len : captured;
    }
  }
  return captured;
}

class PacketSocketBackend : public PacketBackend {
 public:
  const char* Name() const override { return "af_packet"; }

  bool StartDriver(std::string& version) override {
    version.clear();
    int fd = socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    close(fd);
    return true;
  }
  bool StopDriver() override { return true; }

  std::unique_ptr<PortLink> OpenAdapter(std::string_view deviceName, OpenFailure& why) override {
    why = OpenFailure::kCannotOpen;
    auto link = std::make_unique<SocketLink>();
    link->backend = this;
    link->ifName = std::string(InterfaceNameOf(deviceName));
    if (link->ifName.empty() || link->ifName.size() >= IFNAMSIZ) return nullptr;
    link->ifIndex = static_cast<int>(if_nametoindex(link->ifName.c_str()));
    if (link->ifIndex == 0) return nullptr;
    // Protocol 0: the socket receives nothing until it is bound, after the
    // protocol filter is in place.
    link->fd = socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0);
    if (link->fd < 0) return nullptr;
    ifreq ifr{};
    CopyText(ifr.ifr_name, IFNAMSIZ, link->ifName);
    if (ioctl(link->fd, SIOCGIFHWADDR, &ifr) != 0) {
      CloseAdapter(*link);
      return nullptr;
    }
    if (ifr.ifr_hwaddr.sa_family != ARPHRD_ETHER) {
      CloseAdapter(*link);
      why = OpenFailure::kUnusable;
      return nullptr;
    }
    int on = 1;
    setsockopt(link->fd, SOL_PACKET, PACKET_AUXDATA, &on, sizeof on);
    // Our own transmissions are never handed back; older kernels lack the
    // option, and the reader drops outgoing frames anyway.
    setsockopt(link->fd, SOL_PACKET, PACKET_IGNORE_OUTGOING, &on, sizeof on);
    link->closeEvent = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (link->closeEvent < 0) {
      CloseAdapter(*link);
      return nullptr;
    }
    link->memberships.Attach(link->fd, link->ifIndex);
    why = OpenFailure::kNone;
    return link;
  }

  void CloseAdapter(PortLink& base) override {
    auto& link = static_cast<SocketLink&>(base);
    link.memberships.Clear();
    CloseFd(link.fd);
    CloseFd(link.closeEvent);
    link.bound = false;
  }

  std::unique_ptr<Packet> AllocatePacket() override {
    auto packet = std::unique_ptr<SocketPacket>(new (std::nothrow) SocketPacket);
    return packet;
  }

  bool WritePacket(PortLink& base, Packet& packet) override {
    auto& link = static_cast<SocketLink&>(base);
    if (link.fd < 0 || !packet.buffer || packet.length < 14) return false;
    const uint8_t* frame = packet.buffer;
    size_t length = packet.length;
    uint8_t padded[kMinFrameLength];
    if (length < kMinFrameLength) {
      std::memset(padded, 0, sizeof padded);
      std::memcpy(padded, frame, length);
      frame = padded;
      length = kMinFrameLength;
    }
    uint16_t type = static_cast<uint16_t>((frame[12] << 8) | frame[13]);
    sockaddr_ll to{};
    to.sll_family = AF_PACKET;
    to.sll_protocol = htons(type >= 0x600 ? type : ETH_P_802_2);
    to.sll_ifindex = link.ifIndex;
    to.sll_halen = 6;
    std::memcpy(to.sll_addr, frame, 6);
    ssize_t sent = sendto(link.fd, frame, length, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    return sent == static_cast<ssize_t>(length);
  }

  bool SetReadEvent(PortLink& base, Packet& packet) override {
    auto& link = static_cast<SocketLink&>(base);
    if (link.fd < 0) return false;
    packet.readEvent = link.fd;
    return true;
  }

  void ReleaseReader(PortLink& link) override {
    if (link.closeEvent < 0) return;
    uint64_t one = 1;
    ssize_t n = write(link.closeEvent, &one, sizeof one);
    (void)n;  // a full counter already releases every reader
  }

  bool ReadPacket(PortLink& base, Packet& p) override {
    auto& link = static_cast<SocketLink&>(base);
    auto& packet = static_cast<SocketPacket&>(p);
    packet.bytesReceived = 0;
    packet.readError = 0;
    if (link.fd < 0 || !link.bound || packet.readEvent != link.fd) {
      packet.readError = link.fd < 0 ? EBADF : ENOTCONN;
      return false;
    }
    if (packet.next < packet.count) {
      Convert(packet);
      return true;
    }

    pollfd fds[2] = {{link.fd, POLLIN, 0}, {link.closeEvent, POLLIN, 0}};
    int ready;
    do {
      ready = poll(fds, 2, -1);
    } while (ready < 0 && errno == EINTR);
    if (ready < 0) {
      packet.readError = errno;
      return false;
    }
    if (fds[1].revents) return false;  // the port is closing

    for (unsigned i = 0; i < kBatchFrames; ++i) {
      packet.iov[i] = {packet.frames[i], kCaptureSnapLength};
      msghdr& h = packet.msgs[i].msg_hdr;
      h = msghdr{};
      h.msg_name = &packet.from[i];
      h.msg_namelen = sizeof packet.from[i];
      h.msg_iov = &packet.iov[i];
      h.msg_iovlen = 1;
      h.msg_control = packet.control[i];
      h.msg_controllen = sizeof packet.control[i];
      packet.msgs[i].msg_len = 0;
    }
    int n = recvmmsg(link.fd, packet.msgs, kBatchFrames, MSG_DONTWAIT, nullptr);
    if (n < 0) {
      packet.readError = errno;
      if (errno != EAGAIN && errno != EINTR) return false;
      // Woken by an error condition that no read reports: the socket is dead.
      if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) return false;
      packet.readError = 0;
      return true;
    }
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    packet.seconds = static_cast<uint32_t>(now.tv_sec);
    packet.micros = static_cast<uint32_t>(now.tv_nsec / 1000);
    packet.count = static_cast<unsigned>(n);
    packet.next = 0;
    Convert(packet);
    return true;
  }

  bool SetPacketFilter(PortLink& base, uint32_t filter) override {
    return static_cast<SocketLink&>(base).memberships.SetFilter(filter);
  }

  bool SetMulticastList(PortLink& base, const uint8_t* list, size_t bytes) override {
    return static_cast<SocketLink&>(base).memberships.SetList(list, bytes);
  }

  // Attaches the program, then binds to every protocol on this interface. A
  // socket bound before its filter is attached queues unfiltered frames, and one
  // created for every protocol receives from every interface until bound: so
  // the socket was created for no protocol and this order is kept.
  bool SetProtocolFilter(PortLink& base, std::span<const BpfInstruction> program) override {
    auto& link = static_cast<SocketLink&>(base);
    if (link.fd < 0) return false;
    sock_fprog prog{};
    prog.len = static_cast<unsigned short>(program.size());
    prog.filter = reinterpret_cast<sock_filter*>(const_cast<BpfInstruction*>(program.data()));
    bool attached = setsockopt(link.fd, SOL_SOCKET, SO_ATTACH_FILTER, &prog, sizeof prog) == 0;
    if (!link.bound) {
      sockaddr_ll at{};
      at.sll_family = AF_PACKET;
      at.sll_protocol = htons(ETH_P_ALL);
      at.sll_ifindex = link.ifIndex;
      link.bound = bind(link.fd, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0;
    }
    return attached && link.bound;
  }
  bool TracesDeviceErrors() const override { return true; }
  bool ProtocolFilterRequired() const override { return false; }

  // The forced size needs CAP_NET_ADMIN; the plain one is capped silently by
  // net.core.rmem_max, so the size is read back. The kernel reports twice what
  // it was asked for (its own bookkeeping).
  bool SetKernelBuffer(PortLink& base, uint32_t bytes) override {
    auto& link = static_cast<SocketLink&>(base);
    if (link.fd < 0) return false;
    int want = static_cast<int>(bytes);
    if (setsockopt(link.fd, SOL_SOCKET, SO_RCVBUFFORCE, &want, sizeof want) != 0)
      setsockopt(link.fd, SOL_SOCKET, SO_RCVBUF, &want, sizeof want);
    int got = 0;
    socklen_t len = sizeof got;
    if (getsockopt(link.fd, SOL_SOCKET, SO_RCVBUF, &got, &len) != 0) return false;
    return static_cast<uint32_t>(got) / 2 >= bytes;
  }

 private:
  // Moves the batch's frames into the reader's buffer as capture records, as
  // many as fit; the rest stay for the next read. Outgoing frames are dropped.
  static void Convert(SocketPacket& packet) {
    size_t used = 0;
    while (packet.next < packet.count) {
      unsigned i = packet.next;
      const msghdr& h = packet.msgs[i].msg_hdr;
      if (packet.from[i].sll_pkttype == PACKET_OUTGOING) {
        ++packet.next;
        continue;
      }
      uint32_t captured = packet.msgs[i].msg_len;
      if (captured > kCaptureSnapLength) captured = kCaptureSnapLength;
      if (!AppendCaptureRecord(packet.buffer, packet.length, used, packet.seconds, packet.micros,
                               packet.frames[i], captured, WireLength(h, captured))) {
        if (used == 0) {
          ++packet.next;  // larger than the whole buffer: it can never be handed on
          continue;
        }
        break;
      }
      ++packet.next;
    }
    packet.bytesReceived = static_cast<uint32_t>(used);
  }
};

}  // namespace

std::unique_ptr<PacketBackend> MakePacketSocketBackend() {
  return std::make_unique<PacketSocketBackend>();
}

int InstallPacketDriver(Console& console) {
  char line[128];
  int fd = socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0);
  int error = fd < 0 ? errno : 0;
  if (fd >= 0) close(fd);
  // Only a kernel without the family lacks the "driver"; a missing right to
  // open a socket still means it is there.
  if (error == EAFNOSUPPORT) {
    std::snprintf(line, sizeof line, "%s Driver installation failed, error = 0x%x\n", "af_packet",
                  static_cast<unsigned>(error));
    console.Write(line);
    return 0;
  }
  std::snprintf(line, sizeof line, "%s Driver already exists\n", "af_packet");
  console.Write(line);
  return 1;
}

int RemovePacketDriver(Console& console) {
  char line[64];
  std::snprintf(line, sizeof line, "%s Driver uninstalled\n", "af_packet");
  console.Write(line);
  return 1;
}

}  // namespace torvane
