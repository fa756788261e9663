// The protocol filters run by the kernel itself: each program is attached to the
// receiving end of a local datagram socket pair, so that every sample frame goes
// through the kernel's own filter (no network involved) and either arrives,
// cut to the capture length, or is dropped.
#include "agent/link/protocol_filter.h"

#include <gtest/gtest.h>
#include <linux/filter.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <vector>

namespace torvane {
namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kLldpGroup = {0x01, 0x80, 0xC2, 0x00, 0x00, 0x0E};
const Bytes kCdpGroup = {0x01, 0x00, 0x0C, 0xCC, 0xCC, 0xCC};
const Bytes kSource = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};

Bytes EthernetFrame(const Bytes& dst, uint16_t typeOrLength, const Bytes& payload,
                    size_t minimum = 60) {
  Bytes f(dst);
  f.insert(f.end(), kSource.begin(), kSource.end());
  f.push_back(static_cast<uint8_t>(typeOrLength >> 8));
  f.push_back(static_cast<uint8_t>(typeOrLength));
  f.insert(f.end(), payload.begin(), payload.end());
  if (f.size() < minimum) f.resize(minimum, 0);
  return f;
}

// CDP: 802.3 length, LLC AA-AA-03, OUI 00-00-0C, protocol 0x2000, then a
// version/TTL/checksum header and a device-ID TLV.
Bytes CdpPayload() {
  return {0xAA, 0xAA, 0x03, 0x00, 0x00, 0x0C, 0x20, 0x00, 0x02, 0xB4, 0x00, 0x00,
          0x00, 0x01, 0x00, 0x08, 's',  'w',  '0',  '1'};
}

Bytes CdpFrame(const Bytes& dst) {
  Bytes payload = CdpPayload();
  return EthernetFrame(dst, static_cast<uint16_t>(payload.size()), payload);
}

// The form some wireless drivers deliver: a second 8-byte SNAP header (OUI
// 00-00-00, type 0x0000 here) in front of the CDP one.
Bytes WirelessCdpFrame(const Bytes& dst) {
  Bytes payload = {0xAA, 0xAA, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00};
  Bytes cdp = CdpPayload();
  payload.insert(payload.end(), cdp.begin(), cdp.end());
  return EthernetFrame(dst, static_cast<uint16_t>(payload.size()), payload);
}

Bytes LldpFrame(const Bytes& dst, size_t length = 60) {
  // Chassis ID (MAC), port ID (name "p1"), TTL 120, end.
  Bytes tlvs = {0x02, 0x07, 0x04, 0x02, 0x11, 0x22, 0x33, 0x44, 0x55, 0x04, 0x03, 0x05, 'p',
                '1',  0x06, 0x02, 0x00, 0x78, 0x00, 0x00};
  return EthernetFrame(dst, 0x88CC, tlvs, length);
}

class KernelFilter {
 public:
  explicit KernelFilter(std::span<const BpfInstruction> program) {
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, sv) != 0) return;
    send_ = sv[0];
    recv_ = sv[1];
    int big = 1 << 20;
    setsockopt(recv_, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
    sock_fprog prog{static_cast<unsigned short>(program.size()),
                    reinterpret_cast<sock_filter*>(const_cast<BpfInstruction*>(program.data()))};
    attached_ = setsockopt(recv_, SOL_SOCKET, SO_ATTACH_FILTER, &prog, sizeof prog) == 0;
  }
  ~KernelFilter() {
    if (send_ >= 0) close(send_);
    if (recv_ >= 0) close(recv_);
  }
  bool attached() const { return attached_; }

  // The bytes that pass the filter, or nullopt when it drops the frame.
  std::optional<Bytes> Pass(const Bytes& frame) {
    if (send(send_, frame.data(), frame.size(), 0) != static_cast<ssize_t>(frame.size()))
      return std::nullopt;
    Bytes out(frame.size() + 16);
    ssize_t n = recv(recv_, out.data(), out.size(), MSG_DONTWAIT);
    if (n < 0) return std::nullopt;
    out.resize(static_cast<size_t>(n));
    return out;
  }

 private:
  int send_ = -1;
  int recv_ = -1;
  bool attached_ = false;
};

TEST(ProtocolFilter, ProgramsHaveTheirSizes) {
  EXPECT_EQ(sizeof kPlainProtocolFilter, 72u);
  EXPECT_EQ(sizeof kBugProtocolFilter, 144u);
  EXPECT_EQ(ProtocolFilter(0).data(), kPlainProtocolFilter);
  EXPECT_EQ(ProtocolFilter(1).data(), kBugProtocolFilter);
  EXPECT_EQ(ProtocolFilter(7).size(), 18u);
}

class BothFilters : public ::testing::TestWithParam<uint32_t> {};

TEST_P(BothFilters, KernelAcceptsTheProgramUnchanged) {
  KernelFilter k(ProtocolFilter(GetParam()));
  EXPECT_TRUE(k.attached()) << "errno " << errno;
}

TEST_P(BothFilters, LldpPassesWhole) {
  KernelFilter k(ProtocolFilter(GetParam()));
  ASSERT_TRUE(k.attached());
  Bytes f = LldpFrame(kLldpGroup);
  EXPECT_EQ(k.Pass(f), f);
  // LLDP is kept whatever its destination.
  Bytes unicast = LldpFrame(kSource);
  EXPECT_EQ(k.Pass(unicast), unicast);
}

TEST_P(BothFilters, CdpToItsGroupAddressPasses) {
  KernelFilter k(ProtocolFilter(GetParam()));
  ASSERT_TRUE(k.attached());
  Bytes f = CdpFrame(kCdpGroup);
  EXPECT_EQ(k.Pass(f), f);
}

TEST_P(BothFilters, LongFrameIsCutToTheCaptureLength) {
  KernelFilter k(ProtocolFilter(GetParam()));
  ASSERT_TRUE(k.attached());
  Bytes f = LldpFrame(kLldpGroup, 2000);
  auto got = k.Pass(f);
  ASSERT_TRUE(got);
  EXPECT_EQ(got->size(), kCaptureSnapLength);
  EXPECT_TRUE(std::equal(got->begin(), got->end(), f.begin()));
}

TEST_P(BothFilters, OtherTrafficIsDropped) {
  KernelFilter k(ProtocolFilter(GetParam()));
  ASSERT_TRUE(k.attached());
  Bytes ipv4 = EthernetFrame(kCdpGroup, 0x0800, {0x45, 0x00, 0x00, 0x1C});
  Bytes arp = EthernetFrame({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 0x0806, {0x00, 0x01, 0x08, 0x00});
  Bytes vlan = EthernetFrame(kLldpGroup, 0x8100, {0x00, 0x05, 0x88, 0xCC});
  // Spanning tree: 802.3 length, LLC 42-42-03.
  Bytes stp = EthernetFrame({0x01, 0x80, 0xC2, 0x00, 0x00, 0x00}, 0x0026, {0x42, 0x42, 0x03, 0x00});
  // SNAP, but not CDP (OUI 00-00-0C, PID 0x2003 is VTP).
  Bytes vtp = EthernetFrame(kCdpGroup, 0x0020, {0xAA, 0xAA, 0x03, 0x00, 0x00, 0x0C, 0x20, 0x03});
  for (const Bytes* f : {&ipv4, &arp, &vlan, &stp, &vtp}) EXPECT_FALSE(k.Pass(*f));
}

INSTANTIATE_TEST_SUITE_P(Filters, BothFilters, ::testing::Values(0u, 1u));

TEST(ProtocolFilter, BugFilterTakesWirelessCdpOnlyInGroupFrames) {
  KernelFilter bug(ProtocolFilter(1));
  KernelFilter plain(ProtocolFilter(0));
  ASSERT_TRUE(bug.attached());
  ASSERT_TRUE(plain.attached());
  Bytes wireless = WirelessCdpFrame(kCdpGroup);
  EXPECT_EQ(bug.Pass(wireless), wireless);
  EXPECT_FALSE(plain.Pass(wireless));

  Bytes unicastCdp = CdpFrame(kSource);
  EXPECT_FALSE(bug.Pass(unicastCdp));
  EXPECT_EQ(plain.Pass(unicastCdp), unicastCdp);
  EXPECT_FALSE(bug.Pass(WirelessCdpFrame(kSource)));
}

TEST(ProtocolFilter, BugFilterIgnoresTheLengthFieldButNeedsTheBytes) {
  KernelFilter bug(ProtocolFilter(1));
  KernelFilter plain(ProtocolFilter(0));
  ASSERT_TRUE(bug.attached());
  // CDP whose 802.3 length field claims an EtherType-sized value.
  Bytes odd = CdpFrame(kCdpGroup);
  odd[12] = 0x06;
  odd[13] = 0x00;
  EXPECT_EQ(bug.Pass(odd), odd);
  EXPECT_FALSE(plain.Pass(odd));
  // A group frame too short to hold a SNAP header after the MAC header.
  Bytes tiny(kCdpGroup);
  tiny.insert(tiny.end(), kSource.begin(), kSource.end());
  tiny.insert(tiny.end(), {0x00, 0x08, 0xAA, 0xAA, 0x03, 0x00, 0x00, 0x0C});
  EXPECT_FALSE(bug.Pass(tiny));
  // The wireless form cut before its second header.
  Bytes cut = WirelessCdpFrame(kCdpGroup);
  cut.resize(31);
  EXPECT_FALSE(bug.Pass(cut));
}

}  // namespace
}  // namespace torvane
