// The CDP parser: a frame captured from lldpd, the version and checksum gates,
// how each TLV maps onto the record, and one test per malformed shape.
#include "agent/frames/cdp_parser.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "agent/frames/cdp_builder.h"
#include "records/text_forms.h"
#include "common/text.h"
#include "tests/support/frames/frame_makers.h"
#include "tests/support/frames/port_fixture.h"
#include "tests/support/frames/parse_rig.h"
#include "tests/support/frames/settings_fixture.h"

namespace torvane {
namespace {

using nbrtest::Bytes;
using nbrtest::CdpAddresses;
using nbrtest::CdpFrame;
using nbrtest::CdpIpv4Record;

constexpr uint32_t kNow = 1700000000;

class CdpParserTest : public ::testing::Test, protected ParseRig {
 protected:
  ParseResult Parse(const Bytes& frame, Neighbor& record, uint32_t now = kNow) {
    return ParseWith(ParseCdpFrame, frame, record, now);
  }
};

TEST_F(CdpParserTest, LldpdFrameFillsEveryField) {
  // lldpd -ccccc (CDPv2 only), tshark's decode:
  //   IEEE 802.3 Length: 111, LLC/SNAP, OUI 00:00:0c, PID 0x2000
  //   Version: 2, TTL: 20 seconds, Checksum: 0x6e4c [correct]
  //   Device ID: fixture-peer
  //   Addresses: 1, IP address: 10.77.0.1 (NLPID 0x01, length 1, 0xCC, length 4)
  //   Port ID: veth0
  //   Capabilities: 0x00000010 (Host)
  //   Software version: Fixture system description
  //   Platform: FixturePlatform
  Bytes frame = nbrtest::ReadFixture("lldpd_cdp.bin");
  ASSERT_EQ(frame.size(), 125u);
  ASSERT_EQ((frame.size() - 22) % 2, 1u);  // an odd PDU: the last octet's handling matters
  EXPECT_EQ(CdpChecksum(frame.data() + 22, frame.size() - 22), 0);
  Neighbor r{};
  ASSERT_EQ(Parse(frame, r), kParseStored);

  const std::string mac("\x2e\x26\xb8\xcf\xc1\x75", 6);
  EXPECT_EQ(r.localPort, 1u);
  EXPECT_EQ(FieldText(r.interfaceName), "eth0");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(r.sourceMac), 6), mac);
  EXPECT_EQ(r.ttl, 20u);
  EXPECT_EQ(r.lastUpdate, kNow);
  EXPECT_EQ(r.discovered, kNow);
  EXPECT_EQ(FieldText(r.systemName), "fixture-peer");
  EXPECT_EQ(r.chassisIdSubtype, 6u);
  EXPECT_EQ(IdText(r.chassisId), "fixture-peer");
  EXPECT_EQ(r.portIdSubtype, 3u);
  EXPECT_EQ(IdText(r.portId), mac);
  EXPECT_EQ(FieldText(r.portDescription), "veth0");
  EXPECT_EQ(r.capSupported, 0x80u);
  EXPECT_EQ(r.capEnabled, 0x80u);
  EXPECT_EQ(FieldText(r.systemDescription), "FixturePlatform Fixture system description");
  EXPECT_EQ(r.manAddrCount, 1u);
  EXPECT_EQ(FormatIpv4(r.manAddr[0]), "10.77.0.1");
  EXPECT_EQ(r.manAddrIfSubtype[0], 1u);
  EXPECT_EQ(r.manAddrIfNumber[0], 0u);
  EXPECT_EQ(FormatIpv4(r.portAddress), "10.77.0.1");
  EXPECT_EQ(FormatIpv4(r.interfaceAddress), "10.77.0.5");
  EXPECT_EQ(r.mode, 0u);
  EXPECT_EQ(r.portVlanId, 0u);
}

TEST_F(CdpParserTest, ReadsWhatOurOwnBuilderSends) {
  PortFacts sender = GigabitPortFacts();
  sender.vlanId = 10;
  AddressTable senderAddresses;
  AddAddress(senderAddresses, 2, MakeIpv4(192, 168, 1, 77));
  AgentSettings senderSettings = DefaultSettingsForTest();
  uint8_t buffer[1500];
  size_t n = BuildCdpFrame(sender, senderSettings, "Linux 6.1", senderAddresses, buffer, sizeof buffer);
  Neighbor r{};
  r.mode = 6;  // speed bits from an earlier LLDP frame stay
  ASSERT_EQ(Parse(Bytes(buffer, buffer + n), r), kParseStored);
  EXPECT_EQ(FieldText(r.systemName), "host1");
  EXPECT_EQ(FieldText(r.portDescription), "Intel PRO/1000");
  EXPECT_EQ(FieldText(r.systemDescription), "Linux 6.1 x86_64 - Linux 6.1");
  EXPECT_EQ(r.capEnabled, 0x80u);
  EXPECT_EQ(FormatIpv4(r.portAddress), "192.168.1.77");
  EXPECT_EQ(FormatIpv4(r.interfaceAddress), "192.168.1.10");
  EXPECT_EQ(r.portVlanId, 10u);
  EXPECT_EQ(r.mode, 7u);  // full duplex added to the gigabit speed class
  EXPECT_EQ(r.ttl, 120u);
}

TEST_F(CdpParserTest, RefusesVersion3) {
  Neighbor r{};
  r.ttl = 33;
  EXPECT_EQ(Parse(CdpFrame(3).Tlv(1, "dev").Seal(), r), kParseMalformed);
  EXPECT_EQ(r.ttl, 33u);
  EXPECT_EQ(FieldText(r.systemName), "");
  EXPECT_EQ(Parse(CdpFrame(1).Tlv(1, "dev").Seal(), r), kParseStored);
  EXPECT_EQ(FieldText(r.systemName), "dev");
}

// Peers sum an odd last octet of 0x80 or more differently (signed or plain):
// a frame either rule validates is taken, and only those.
TEST_F(CdpParserTest, AcceptsAFrameThatEitherOddOctetRuleValidates) {
  struct Case {
    const char* deviceId;  // its last octet is the PDU's last
    CdpOddOctet sealedBy;
    uint16_t result;
    ParseResult expected;
  };
  const Case cases[] = {
      {"even", CdpOddOctet::kSigned, 0, kParseStored},
      {"odd", CdpOddOctet::kSigned, 0, kParseStored},
      {"od\xC8", CdpOddOctet::kSigned, 0, kParseStored},
      {"od\xC8", CdpOddOctet::kPlain, 0, kParseStored},
      {"od\x80", CdpOddOctet::kPlain, 0, kParseStored},
      {"even", CdpOddOctet::kSigned, 0xFEFF, kParseMalformed},
      {"odd", CdpOddOctet::kSigned, 0xFEFF, kParseMalformed},
      {"od\xC8", CdpOddOctet::kPlain, 0x1234, kParseMalformed},
  };
  for (const Case& c : cases) {
    Neighbor r{};
    Bytes frame = CdpFrame().Tlv(1, c.deviceId).Seal(c.result, c.sealedBy);
    EXPECT_EQ(Parse(frame, r), c.expected) << c.deviceId << " sealed to " << c.result;
  }
}

TEST_F(CdpParserTest, RefusesOtherCheckResultsAndReportsThem) {
  Neighbor r{};
  Bytes frame = CdpFrame().Tlv(1, "dev").Seal(0x1234);
  EXPECT_EQ(Parse(frame, r), kParseMalformed);
  EXPECT_EQ(notes.cdpChecksum, 0x1234);
  EXPECT_EQ(r.ttl, 0u);
  EXPECT_EQ(r.localPort, 0u);
}

TEST_F(CdpParserTest, PlatformBeforeSoftwareLeavesTheSoftwareAlone) {
  Neighbor r{};
  ASSERT_EQ(Parse(CdpFrame().Tlv(6, "plat").Tlv(5, "soft 1.0").Seal(), r), kParseStored);
  EXPECT_EQ(FieldText(r.systemDescription), "soft 1.0");
}

TEST_F(CdpParserTest, SoftwareThenPlatformJoinsThemWithinTheField) {
  Neighbor r{};
  ASSERT_EQ(Parse(CdpFrame().Tlv(5, "soft 1.0").Tlv(6, "plat").Seal(), r), kParseStored);
  EXPECT_EQ(FieldText(r.systemDescription), "plat soft 1.0");

  ASSERT_EQ(Parse(CdpFrame().Tlv(5, std::string(20, 's')).Tlv(6, std::string(120, 'p')).Seal(), r),
            kParseStored);
  EXPECT_EQ(FieldText(r.systemDescription), std::string(120, 'p') + " " + std::string(6, 's'));

  ASSERT_EQ(Parse(CdpFrame().Tlv(5, "soft").Tlv(6, std::string(200, 'p')).Seal(), r), kParseStored);
  EXPECT_EQ(FieldText(r.systemDescription), std::string(127, 'p'));
}

TEST_F(CdpParserTest, DeviceIdIsCutTo63InNameAndChassisId) {
  std::string id(100, 'd');
  id[62] = 'E';
  Neighbor r{};
  ASSERT_EQ(Parse(CdpFrame().Tlv(1, id).Seal(), r), kParseStored);
  EXPECT_EQ(FieldText(r.systemName), id.substr(0, 63));
  EXPECT_EQ(IdText(r.chassisId), id.substr(0, 63));
  EXPECT_EQ(r.chassisIdSubtype, 6u);
}

TEST_F(CdpParserTest, CapabilitiesMapOntoLldpBits) {
  Neighbor r{};
  ASSERT_EQ(Parse(CdpFrame().Tlv(4, Bytes{0, 0, 0, 0x28}).Seal(), r), kParseStored);
  EXPECT_EQ(CapabilityLetters(r.capSupported, r.capEnabled), "B");  // switch and IGMP
  EXPECT_EQ(CdpToLldpCapabilities(0x01), 0x10u);
  EXPECT_EQ(CdpToLldpCapabilities(0x02), 0x04u);
  EXPECT_EQ(CdpToLldpCapabilities(0x10), 0x80u);
  EXPECT_EQ(CdpToLldpCapabilities(0x40), 0x02u);
  EXPECT_EQ(CdpToLldpCapabilities(0xFFFFFFA4), 0u);
}

TEST_F(CdpParserTest, Ipv6ThenIpv4StoresAndMatchesOnlyTheIpv4Entry) {
  const uint8_t v6[16] = {0xfd, 0, 0, 0x77, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  Neighbor r{};
  ASSERT_EQ(Parse(CdpFrame()
                      .Tlv(2, CdpAddresses(2, {nbrtest::CdpIpv6Record(v6), CdpIpv4Record({10, 77, 0, 1})}))
                      .Seal(),
                  r),
            kParseStored);
  EXPECT_EQ(r.manAddrCount, 1u);
  EXPECT_EQ(FormatIpv4(r.manAddr[0]), "10.77.0.1");
  EXPECT_EQ(FormatIpv4(r.interfaceAddress), "10.77.0.5");
  EXPECT_EQ(FormatIpv4(r.portAddress), "10.77.0.1");
}

TEST_F(CdpParserTest, OnlyTheFirstIpv4AddressIsMatchedAgainstTheSubnets) {
  Neighbor r{};
  ASSERT_EQ(Parse(CdpFrame()
                      .Tlv(2, CdpAddresses(2, {CdpIpv4Record({0, 0, 0, 0}), CdpIpv4Record({10, 77, 0, 1})}))
                      .Seal(),
                  r),
            kParseStored);
  EXPECT_EQ(r.manAddrCount, 2u);
  EXPECT_EQ(FormatIpv4(r.interfaceAddress), "192.168.1.10");
  EXPECT_EQ(FormatIpv4(r.portAddress), "10.77.0.1");  // first non-zero stored
}

TEST_F(CdpParserTest, KeepsEightAddresses) {
  std::vector<Bytes> records;
  for (uint8_t i = 1; i <= 10; ++i) records.push_back(CdpIpv4Record({172, 31, 0, i}));
  Neighbor r{};
  ASSERT_EQ(Parse(CdpFrame().Tlv(2, CdpAddresses(10, records)).Seal(), r), kParseStored);
  EXPECT_EQ(r.manAddrCount, 8u);
  EXPECT_EQ(FormatIpv4(r.manAddr[7]), "172.31.0.8");
}

TEST_F(CdpParserTest, KeepsWhatLldpGave) {
  Neighbor r{};
  CopyText(r.systemName, "from-lldp");
  r.manAddrCount = 1;
  r.manAddrIfSubtype[0] = 2;
  r.manAddrIfNumber[0] = 5;
  r.ttl = 120;
  r.lastUpdate = kNow - 3;
  Neighbor before = r;
  EXPECT_EQ(Parse(CdpFrame().Tlv(1, "from-cdp").Seal(), r), kParseMalformed);
  EXPECT_EQ(std::memcmp(&before, &r, sizeof r), 0);

  // Addresses that CDP stored itself do not hold a later CDP frame back.
  r.manAddrIfSubtype[0] = 1;
  r.manAddrIfNumber[0] = 0;
  EXPECT_EQ(Parse(CdpFrame().Tlv(1, "from-cdp").Seal(), r), kParseStored);
  EXPECT_EQ(FieldText(r.systemName), "from-cdp");
}

TEST_F(CdpParserTest, TtlZeroAsksForRemoval) {
  Neighbor r{};
  EXPECT_EQ(Parse(CdpFrame(2, 0).Tlv(1, "going").Seal(), r), kParseRemove);
  EXPECT_EQ(r.ttl, 0u);
}

TEST_F(CdpParserTest, ResetsWhatTheFrameDoesNotCarry) {
  Neighbor r{};
  ASSERT_EQ(Parse(CdpFrame().Tlv(1, "dev").Tlv(3, "Gi0/1").Tlv(5, "soft").Tlv(4, Bytes{0, 0, 0, 1})
                      .Tlv(2, CdpAddresses(1, {CdpIpv4Record({10, 77, 0, 1})})).Seal(),
                  r),
            kParseStored);
  r.mauType = 30;
  ASSERT_EQ(Parse(CdpFrame().Tlv(10, Bytes{0x00, 0x14}).Seal(), r, kNow + 10), kParseStored);
  EXPECT_EQ(FieldText(r.systemName), "");
  EXPECT_EQ(FieldText(r.portDescription), "");
  EXPECT_EQ(FieldText(r.systemDescription), "");
  EXPECT_EQ(r.chassisId.length, 0u);
  EXPECT_EQ(r.chassisIdSubtype, 6u);  // left as the last Device ID set it
  EXPECT_EQ(r.capEnabled, 0u);
  EXPECT_EQ(r.manAddrCount, 0u);
  EXPECT_EQ(FormatIpv4(r.portAddress), "0.0.0.0");
  EXPECT_EQ(r.mauType, 30u);
  EXPECT_EQ(r.portVlanId, 20u);
  EXPECT_EQ(r.discovered, kNow);
  EXPECT_EQ(r.lastUpdate, kNow + 10);
}

TEST_F(CdpParserTest, DuplexAndVlanNeedTheirExactLengths) {
  Neighbor r{};
  r.mode = 4;
  ASSERT_EQ(Parse(CdpFrame().Tlv(11, Bytes{1}).Tlv(10, Bytes{0, 9}).Seal(), r), kParseStored);
  EXPECT_EQ(r.mode, 5u);
  EXPECT_EQ(r.portVlanId, 9u);
  ASSERT_EQ(Parse(CdpFrame().Tlv(11, Bytes{0}).Seal(), r), kParseStored);
  EXPECT_EQ(r.mode, 4u);
  ASSERT_EQ(Parse(CdpFrame().Tlv(11, Bytes{1, 1}).Tlv(10, Bytes{0, 0, 7}).Seal(), r), kParseStored);
  EXPECT_EQ(r.mode, 4u);
  EXPECT_EQ(r.portVlanId, 9u);
}

// ---- malformed shapes ----

TEST_F(CdpParserTest, CdpShortFrame) {
  Bytes frame = CdpFrame().Seal();
  frame.pop_back();
  Neighbor r{};
  r.ttl = 5;
  EXPECT_EQ(Parse(frame, r), kParseMalformed);
  EXPECT_EQ(r.ttl, 5u);
}

TEST_F(CdpParserTest, CdpHeaderOnly) {
  Neighbor r{};
  EXPECT_EQ(Parse(CdpFrame(2, 60).Seal(), r), kParseStored);
  EXPECT_EQ(r.ttl, 60u);
  EXPECT_EQ(FieldText(r.systemName), "");
}

TEST_F(CdpParserTest, CdpAddressCountOverflow) {
  Neighbor r{};
  ASSERT_EQ(Parse(CdpFrame()
                      .Tlv(2, CdpAddresses(0xFFFFFFFF, {CdpIpv4Record({10, 77, 0, 1})}))
                      .Tlv(3, "after")
                      .Seal(),
                  r),
            kParseStored);
  EXPECT_EQ(r.manAddrCount, 1u);
  EXPECT_EQ(FieldText(r.portDescription), "after");
}

TEST_F(CdpParserTest, CdpAddressRecordPastEnd) {
  Bytes record{0x02, 200, 0xAA, 0xAA};  // protocol length 200, four bytes there
  Neighbor r{};
  ASSERT_EQ(Parse(CdpFrame()
                      .Tlv(2, CdpAddresses(2, {record, CdpIpv4Record({10, 77, 0, 1})}))
                      .Tlv(3, "after")
                      .Seal(),
                  r),
            kParseStored);
  EXPECT_EQ(r.manAddrCount, 0u);
  EXPECT_EQ(FieldText(r.portDescription), "after");
}

TEST_F(CdpParserTest, CdpAddressLengthPastEnd) {
  Bytes cut{0x01, 0x01, 0xCC, 0x00, 0x04, 10, 77};  // an IPv4 record with two address bytes
  Neighbor r{};
  ASSERT_EQ(Parse(CdpFrame().Tlv(2, CdpAddresses(1, {cut})).Seal(), r), kParseStored);
  EXPECT_EQ(r.manAddrCount, 0u);
}

TEST_F(CdpParserTest, CdpAddressTlvShorterThanItsCount) {
  Neighbor r{};
  ASSERT_EQ(Parse(CdpFrame().Tlv(2, Bytes{0, 0, 1}).Tlv(3, "after").Seal(), r), kParseStored);
  EXPECT_EQ(r.manAddrCount, 0u);
  EXPECT_EQ(FieldText(r.portDescription), "after");
}

TEST_F(CdpParserTest, CdpTlvLengthPastEnd) {
  Bytes frame = CdpFrame().Tlv(3, "first").Raw(Bytes{0x00, 0x01, 0x00, 0x64, 'd', 'e', 'v'}).Seal();
  Neighbor r{};
  ASSERT_EQ(Parse(frame, r), kParseStored);
  EXPECT_EQ(FieldText(r.portDescription), "first");
  EXPECT_EQ(FieldText(r.systemName), "");
}

TEST_F(CdpParserTest, CdpTlvLengthBelowFour) {
  Bytes frame = CdpFrame().Raw(Bytes{0x00, 0x01, 0x00, 0x02}).Tlv(3, "never").Seal();
  Neighbor r{};
  ASSERT_EQ(Parse(frame, r), kParseStored);
  EXPECT_EQ(FieldText(r.portDescription), "");
}

TEST_F(CdpParserTest, CdpZeroTypeEndsTheWalk) {
  Bytes frame = CdpFrame().Tlv(0, "pad").Tlv(3, "never").Seal();
  Neighbor r{};
  ASSERT_EQ(Parse(frame, r), kParseStored);
  EXPECT_EQ(FieldText(r.portDescription), "");
}

TEST_F(CdpParserTest, CdpTlvHeaderCutShort) {
  Bytes frame = CdpFrame().Tlv(3, "kept").Raw(Bytes{0x00, 0x01, 0x00}).Seal();
  Neighbor r{};
  ASSERT_EQ(Parse(frame, r), kParseStored);
  EXPECT_EQ(FieldText(r.portDescription), "kept");
}

}  // namespace
}  // namespace torvane
