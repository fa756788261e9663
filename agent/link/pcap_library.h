// The library back-end: the capture library (libpcap) loaded at run time, with no
// link-time dependency, its entry points bound by name. Its few record types are
// declared here in the library's published layout.
#pragma once

#include <sys/time.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "agent/link/adapter_discovery.h"
#include "agent/link/packet_backend.h"

namespace torvane {

struct PcapHandle;  // the library's pcap_t

struct PcapPacketHeader {  // pcap_pkthdr
  timeval ts;
  uint32_t caplen;
  uint32_t len;
};

struct PcapProgram {  // bpf_program
  unsigned int bf_len;
  const BpfInstruction* bf_insns;
};

struct PcapInterface {  // pcap_if_t
  PcapInterface* next;
  char* name;
  char* description;
  void* addresses;
  uint32_t flags;
};

constexpr int kPcapErrorBreak = -2;
constexpr int kPcapDirectionIn = 1;
constexpr int kDltEthernet = 1;
constexpr size_t kPcapErrorBufferSize = 256;

using PcapHandler = void (*)(unsigned char* user, const PcapPacketHeader* header,
                             const unsigned char* bytes);

// The bound entry points; valid only after Load returned true.
struct PcapLibrary {
  const char* (*lib_version)() = nullptr;
  PcapHandle* (*create)(const char* source, char* errbuf) = nullptr;
  int (*set_snaplen)(PcapHandle*, int) = nullptr;
  int (*set_promisc)(PcapHandle*, int) = nullptr;
  int (*set_timeout)(PcapHandle*, int) = nullptr;
  int (*set_buffer_size)(PcapHandle*, int) = nullptr;
  int (*activate)(PcapHandle*) = nullptr;
  void (*close)(PcapHandle*) = nullptr;
  int (*datalink)(PcapHandle*) = nullptr;
  int (*setfilter)(PcapHandle*, PcapProgram*) = nullptr;
  int (*setdirection)(PcapHandle*, int) = nullptr;
  int (*fileno)(PcapHandle*) = nullptr;
  int (*get_selectable_fd)(PcapHandle*) = nullptr;
  int (*setnonblock)(PcapHandle*, int, char* errbuf) = nullptr;
  int (*dispatch)(PcapHandle*, int, PcapHandler, unsigned char*) = nullptr;
  void (*breakloop)(PcapHandle*) = nullptr;
  int (*sendpacket)(PcapHandle*, const unsigned char*, int) = nullptr;
  int (*findalldevs)(PcapInterface**, char* errbuf) = nullptr;
  void (*freealldevs)(PcapInterface*) = nullptr;

  // Loads the library ("libpcap.so.0.8", "libpcap.so.1", then "libpcap.so") and
  // binds every entry point; the first one missing ends it with false. The
  // library stays loaded for the life of the process.
  bool Load();
  bool loaded = false;
};

// The back-end over a loaded library (which must outlive it).
std::unique_ptr<PacketBackend> MakePcapBackend(PcapLibrary& library);

// The library's adapter list (pcap_findalldevs), in its order; false when the
// library is not loaded or the call fails.
bool PcapAdapterList(PcapLibrary& library, std::vector<LibraryAdapter>& out);

}  // namespace torvane
