#include "agent/link/pcap_library.h"

#include <dlfcn.h>
#include <net/if.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "agent/link/adapter_discovery.h"
#include "agent/link/capture_buffer.h"
#include "agent/link/packet_membership.h"

namespace torvane {
namespace {

template <class F>
bool Bind(void* lib, F& slot, const char* name) {
  void* sym = dlsym(lib, name);
  if (!sym) return false;
  slot = reinterpret_cast<F>(sym);
  return true;
}

// Milliseconds the kernel may hold a captured frame before it hands over the
// block that holds it.
constexpr int kReadTimeoutMs = 10;

struct PcapLink : PortLink {
  PcapHandle* handle = nullptr;
  uint32_t bufferBytes = 0;
  PacketMemberships memberships;
};

struct AppendContext {
  Packet* packet;
  size_t used;
};

void AppendRecord(unsigned char* user, const PcapPacketHeader* h, const unsigned char* bytes) {
  auto* ctx = reinterpret_cast<AppendContext*>(user);
  uint32_t captured = h->caplen < kCaptureSnapLength ? h->caplen : kCaptureSnapLength;
  // The dispatch count keeps every record inside the buffer; a frame that still
  // does not fit is dropped rather than written past it.
  AppendCaptureRecord(ctx->packet->buffer, ctx->packet->length, ctx->used,
                      static_cast<uint32_t>(h->ts.tv_sec), static_cast<uint32_t>(h->ts.tv_usec),
                      bytes, captured, h->len > captured ? h->len : captured);
}

void CloseFd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

class PcapBackend : public PacketBackend {
 public:
  explicit PcapBackend(PcapLibrary& lib) : lib_(lib) {}

  const char* Name() const override { return "libpcap"; }

  bool StartDriver(std::string& version) override {
    if (!lib_.loaded) return false;
    const char* v = lib_.lib_version();
    version = v ? v : "";
    return true;
  }
  bool StopDriver() override { return true; }

  std::unique_ptr<PortLink> OpenAdapter(std::string_view deviceName, OpenFailure& why) override {
    why = OpenFailure::kCannotOpen;
    if (!lib_.loaded) return nullptr;
    auto link = std::make_unique<PcapLink>();
    link->backend = this;
    link->ifName = std::string(InterfaceNameOf(deviceName));
    if (link->ifName.empty() || link->ifName.size() >= IFNAMSIZ) return nullptr;
    link->ifIndex = static_cast<int>(if_nametoindex(link->ifName.c_str()));
    if (link->ifIndex == 0) return nullptr;
    char errbuf[kPcapErrorBufferSize] = {};
    link->handle = lib_.create(link->ifName.c_str(), errbuf);
    if (!link->handle) return nullptr;
    lib_.set_snaplen(link->handle, static_cast<int>(kCaptureSnapLength));
    lib_.set_promisc(link->handle, 0);
    lib_.set_timeout(link->handle, kReadTimeoutMs);
    // The buffer can only be sized before activation.
    if (lib_.set_buffer_size(link->handle, static_cast<int>(kKernelBufferBytes)) == 0)
      link->bufferBytes = kKernelBufferBytes;
    if (lib_.activate(link->handle) < 0) {
      CloseAdapter(*link);
      return nullptr;
    }
    if (lib_.datalink(link->handle) != kDltEthernet) {
      CloseAdapter(*link);
      why = OpenFailure::kUnusable;
      return nullptr;
    }
    // Our own transmissions are not looped back to the reader.
    lib_.setdirection(link->handle, kPcapDirectionIn);
    link->closeEvent = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (link->closeEvent < 0) {
      CloseAdapter(*link);
      return nullptr;
    }
    link->memberships.Attach(lib_.fileno(link->handle), link->ifIndex);
    why = OpenFailure::kNone;
    return link;
  }

  void CloseAdapter(PortLink& base) override {
    auto& link = static_cast<PcapLink&>(base);
    if (link.handle) {
      link.memberships.Clear();
      lib_.close(link.handle);
      link.handle = nullptr;
    }
    CloseFd(link.closeEvent);
  }

  std::unique_ptr<Packet> AllocatePacket() override {
    return std::unique_ptr<Packet>(new (std::nothrow) Packet);
  }

  bool WritePacket(PortLink& base, Packet& packet) override {
    auto& link = static_cast<PcapLink&>(base);
    if (!link.handle || !packet.buffer) return false;
    const uint8_t* frame = packet.buffer;
    size_t length = packet.length;
    uint8_t padded[kMinFrameLength];
    if (length < kMinFrameLength) {
      std::memset(padded, 0, sizeof padded);
      std::memcpy(padded, frame, length);
      frame = padded;
      length = kMinFrameLength;
    }
    return lib_.sendpacket(link.handle, frame, static_cast<int>(length)) == 0;
  }

  bool SetReadEvent(PortLink& base, Packet& packet) override {
    auto& link = static_cast<PcapLink&>(base);
    if (!link.handle) return false;
    char errbuf[kPcapErrorBufferSize] = {};
    int fd = lib_.get_selectable_fd(link.handle);
    if (fd < 0 || lib_.setnonblock(link.handle, 1, errbuf) < 0) return false;
    packet.readEvent = fd;
    return true;
  }

  void ReleaseReader(PortLink& base) override {
    auto& link = static_cast<PcapLink&>(base);
    if (link.handle) lib_.breakloop(link.handle);
    if (link.closeEvent >= 0) {
      uint64_t one = 1;
      ssize_t n = write(link.closeEvent, &one, sizeof one);
      (void)n;
    }
  }

  bool ReadPacket(PortLink& base, Packet& packet) override {
    auto& link = static_cast<PcapLink&>(base);
    packet.bytesReceived = 0;
    packet.readError = 0;
    if (!link.handle || packet.readEvent < 0) {
      packet.readError = EBADF;
      return false;
    }
    pollfd fds[2] = {{packet.readEvent, POLLIN, 0}, {link.closeEvent, POLLIN, 0}};
    int ready;
    do {
      ready = poll(fds, 2, -1);
    } while (ready < 0 && errno == EINTR);
    if (ready < 0) {
      packet.readError = errno;
      return false;
    }
    if (fds[1].revents) return false;  // the port is closing
    // At most as many frames as whole records of the capture length fit.
    int room = static_cast<int>(packet.length / RecordAlign(kRecordHeaderLength + kCaptureSnapLength));
    if (room < 1) {
      packet.readError = ENOBUFS;
      return false;
    }
    AppendContext ctx{&packet, 0};
    int n = lib_.dispatch(link.handle, room, AppendRecord, reinterpret_cast<unsigned char*>(&ctx));
    if (n == kPcapErrorBreak) return false;
    if (n < 0 || (n == 0 && (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)))) {
      packet.readError = EIO;
      return false;
    }
    packet.bytesReceived = static_cast<uint32_t>(ctx.used);
    return true;
  }

  bool SetPacketFilter(PortLink& base, uint32_t filter) override {
    return static_cast<PcapLink&>(base).memberships.SetFilter(filter);
  }

  bool SetMulticastList(PortLink& base, const uint8_t* list, size_t bytes) override {
    return static_cast<PcapLink&>(base).memberships.SetList(list, bytes);
  }

  bool SetProtocolFilter(PortLink& base, std::span<const BpfInstruction> program) override {
    auto& link = static_cast<PcapLink&>(base);
    if (!link.handle) return false;
    PcapProgram prog{static_cast<unsigned int>(program.size()), program.data()};
    return lib_.setfilter(link.handle, &prog) == 0;
  }
  // The library filters in user space when the kernel refuses a program, and
  // captures everything when the program itself is refused.
  bool TracesDeviceErrors() const override { return false; }
  bool ProtocolFilterRequired() const override { return true; }

  bool SetKernelBuffer(PortLink& base, uint32_t bytes) override {
    auto& link = static_cast<PcapLink&>(base);
    return link.handle && link.bufferBytes >= bytes;
  }

 private:
  PcapLibrary& lib_;
};

}  // namespace

bool PcapLibrary::Load() {
  if (loaded) return true;
  void* lib = nullptr;
  for (const char* name : {"libpcap.so.0.8", "libpcap.so.1", "libpcap.so"}) {
    lib = dlopen(name, RTLD_NOW | RTLD_LOCAL);
    if (lib) break;
  }
  if (!lib) return false;
  loaded = Bind(lib, lib_version, "pcap_lib_version") && Bind(lib, create, "pcap_create") &&
           Bind(lib, set_snaplen, "pcap_set_snaplen") &&
           Bind(lib, set_promisc, "pcap_set_promisc") &&
           Bind(lib, set_timeout, "pcap_set_timeout") &&
           Bind(lib, set_buffer_size, "pcap_set_buffer_size") &&
           Bind(lib, activate, "pcap_activate") && Bind(lib, close, "pcap_close") &&
           Bind(lib, datalink, "pcap_datalink") && Bind(lib, setfilter, "pcap_setfilter") &&
           Bind(lib, setdirection, "pcap_setdirection") && Bind(lib, fileno, "pcap_fileno") &&
           Bind(lib, get_selectable_fd, "pcap_get_selectable_fd") &&
           Bind(lib, setnonblock, "pcap_setnonblock") && Bind(lib, dispatch, "pcap_dispatch") &&
           Bind(lib, breakloop, "pcap_breakloop") && Bind(lib, sendpacket, "pcap_sendpacket") &&
           Bind(lib, findalldevs, "pcap_findalldevs") &&
           Bind(lib, freealldevs, "pcap_freealldevs");
  return loaded;
}

std::unique_ptr<PacketBackend> MakePcapBackend(PcapLibrary& library) {
  return std::make_unique<PcapBackend>(library);
}

bool PcapAdapterList(PcapLibrary& library, std::vector<LibraryAdapter>& out) {
  out.clear();
  if (!library.loaded) return false;
  char errbuf[kPcapErrorBufferSize] = {};
  PcapInterface* all = nullptr;
  if (library.findalldevs(&all, errbuf) != 0) return false;
  for (PcapInterface* d = all; d; d = d->next) {
    if (!d->name) continue;
    LibraryAdapter a;
    a.name = d->name;
    if (d->description) a.description = d->description;
    a.flags = d->flags;
    out.push_back(std::move(a));
  }
  library.freealldevs(all);
  return true;
}

}  // namespace torvane
