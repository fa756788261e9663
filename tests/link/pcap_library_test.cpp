// The capture library's record types are declared by the agent itself (it has no
// build-time dependency on the library); the library's own headers check them here.
#include "agent/link/pcap_library.h"

#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include <cstring>
#include <string>

namespace torvane {
namespace {

static_assert(sizeof(PcapPacketHeader) == sizeof(pcap_pkthdr));
static_assert(offsetof(PcapPacketHeader, caplen) == offsetof(pcap_pkthdr, caplen));
static_assert(offsetof(PcapPacketHeader, len) == offsetof(pcap_pkthdr, len));
static_assert(sizeof(PcapProgram) == sizeof(bpf_program));
static_assert(offsetof(PcapProgram, bf_insns) == offsetof(bpf_program, bf_insns));
static_assert(sizeof(BpfInstruction) == sizeof(bpf_insn));
static_assert(offsetof(BpfInstruction, k) == offsetof(bpf_insn, k));
static_assert(sizeof(PcapInterface) == sizeof(pcap_if_t));
static_assert(offsetof(PcapInterface, name) == offsetof(pcap_if_t, name));
static_assert(offsetof(PcapInterface, description) == offsetof(pcap_if_t, description));
static_assert(offsetof(PcapInterface, flags) == offsetof(pcap_if_t, flags));
static_assert(kPcapErrorBreak == PCAP_ERROR_BREAK);
static_assert(kPcapDirectionIn == PCAP_D_IN);
static_assert(kDltEthernet == DLT_EN10MB);
static_assert(kPcapErrorBufferSize == PCAP_ERRBUF_SIZE);

TEST(PcapLibrary, BindsEveryEntryPointAtRunTime) {
  PcapLibrary lib;
  if (!lib.Load()) GTEST_SKIP() << "libpcap is not installed";
  EXPECT_TRUE(lib.loaded);
  ASSERT_NE(lib.lib_version, nullptr);
  EXPECT_NE(std::string(lib.lib_version()).find("libpcap"), std::string::npos);
  for (void* p : {reinterpret_cast<void*>(lib.create), reinterpret_cast<void*>(lib.dispatch),
                  reinterpret_cast<void*>(lib.breakloop), reinterpret_cast<void*>(lib.close),
                  reinterpret_cast<void*>(lib.freealldevs)})
    EXPECT_NE(p, nullptr);
  // A second load keeps the binding.
  EXPECT_TRUE(lib.Load());
}

TEST(PcapLibrary, BackEndReportsTheLibraryVersionAndRefusesMissingAdapters) {
  PcapLibrary lib;
  if (!lib.Load()) GTEST_SKIP() << "libpcap is not installed";
  auto backend = MakePcapBackend(lib);
  std::string version;
  EXPECT_TRUE(backend->StartDriver(version));
  EXPECT_EQ(version, lib.lib_version());
  EXPECT_STREQ(backend->Name(), "libpcap");
  OpenFailure why = OpenFailure::kNone;
  EXPECT_EQ(backend->OpenAdapter("no-such-if0", why), nullptr);
  EXPECT_EQ(why, OpenFailure::kCannotOpen);
}

TEST(PcapLibrary, UnloadedLibraryGivesNoBackEndService) {
  PcapLibrary lib;
  auto backend = MakePcapBackend(lib);
  std::string version;
  EXPECT_FALSE(backend->StartDriver(version));
  std::vector<LibraryAdapter> list;
  EXPECT_FALSE(PcapAdapterList(lib, list));
}

}  // namespace
}  // namespace torvane
