// The LLDP parser: real frames captured from lldpd, the mandatory TLV order,
// what each TLV fills, LLDP-MED fast start, and one test per malformed shape.
#include "agent/frames/lldp_parser.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "agent/frames/lldp_builder.h"
#include "common/text.h"
#include "tests/support/frames/frame_makers.h"
#include "tests/support/frames/port_fixture.h"
#include "tests/support/frames/parse_rig.h"
#include "tests/support/frames/settings_fixture.h"

namespace torvane {
namespace {

using nbrtest::Bytes;
using nbrtest::LldpFrame;

constexpr uint32_t kNow = 1700000000;

class LldpParserTest : public ::testing::Test, protected ParseRig {
 protected:
  LldpParserTest() {
    AddAddress(addresses, 3, MakeIpv4(172, 16, 0, 1));
  }
  ParseResult Parse(const Bytes& frame, Neighbor& record, uint32_t now = kNow) {
    return ParseWith(ParseLldpFrame, frame, record, now);
  }
};

std::string FormatIpv4Text(const uint8_t a[4]) {
  return std::to_string(a[0]) + "." + std::to_string(a[1]) + "." + std::to_string(a[2]) + "." +
         std::to_string(a[3]);
}

// ---- frames captured from lldpd 1.0.16 (tests/fixtures/capture_lldpd.sh) ----

TEST_F(LldpParserTest, LldpdMedEndpointFrameFillsEveryField) {
  // lldpd -M 1 (LLDP-MED endpoint class I) with a voice policy, tshark's decode:
  //   Chassis Id: MAC address (4) 2e:26:b8:cf:c1:75
  //   Port Id: MAC address (3) 2e:26:b8:cf:c1:75
  //   Time To Live = 20 sec
  //   System Name = fixture-peer
  //   System Description = Fixture system description
  //   Capabilities: 0x009c, Enabled Capabilities: 0x0080
  //   Management Address: 10.77.0.1, Interface Subtype: ifIndex (2), Number: 2
  //   Management Address: fd00:77::1 (IPv6), ifIndex 2
  //   Port Description = veth0
  //   Ieee 802.3 - Link Aggregation (subtype 3)
  //   Ieee 802.3 - MAC/PHY: autoneg 0x00, PMD 0x8000, Operational MAU Type 0x0036
  //   TIA - Media Capabilities: 0x003f, Class Type: Endpoint Class I (1)
  //   TIA - Inventory - Software Revision
  //   TIA - Network Policy: Voice, VLAN 10, L2 priority 5, DSCP 46
  //   End of LLDPDU
  Bytes frame = nbrtest::ReadFixture("lldpd_lldp_med_endpoint.bin");
  ASSERT_EQ(frame.size(), 196u);
  settings.MedDevType = 4;
  Neighbor r{};
  ASSERT_EQ(Parse(frame, r), kParseStored);

  const std::string mac("\x2e\x26\xb8\xcf\xc1\x75", 6);
  EXPECT_EQ(r.localPort, 1u);
  EXPECT_EQ(FieldText(r.interfaceName), "eth0");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(r.sourceMac), 6), mac);
  EXPECT_EQ(r.chassisIdSubtype, 4u);
  EXPECT_EQ(IdText(r.chassisId), mac);
  EXPECT_EQ(r.portIdSubtype, 3u);
  EXPECT_EQ(IdText(r.portId), mac);
  EXPECT_EQ(r.ttl, 20u);
  EXPECT_EQ(r.lastUpdate, kNow);
  EXPECT_EQ(r.discovered, kNow);
  EXPECT_EQ(FieldText(r.systemName), "fixture-peer");
  EXPECT_EQ(FieldText(r.systemDescription), "Fixture system description");
  EXPECT_EQ(FieldText(r.portDescription), "veth0");
  EXPECT_EQ(r.capSupported, 0x9Cu);
  EXPECT_EQ(r.capEnabled, 0x80u);
  // Only the IPv4 management address is kept; it lies in the port's second
  // subnet, which makes 10.77.0.5 this host's address toward the neighbour.
  EXPECT_EQ(r.manAddrCount, 1u);
  EXPECT_EQ(FormatIpv4Text(r.manAddr[0]), "10.77.0.1");
  EXPECT_EQ(r.manAddrIfSubtype[0], 2u);
  EXPECT_EQ(r.manAddrIfNumber[0], 2u);
  EXPECT_EQ(FormatIpv4Text(r.portAddress), "10.77.0.1");
  EXPECT_EQ(FormatIpv4Text(r.interfaceAddress), "10.77.0.5");
  EXPECT_EQ(r.mauType, 0x36u);
  EXPECT_EQ(r.mode, 0u);  // MAU 54 (10GBASE) is beyond what the mode shows
  EXPECT_EQ(r.maxFrameSize, 0u);
  EXPECT_EQ(r.portVlanId, 0u);
  EXPECT_EQ(r.selfHandle, 0u);  // the table hands out handles
  // An endpoint heard while this host is a network connectivity device.
  EXPECT_TRUE(notes.medEndpointHeard);
}

TEST_F(LldpParserTest, LldpdNetworkDeviceFrameStartsNoFastStart) {
  // lldpd -M 4: the same TLVs with Media Capabilities 0x003f, Class Type:
  // Network Connectivity (4), and no network policy.
  Bytes frame = nbrtest::ReadFixture("lldpd_lldp_med_network.bin");
  ASSERT_EQ(frame.size(), 186u);
  settings.MedDevType = 4;
  Neighbor r{};
  ASSERT_EQ(Parse(frame, r), kParseStored);
  EXPECT_EQ(FieldText(r.systemName), "fixture-peer");
  EXPECT_EQ(r.ttl, 20u);
  EXPECT_FALSE(notes.medEndpointHeard);
}

TEST_F(LldpParserTest, LldpdShutdownFrameAsksForRemoval) {
  // Chassis Id MAC 2e:26:b8:cf:c1:75, Port Id MAC (same), Time To Live = 0 sec,
  // End of LLDPDU (38 bytes).
  Bytes frame = nbrtest::ReadFixture("lldpd_lldp_shutdown.bin");
  ASSERT_EQ(frame.size(), 38u);
  Neighbor r{};
  r.ttl = 20;
  r.lastUpdate = kNow - 5;
  EXPECT_EQ(Parse(frame, r), kParseRemove);
  EXPECT_EQ(r.ttl, 0u);
  EXPECT_EQ(r.chassisIdSubtype, 4u);
}

TEST_F(LldpParserTest, ReadsWhatOurOwnBuilderSends) {
  PortFacts sender = GigabitPortFacts();
  AddressTable senderAddresses;
  AddAddress(senderAddresses, 2, MakeIpv4(192, 168, 1, 77));
  AgentSettings senderSettings = DefaultSettingsForTest();
  uint8_t buffer[kFrameBufferSize];
  size_t n = BuildLldpFrame(sender, senderSettings, senderAddresses, 1, buffer, sizeof buffer, kNow);
  Neighbor r{};
  ASSERT_EQ(Parse(Bytes(buffer, buffer + n), r), kParseStored);
  EXPECT_EQ(r.chassisIdSubtype, 7u);
  EXPECT_EQ(IdText(r.chassisId), "Wq3Kvxqz");
  EXPECT_EQ(r.portIdSubtype, 3u);
  EXPECT_EQ(IdText(r.portId), std::string("\x00\x11\x22\x33\x44\x55", 6));
  EXPECT_EQ(r.ttl, 120u);
  EXPECT_EQ(FieldText(r.systemName), "host1");
  EXPECT_EQ(FieldText(r.portDescription), "Intel PRO/1000");
  EXPECT_EQ(r.capEnabled, 0x80u);
  EXPECT_EQ(FormatIpv4Text(r.portAddress), "192.168.1.77");
  EXPECT_EQ(FormatIpv4Text(r.interfaceAddress), "192.168.1.10");
  EXPECT_EQ(r.mauType, 30u);
  EXPECT_EQ(r.mode, 7u);
  EXPECT_EQ(r.maxFrameSize, 1518u);
}

// ---- the mandatory TLVs ----

TEST_F(LldpParserTest, RefusesTtlInPlaceOfPortId) {
  Neighbor r{};
  EXPECT_EQ(Parse(LldpFrame().Chassis(7, "c").Ttl(120).PortId(5, "p").End().bytes(), r),
            kParseMalformed);
  EXPECT_EQ(r.ttl, 0u);
  EXPECT_EQ(r.chassisId.length, 0u);  // never committed
}

TEST_F(LldpParserTest, RefusesRepeatedChassisId) {
  Neighbor r{};
  EXPECT_EQ(Parse(LldpFrame().Chassis(7, "c").Chassis(7, "d").PortId(5, "p").Ttl(9).End().bytes(), r),
            kParseMalformed);
}

TEST_F(LldpParserTest, RefusesChassisIdAfterTtl) {
  Neighbor r{};
  EXPECT_EQ(Parse(LldpFrame().Mandatory().Chassis(7, "again").End().bytes(), r), kParseMalformed);
  // What the TLVs before it wrote stays written.
  EXPECT_EQ(r.ttl, 120u);
  EXPECT_EQ(IdText(r.chassisId), "chassis-1");
}

TEST_F(LldpParserTest, AcceptsDescriptionFirstButTtlClearsIt) {
  Neighbor r{};
  EXPECT_EQ(Parse(LldpFrame().Tlv(4, "early").Mandatory().End().bytes(), r), kParseStored);
  EXPECT_EQ(FieldText(r.portDescription), "");
  EXPECT_EQ(IdText(r.portId), "ge-0/0/1");
  EXPECT_EQ(r.portIdSubtype, 5u);
  EXPECT_EQ(r.chassisIdSubtype, 7u);
}

TEST_F(LldpParserTest, FrameWithoutTtlFromNewSenderIsNotStored) {
  Neighbor r{};
  EXPECT_EQ(Parse(LldpFrame().Chassis(7, "c").PortId(5, "p").Tlv(5, "name").End().bytes(), r),
            kParseRemove);
  EXPECT_EQ(r.ttl, 0u);
}

TEST_F(LldpParserTest, RefusedFrameKeepsAKnownNeighboursIdentityAndTtl) {
  Neighbor r{};
  ASSERT_EQ(Parse(LldpFrame().Chassis(7, "old").PortId(5, "p1").Ttl(120).End().bytes(), r, kNow),
            kParseStored);
  EXPECT_EQ(Parse(LldpFrame().Chassis(7, "new").PortId(5, "p2").PortId(5, "p3").End().bytes(), r,
                  kNow + 10),
            kParseMalformed);
  EXPECT_EQ(IdText(r.chassisId), "old");
  EXPECT_EQ(IdText(r.portId), "p1");
  EXPECT_EQ(r.ttl, 120u);
  EXPECT_EQ(r.lastUpdate, kNow);
}

// ---- fields ----

TEST_F(LldpParserTest, ChassisIdLongerThan68BytesIsCutTo67) {
  std::string longId(100, 'x');
  longId[66] = 'L';
  longId[67] = 'Z';
  Neighbor r{};
  ASSERT_EQ(Parse(LldpFrame().Chassis(7, longId).PortId(5, "p").Ttl(60).End().bytes(), r),
            kParseStored);
  EXPECT_EQ(r.chassisId.length, 67u);
  EXPECT_EQ(IdText(r.chassisId), longId.substr(0, 67));
  // Exactly 68 value bytes fit whole.
  ASSERT_EQ(Parse(LldpFrame().Chassis(7, longId.substr(0, 67)).PortId(5, "p").Ttl(60).End().bytes(), r),
            kParseStored);
  EXPECT_EQ(IdText(r.chassisId), longId.substr(0, 67));
}

TEST_F(LldpParserTest, EmptyChassisIdGivesSubtypeAndLengthZero) {
  Neighbor r{};
  ASSERT_EQ(Parse(LldpFrame().Tlv(1, Bytes{}).PortId(5, "port-01").Ttl(60).End().bytes(), r), kParseStored);
  EXPECT_EQ(r.chassisIdSubtype, 0u);
  EXPECT_EQ(r.chassisId.length, 0u);
}

TEST_F(LldpParserTest, NineManagementAddressesKeepEightButMatchAllNine) {
  LldpFrame f;
  f.Mandatory().ManagementIpv4({0, 0, 0, 0});
  for (uint8_t i = 1; i <= 7; ++i) f.ManagementIpv4({172, 31, 0, i}, 2, i);
  f.ManagementIpv4({10, 77, 0, 99}).End();  // the ninth, in the port's subnet
  Neighbor r{};
  ASSERT_EQ(Parse(f.bytes(), r), kParseStored);
  EXPECT_EQ(r.manAddrCount, 8u);
  EXPECT_EQ(FormatIpv4Text(r.manAddr[0]), "0.0.0.0");
  EXPECT_EQ(FormatIpv4Text(r.manAddr[7]), "172.31.0.7");
  EXPECT_EQ(r.manAddrIfNumber[7], 7u);
  EXPECT_EQ(FormatIpv4Text(r.interfaceAddress), "10.77.0.5");
  EXPECT_EQ(FormatIpv4Text(r.portAddress), "172.31.0.1");
}

TEST_F(LldpParserTest, ManagementAddressesOtherThanIpv4AreSkipped) {
  Bytes ipv6{17, 2};
  ipv6.insert(ipv6.end(), 16, 0xFD);
  ipv6.insert(ipv6.end(), {2, 0, 0, 0, 2, 0});
  Bytes shortOne{5, 1, 10, 77, 0, 1, 2, 0, 0, 0, 2};  // 11 bytes: no OID length
  Bytes mac{7, 6, 1, 2, 3, 4, 5, 6, 2, 0, 0, 0, 0, 0};
  Neighbor r{};
  ASSERT_EQ(Parse(LldpFrame().Mandatory().Tlv(8, ipv6).Tlv(8, shortOne).Tlv(8, mac).End().bytes(), r),
            kParseStored);
  EXPECT_EQ(r.manAddrCount, 0u);
  EXPECT_EQ(FormatIpv4Text(r.portAddress), "0.0.0.0");
  EXPECT_EQ(FormatIpv4Text(r.interfaceAddress), "192.168.1.10");  // first of the interface
}

TEST_F(LldpParserTest, TtlAndCapabilitiesFoldEveryValueByte) {
  Neighbor r{};
  ASSERT_EQ(Parse(LldpFrame()
                      .Chassis(7, "c")
                      .PortId(5, "p")
                      .Tlv(3, Bytes{0x00, 0x01, 0x00, 0x00})
                      .Tlv(7, Bytes{0x00, 0x14})
                      .End()
                      .bytes(),
                  r),
            kParseStored);
  EXPECT_EQ(r.ttl, 65536u);
  EXPECT_EQ(r.capSupported, 0u);  // two bytes fold into the enabled half only
  EXPECT_EQ(r.capEnabled, 0x14u);
  ASSERT_EQ(Parse(LldpFrame().Chassis(7, "c").PortId(5, "port-01").Tlv(3, Bytes{}).End().bytes(), r),
            kParseRemove);
}

TEST_F(LldpParserTest, TextsAreCutToTheirFields) {
  std::string longText(300, 'd');
  Neighbor r{};
  ASSERT_EQ(Parse(LldpFrame()
                      .Mandatory()
                      .Tlv(4, longText)
                      .Tlv(5, longText.substr(0, 100))
                      .Tlv(6, longText)
                      .End()
                      .bytes(),
                  r),
            kParseStored);
  EXPECT_EQ(FieldText(r.portDescription).size(), 127u);
  EXPECT_EQ(FieldText(r.systemName).size(), 63u);
  EXPECT_EQ(FieldText(r.systemDescription).size(), 127u);
}

TEST_F(LldpParserTest, OrganizationalTlvsNeedTheirExactLengths) {
  Neighbor r{};
  ASSERT_EQ(Parse(LldpFrame()
                      .Mandatory()
                      .Org({0x00, 0x80, 0xC2}, 1, Bytes{0x00, 0x0A})
                      .Org({0x00, 0x12, 0x0F}, 4, Bytes{0x05, 0xEE})
                      .Org({0x00, 0x12, 0x0F}, 1, Bytes{0x03, 0x80, 0x00, 0x00, 0x10})
                      .End()
                      .bytes(),
                  r),
            kParseStored);
  EXPECT_EQ(r.portVlanId, 10u);
  EXPECT_EQ(r.maxFrameSize, 1518u);
  EXPECT_EQ(r.mauType, 16u);
  EXPECT_EQ(r.mode, 5u);

  Neighbor s{};
  ASSERT_EQ(Parse(LldpFrame()
                      .Mandatory()
                      .Org({0x00, 0x80, 0xC2}, 1, Bytes{0x00})                 // v 5
                      .Org({0x00, 0x12, 0x0F}, 4, Bytes{0x05, 0xEE, 0x00})     // v 7
                      .Org({0x00, 0x12, 0x0F}, 1, Bytes{0x03, 0x80, 0x00, 0x00})  // v 8
                      .Org({0x00, 0x80, 0xC3}, 1, Bytes{0x00, 0x0A})           // other OUI
                      .End()
                      .bytes(),
                  s),
            kParseStored);
  EXPECT_EQ(s.portVlanId, 0u);
  EXPECT_EQ(s.maxFrameSize, 0u);
  EXPECT_EQ(s.mauType, 0u);
}

TEST_F(LldpParserTest, VlanMauAndFrameSizeOutliveFramesWithoutThem) {
  Neighbor r{};
  ASSERT_EQ(Parse(LldpFrame()
                      .Mandatory()
                      .Tlv(5, "named")
                      .ManagementIpv4({10, 77, 0, 1})
                      .Org({0x00, 0x80, 0xC2}, 1, Bytes{0x00, 0x0A})
                      .Org({0x00, 0x12, 0x0F}, 4, Bytes{0x05, 0xEE})
                      .Org({0x00, 0x12, 0x0F}, 1, Bytes{0x03, 0x80, 0x00, 0x00, 0x1E})
                      .End()
                      .bytes(),
                  r),
            kParseStored);
  ASSERT_EQ(Parse(LldpFrame().Mandatory().End().bytes(), r, kNow + 30), kParseStored);
  EXPECT_EQ(r.portVlanId, 10u);
  EXPECT_EQ(r.maxFrameSize, 1518u);
  EXPECT_EQ(r.mode, 7u);
  EXPECT_EQ(FieldText(r.systemName), "");
  EXPECT_EQ(r.manAddrCount, 0u);
  EXPECT_EQ(FormatIpv4Text(r.portAddress), "0.0.0.0");
  EXPECT_EQ(r.lastUpdate, kNow + 30);
}

TEST_F(LldpParserTest, DiscoveredMovesOnlyForANewOrRunOutRecord) {
  Neighbor r{};
  Bytes frame = LldpFrame().Mandatory(120).End().bytes();
  ASSERT_EQ(Parse(frame, r, kNow), kParseStored);
  EXPECT_EQ(r.discovered, kNow);
  ASSERT_EQ(Parse(frame, r, kNow + 120), kParseStored);
  EXPECT_EQ(r.discovered, kNow);
  ASSERT_EQ(Parse(frame, r, kNow + 241), kParseStored);  // 120 + 120 < 241
  EXPECT_EQ(r.discovered, kNow + 241);
}

TEST(ModeFromMau, FollowsTheMauTable) {
  struct Case { uint32_t mau, mode; };
  const Case cases[] = {{0, 0},  {1, 2},  {9, 2},  {10, 2}, {11, 3}, {12, 2}, {13, 3},
                        {14, 2}, {15, 4}, {16, 5}, {20, 5}, {21, 6}, {22, 7}, {29, 6},
                        {30, 7}, {31, 0}, {54, 0}, {0xFFFF, 0}};
  for (const Case& c : cases) EXPECT_EQ(ModeFromMauType(c.mau), c.mode) << "MAU " << c.mau;
}

// ---- LLDP-MED endpoints ----

Bytes MedEndpoint(uint8_t deviceClass) {
  return LldpFrame()
      .Mandatory()
      .Org({0x00, 0x12, 0xBB}, 1, Bytes{0x00, 0x33, deviceClass})
      .End()
      .bytes();
}

TEST_F(LldpParserTest, EndpointsAreReportedOnlyToANetworkDevice) {
  settings.MedDevType = 4;
  Neighbor r{};
  for (uint8_t deviceClass : {1, 2, 3}) {
    ASSERT_EQ(Parse(MedEndpoint(deviceClass), r), kParseStored);
    EXPECT_TRUE(notes.medEndpointHeard) << "class " << int{deviceClass};
  }
  Bytes longer = LldpFrame()
                     .Mandatory()
                     .Org({0x00, 0x12, 0xBB}, 1, Bytes{0x00, 0x33, 0x01, 0x00})
                     .End()
                     .bytes();
  struct Case {
    uint8_t ourType;
    Bytes frame;
    const char* what;
  };
  for (const Case& c : {Case{1, MedEndpoint(2), "this host is an endpoint itself"},
                        Case{4, MedEndpoint(4), "another network device"},
                        Case{4, MedEndpoint(0), "class 0"},
                        Case{4, longer, "capabilities TLV too long"}}) {
    settings.MedDevType = c.ourType;
    ASSERT_EQ(Parse(c.frame, r), kParseStored) << c.what;
    EXPECT_FALSE(notes.medEndpointHeard) << c.what;
  }
}

// ---- malformed shapes ----

TEST_F(LldpParserTest, ShortFrameLeavesRecordUntouched) {
  Bytes frame = LldpFrame().Mandatory().End().bytes();
  frame.resize(29);
  Neighbor r{};
  r.localPort = 99;
  r.ttl = 7;
  EXPECT_EQ(Parse(frame, r), kParseMalformed);
  EXPECT_EQ(r.localPort, 99u);
  EXPECT_EQ(r.ttl, 7u);
  EXPECT_EQ(FieldText(r.interfaceName), "");
}

TEST_F(LldpParserTest, TlvLengthPastEnd) {
  Bytes frame = LldpFrame().Mandatory().Tlv(4, "port").bytes();
  frame.insert(frame.end(), {0x0A, 40, 'a', 'b', 'c'});  // System Name claims 40 bytes, has 3
  Neighbor r{};
  EXPECT_EQ(Parse(frame, r), kParseStored);
  EXPECT_EQ(FieldText(r.portDescription), "port");
  EXPECT_EQ(FieldText(r.systemName), "");
}

TEST_F(LldpParserTest, NinthLengthBitPastEnd) {
  Bytes frame = LldpFrame().Mandatory().bytes();
  frame.insert(frame.end(), {0x0D, 0x04, 'a', 'b', 'c', 'd'});  // type 6, length 260
  Neighbor r{};
  EXPECT_EQ(Parse(frame, r), kParseStored);
  EXPECT_EQ(FieldText(r.systemDescription), "");
}

TEST_F(LldpParserTest, TlvHeaderCutInHalf) {
  Bytes frame = LldpFrame().Mandatory().bytes();
  frame.push_back(0x0A);
  Neighbor r{};
  EXPECT_EQ(Parse(frame, r), kParseStored);
  EXPECT_EQ(r.ttl, 120u);
}

TEST_F(LldpParserTest, TtlTlvPastEnd) {
  Bytes frame = LldpFrame().Chassis(7, "chassis-1").PortId(5, "ge-0/0/1").bytes();
  frame.insert(frame.end(), {0x06, 0x02, 0x00});  // TTL with one of its two bytes
  Neighbor r{};
  EXPECT_EQ(Parse(frame, r), kParseRemove);
  EXPECT_EQ(r.chassisId.length, 0u);
}

TEST_F(LldpParserTest, ManagementAddressTlvShorterThanTwelve) {
  Neighbor r{};
  ASSERT_EQ(Parse(LldpFrame().Mandatory().Tlv(8, Bytes{5, 1, 10, 77, 0, 1}).End().bytes(), r),
            kParseStored);
  EXPECT_EQ(r.manAddrCount, 0u);
}

TEST_F(LldpParserTest, OrganizationalTlvShorterThanItsHeader) {
  Neighbor r{};
  ASSERT_EQ(Parse(LldpFrame().Mandatory().Tlv(127, Bytes{0x00, 0x80, 0xC2}).Tlv(5, "after").End().bytes(), r),
            kParseStored);
  EXPECT_EQ(FieldText(r.systemName), "after");
  EXPECT_EQ(r.portVlanId, 0u);
}

TEST_F(LldpParserTest, TlvsAfterTheEndAreNotRead) {
  Bytes frame = LldpFrame().Mandatory().End().Tlv(5, "ghost").Ttl(0).bytes();
  Neighbor r{};
  EXPECT_EQ(Parse(frame, r), kParseStored);
  EXPECT_EQ(FieldText(r.systemName), "");
  EXPECT_EQ(r.ttl, 120u);
}

TEST_F(LldpParserTest, TextWithEmbeddedNulIsKeptToTheNul) {
  Neighbor r{};
  ASSERT_EQ(Parse(LldpFrame().Mandatory().Tlv(5, Bytes{'a', 0, 'b'}).End().bytes(), r),
            kParseStored);
  EXPECT_EQ(FieldText(r.systemName), "a");
}

}  // namespace
}  // namespace torvane
