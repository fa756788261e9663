#include "agent/frames/cdp_builder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "agent/frames/lldp_builder.h"  // kFrameBufferSize
#include "agent/frames/wire_format.h"
#include "tests/support/frames/port_fixture.h"
#include "tests/support/frames/settings_fixture.h"

namespace torvane {
namespace {

using Bytes = std::vector<uint8_t>;

class CdpBuilderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings = DefaultSettingsForTest();
    std::memset(settings.systemName, 0, sizeof settings.systemName);
    std::memcpy(settings.systemName, "host1", 5);
    std::memset(settings.systemDescription, 0, sizeof settings.systemDescription);
    std::memcpy(settings.systemDescription, "x86_64 - Linux 6.1", 18);
  }

  Bytes Build(size_t size = kFrameBufferSize) {
    Bytes frame(size);
    size_t n = BuildCdpFrame(port, settings, "Linux 6.1", addresses, frame.data(), frame.size());
    frame.resize(n);
    return frame;
  }

  AgentSettings settings;
  PortFacts port = GigabitPortFacts();
  AddressTable addresses;
};

uint16_t Be16(const Bytes& f, size_t at) { return static_cast<uint16_t>((f[at] << 8) | f[at + 1]); }

// Offset of the first CDP TLV of the type, or -1.
long FindTlv(const Bytes& f, uint16_t type) {
  size_t at = kCdpHeaderSize;
  while (at + 4 <= f.size()) {
    uint16_t len = Be16(f, at + 2);
    if (Be16(f, at) == type) return static_cast<long>(at);
    if (len < 4) break;
    at += len;
  }
  return -1;
}

TEST_F(CdpBuilderTest, DefaultFrameWithoutMatchedInterface) {
  port.ifIndex = 0;
  AddAddress(addresses, 0, MakeIpv4(10, 0, 0, 5));  // ifIndex 0 never lists addresses
  const Bytes expected = {
      0x01, 0x00, 0x0C, 0xCC, 0xCC, 0xCC,  // CDP multicast
      0x00, 0x11, 0x22, 0x33, 0x44, 0x55,  // from the port's MAC
      0x00, 0x5F,                          // 802.3 length 95 = 109 - 14
      0xAA, 0xAA, 0x03, 0x00, 0x00, 0x0C, 0x20, 0x00,  // LLC/SNAP, CDP
      0x02, 0x78, 0xF0, 0x70,              // version 2, hold time 120, checksum
      0x00, 0x01, 0x00, 0x09, 'h', 'o', 's', 't', '1',                  // device ID
      0x00, 0x02, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00,                   // addresses: none
      0x00, 0x03, 0x00, 0x12, 'I', 'n', 't', 'e', 'l', ' ', 'P', 'R', 'O', '/', '1', '0', '0',
      '0',                                                              // port ID
      0x00, 0x04, 0x00, 0x08, 0x00, 0x00, 0x00, 0x10,                   // capabilities: host
      0x00, 0x05, 0x00, 0x16, 'x', '8', '6', '_', '6', '4', ' ', '-', ' ', 'L', 'i', 'n', 'u',
      'x', ' ', '6', '.', '1',                                          // version
      0x00, 0x06, 0x00, 0x0D, 'L', 'i', 'n', 'u', 'x', ' ', '6', '.', '1',  // platform
      0x00, 0x0B, 0x00, 0x05, 0x01,                                     // duplex: full
  };
  Bytes f = Build();
  EXPECT_EQ(f, expected);
  // The payload (87 octets from the version on) is odd; its last octet is below 0x80.
  EXPECT_EQ(CdpChecksum(f.data() + kCdpPduOffset, f.size() - kCdpPduOffset), 0);
}

TEST_F(CdpBuilderTest, AddressesVlanRouterBridgeAndSaturatedHoldTime) {
  settings.txInterval = 300;
  settings.txHoldMultiplier = 4;  // 1200 s would wrap to 176
  settings.CapEnabled = 0x14;     // bridge and router
  port.vlanId = 10;
  port.duplex = 0;                // unknown: no duplex TLV
  AddAddress(addresses, 3, MakeIpv4(192, 168, 1, 9));
  AddAddress(addresses, 2, MakeIpv4(10, 0, 0, 9), 0);  // not advertised
  AddAddress(addresses, 2, MakeIpv4(10, 0, 0, 5));
  const Bytes expected = {
      0x01, 0x00, 0x0C, 0xCC, 0xCC, 0xCC, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55,
      0x00, 0x69,                          // 802.3 length 105
      0xAA, 0xAA, 0x03, 0x00, 0x00, 0x0C, 0x20, 0x00,
      0x02, 0xFF, 0xA8, 0x43,              // hold time 255, checksum
      0x00, 0x01, 0x00, 0x09, 'h', 'o', 's', 't', '1',
      0x00, 0x02, 0x00, 0x11, 0x00, 0x00, 0x00, 0x01,  // addresses: one
      0x01, 0x01, 0xCC, 0x00, 0x04, 0x0A, 0x00, 0x00, 0x05,  // NLPID, IP, 10.0.0.5
      0x00, 0x03, 0x00, 0x12, 'I', 'n', 't', 'e', 'l', ' ', 'P', 'R', 'O', '/', '1', '0', '0', '0',
      0x00, 0x04, 0x00, 0x08, 0x00, 0x00, 0x00, 0x09,  // capabilities: switch + router
      0x00, 0x05, 0x00, 0x16, 'x', '8', '6', '_', '6', '4', ' ', '-', ' ', 'L', 'i', 'n', 'u',
      'x', ' ', '6', '.', '1',
      0x00, 0x06, 0x00, 0x0D, 'L', 'i', 'n', 'u', 'x', ' ', '6', '.', '1',
      0x00, 0x0A, 0x00, 0x06, 0x00, 0x0A,  // native VLAN 10
  };
  EXPECT_EQ(Build(), expected);
}

TEST_F(CdpBuilderTest, OddPayloadEndingAtOrAbove0x80UsesTheSignedLastOctet) {
  // Same frame as above with VLAN 200: the last octet is 0xC8, which receivers
  // add as the word 0xFFC7.
  settings.txInterval = 300;
  settings.txHoldMultiplier = 4;
  settings.CapEnabled = 0x14;
  port.vlanId = 200;
  port.duplex = 0;
  AddAddress(addresses, 2, MakeIpv4(10, 0, 0, 5));
  Bytes f = Build();
  ASSERT_EQ(f.size(), 119u);
  EXPECT_EQ(f.back(), 0xC8);
  EXPECT_EQ(Be16(f, kCdpChecksumOffset), 0xA885);
}

TEST_F(CdpBuilderTest, HoldTimeSaturates) {
  struct Case {
    uint32_t interval, hold;
    uint8_t ttl;
  } cases[] = {
      {30, 4, 120}, {60, 4, 240}, {60, 5, 255}, {300, 4, 255}, {0x80000000u, 2, 255}, {255, 1, 255},
  };
  for (const Case& c : cases) {
    settings.txInterval = c.interval;
    settings.txHoldMultiplier = c.hold;
    Bytes f = Build();
    ASSERT_GT(f.size(), 23u);
    EXPECT_EQ(f[23], c.ttl) << c.interval << " x " << c.hold;
  }
}

TEST_F(CdpBuilderTest, CapabilityMappingAndDuplexTlv) {
  struct Case {
    uint32_t lldp;
    uint8_t cdp;
  } caps[] = {{0x80, 0x10}, {0x10, 0x01}, {0x04, 0x08}, {0x02, 0x40}, {0x96, 0x59}, {0x69, 0x00}};
  for (const Case& c : caps) {
    settings.CapEnabled = c.lldp;
    Bytes f = Build();
    long at = FindTlv(f, kCdpCapabilities);
    ASSERT_GE(at, 0);
    EXPECT_EQ(Bytes(f.begin() + at + 4, f.begin() + at + 8), (Bytes{0, 0, 0, c.cdp})) << c.lldp;
  }

  port.duplex = 1;
  Bytes half = Build();
  long at = FindTlv(half, kCdpDuplex);
  ASSERT_GE(at, 0);
  EXPECT_EQ(half[at + 4], 0) << "half duplex";
  port.duplex = 0;
  EXPECT_LT(FindTlv(Build(), kCdpDuplex), 0) << "unknown duplex";
  port.duplex = 2;
  settings.Duplex = 0;
  EXPECT_LT(FindTlv(Build(), kCdpDuplex), 0) << "Duplex 0 sends no duplex TLV";
}

TEST_F(CdpBuilderTest, PortIdIsConnectionNameWithTxPname) {
  settings.txPname = 1;
  Bytes f = Build();
  long at = FindTlv(f, kCdpPortId);
  ASSERT_GE(at, 0);
  EXPECT_EQ(Bytes(f.begin() + at, f.begin() + at + 8), (Bytes{0, 3, 0, 8, 'e', 't', 'h', '0'}));
}

// 128 entries take 1152 octets: with the longest texts the fields allow, they no
// longer fit in 1500.
TEST_F(CdpBuilderTest, ManyAddressesStayWithinTheBufferAndAreCounted) {
  port.vlanId = 10;
  std::memset(settings.systemName, 'n', sizeof settings.systemName - 1);
  std::memset(settings.systemDescription, 'v', sizeof settings.systemDescription - 1);
  const std::string longDescription(127, 'd');
  port.description = longDescription;
  const std::string platform(31, 'p');
  Bytes without(kFrameBufferSize);
  without.resize(BuildCdpFrame(port, settings, platform, addresses, without.data(), without.size()));
  for (int i = 0; i < 128; ++i) AddAddress(addresses, 2, MakeIpv4(10, 1, 0, static_cast<uint8_t>(i)));
  Bytes buffer(kFrameBufferSize + 64, 0xA5);
  size_t n = BuildCdpFrame(port, settings, platform, addresses, buffer.data(), kFrameBufferSize);
  for (size_t i = kFrameBufferSize; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], 0xA5);
  ASSERT_LE(n, kFrameBufferSize);
  Bytes f(buffer.begin(), buffer.begin() + n);

  const size_t fitting = (kFrameBufferSize - without.size()) / 9;
  ASSERT_LT(fitting, 128u);
  ASSERT_EQ(n, without.size() + fitting * 9);
  EXPECT_EQ(Be16(f, kCdpLengthOffset), n - 14);
  long at = FindTlv(f, kCdpAddresses);
  ASSERT_GE(at, 0);
  EXPECT_EQ(Be16(f, at + 2), 8 + 9 * fitting);
  EXPECT_EQ(Be16(f, at + 4), 0);
  EXPECT_EQ(Be16(f, at + 6), fitting);
  for (size_t i = 0; i < fitting; ++i) EXPECT_EQ(f[at + 8 + 9 * i + 8], i) << "table order";
  EXPECT_GE(FindTlv(f, kCdpNativeVlan), 0) << "the TLVs after the addresses stay";
  EXPECT_GE(FindTlv(f, kCdpDuplex), 0);
  EXPECT_EQ(CdpChecksum(f.data() + kCdpPduOffset, f.size() - kCdpPduOffset), 0);
}

TEST_F(CdpBuilderTest, SmallBuffersNeverOverflowAndLengthsAgree) {
  for (int i = 0; i < 10; ++i) AddAddress(addresses, 2, MakeIpv4(10, 1, 0, static_cast<uint8_t>(i)));
  port.vlanId = 10;
  for (size_t size = 0; size <= 300; ++size) {
    Bytes buffer(size + 16, 0xA5);
    size_t n = BuildCdpFrame(port, settings, "Linux 6.1", addresses, buffer.data(), size);
    for (size_t i = size; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], 0xA5) << "size " << size;
    if (size < kCdpHeaderSize) {
      EXPECT_EQ(n, 0u);
      continue;
    }
    ASSERT_LE(n, size);
    Bytes f(buffer.begin(), buffer.begin() + n);
    EXPECT_EQ(Be16(f, kCdpLengthOffset), n - 14) << "size " << size;
    // The TLVs tile the frame exactly, and the address count matches its length.
    size_t at = kCdpHeaderSize;
    while (at + 4 <= n && Be16(f, at + 2) >= 4) {
      if (Be16(f, at) == kCdpAddresses) {
        EXPECT_EQ(Be16(f, at + 2), 8 + 9 * Be16(f, at + 6)) << "size " << size;
      }
      at += Be16(f, at + 2);
    }
    EXPECT_EQ(at, n) << "size " << size;
    EXPECT_EQ(CdpChecksum(f.data() + kCdpPduOffset, n - kCdpPduOffset), 0);
  }
  // A bigger buffer never yields a frame whose 802.3 length reads as an EtherType.
  std::string platform(3000, 'p');
  Bytes big(4000);
  size_t n = BuildCdpFrame(port, settings, platform, addresses, big.data(), big.size());
  EXPECT_LE(n, 14u + 1500u);
  EXPECT_EQ(BuildCdpFrame(port, settings, "Linux 6.1", addresses, nullptr, 1500), 0u);
}

TEST(CdpChecksumTest, EvenLength) {
  const uint8_t data[] = {0x02, 0x78, 0x00, 0x00, 0x00, 0x01};  // 0x0278 + 0x0001
  EXPECT_EQ(CdpChecksum(data, sizeof data), 0xFD86);
}

TEST(CdpChecksumTest, CarryWrapsAround) {
  const uint8_t data[] = {0xFF, 0xFF, 0x00, 0x02};  // 0xFFFF + 2 = 0x10001 -> 0x0002
  EXPECT_EQ(CdpChecksum(data, sizeof data), 0xFFFD);
  // 0xFFFF + 0xFFFF + 1 = 0x1FFFF folds to 0x10000, which carries again: 0x0001.
  const uint8_t twice[] = {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x01};
  EXPECT_EQ(CdpChecksum(twice, sizeof twice), 0xFFFE);
}

TEST(CdpChecksumTest, OddLengthLastOctetBelow0x80CountsAsLowOrder) {
  const uint8_t data[] = {0x02, 0x78, 0x00, 0x00, 0x41};  // 0x0278 + 0x0041, not + 0x4100
  EXPECT_EQ(CdpChecksum(data, sizeof data), 0xFD46);
}

TEST(CdpChecksumTest, OddLengthLastOctetAtOrAbove0x80IsSignExtended) {
  const uint8_t c8[] = {0x02, 0x78, 0x00, 0x00, 0xC8};  // 0x0278 + 0xFFC7 = 0x1023F -> 0x0240
  EXPECT_EQ(CdpChecksum(c8, sizeof c8), 0xFDBF);
  EXPECT_EQ(CdpChecksum(c8, sizeof c8, CdpOddOctet::kPlain), 0xFCBF);  // 0x0278 + 0x00C8
  const uint8_t x80[] = {0x02, 0x78, 0x00, 0x00, 0x80};  // 0x0278 + 0xFF7F = 0x101F7 -> 0x01F8
  EXPECT_EQ(CdpChecksum(x80, sizeof x80), 0xFE07);
}

TEST(CdpChecksumTest, FrameWithItsChecksumSumsToZero) {
  for (uint8_t last : {0x00, 0x7F, 0x80, 0xFF}) {
    uint8_t data[] = {0x02, 0xB4, 0x00, 0x00, 0x00, 0x01, 0x00, 0x05, last};
    uint16_t c = CdpChecksum(data, sizeof data);
    data[2] = static_cast<uint8_t>(c >> 8);
    data[3] = static_cast<uint8_t>(c);
    EXPECT_EQ(CdpChecksum(data, sizeof data), 0) << int{last};
  }
}

}  // namespace
}  // namespace torvane
