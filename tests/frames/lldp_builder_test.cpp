#include "agent/frames/lldp_builder.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "agent/frames/wire_format.h"
#include "tests/support/frames/port_fixture.h"
#include "tests/support/frames/settings_fixture.h"

namespace torvane {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kNow = 1700000000;

class LldpBuilderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings = DefaultSettingsForTest();
    // Derived fields pinned here, so that the frames below do not depend on how
    // the settings fixture fills them.
    settings.chassisIdSubtype = 7;
    settings.chassisId.length = 8;
    std::memcpy(settings.chassisId.bytes, "Wq3Kvxqz", 8);
    std::memset(settings.systemName, 0, sizeof settings.systemName);
    std::memcpy(settings.systemName, "host1", 5);
    std::memset(settings.systemDescription, 0, sizeof settings.systemDescription);
    std::memcpy(settings.systemDescription, "x86_64 - Linux 6.1", 18);
  }

  Bytes Build(int mode = 1, size_t size = kFrameBufferSize, uint32_t now = kNow) {
    Bytes frame(size);
    size_t n =
        BuildLldpFrame(port, settings, addresses, mode, frame.data(), frame.size(), now, &notes);
    frame.resize(n);
    return frame;
  }

  // A port with the optional basic TLVs and the frame size off, so that the
  // frames of the variant tests stay short.
  void Lean() {
    port.tlvsTxEnable = 0;
    port.maxFrameSize = 0;
  }

  AgentSettings settings;
  PortFacts port = GigabitPortFacts();
  AddressTable addresses;
  LldpBuildNotes notes;  // of the last Build()
};

// Offset of the first TLV of the given type (and, for type 127, OUI and
// subtype), or -1. Walks the TLVs from offset 14.
long FindTlv(const Bytes& f, uint8_t type, const std::array<uint8_t, 3>* oui = nullptr,
             uint8_t subtype = 0) {
  size_t at = kEthernetHeaderSize;
  while (at + 2 <= f.size()) {
    uint8_t t = f[at] >> 1;
    size_t len = ((f[at] & 1u) << 8) | f[at + 1];
    if (t == type && (oui == nullptr || (len >= 4 && std::memcmp(&f[at + 2], oui->data(), 3) == 0 &&
                                         f[at + 5] == subtype)))
      return static_cast<long>(at);
    if (t == kLldpEnd) break;
    at += 2 + len;
  }
  return -1;
}

// The TLV types in frame order (type 127 as 127).
std::vector<uint8_t> TlvTypes(const Bytes& f) {
  std::vector<uint8_t> types;
  size_t at = kEthernetHeaderSize;
  while (at + 2 <= f.size()) {
    uint8_t t = f[at] >> 1;
    size_t len = ((f[at] & 1u) << 8) | f[at + 1];
    types.push_back(t);
    at += 2 + len;
    if (t == kLldpEnd) break;
  }
  if (at != f.size()) types.push_back(0xFF);  // the TLVs do not end where the frame does
  return types;
}

TEST_F(LldpBuilderTest, DefaultFrameForConnectedGigabitPort) {
  AddAddress(addresses, 3, MakeIpv4(192, 168, 1, 9));            // another interface
  AddAddress(addresses, 2, MakeIpv4(10, 0, 0, 9), 0);            // not advertised
  AddAddress(addresses, 2, MakeIpv4(10, 0, 0, 5));
  const Bytes expected = {
      0x01, 0x80, 0xC2, 0x00, 0x00, 0x0E,              // to the nearest-bridge group
      0x00, 0x11, 0x22, 0x33, 0x44, 0x55,              // from the port's MAC
      0x88, 0xCC,                                      // LLDP
      0x02, 0x09, 0x07, 'W', 'q', '3', 'K', 'v', 'x', 'q', 'z',  // chassis ID, locally assigned
      0x04, 0x07, 0x03, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55,      // port ID, MAC
      0x06, 0x02, 0x00, 0x78,                                    // TTL 120
      0x08, 0x0E, 'I', 'n', 't', 'e', 'l', ' ', 'P', 'R', 'O', '/', '1', '0', '0', '0',  // port descr
      0x0A, 0x05, 'h', 'o', 's', 't', '1',                       // system name
      0x0C, 0x12, 'x', '8', '6', '_', '6', '4', ' ', '-', ' ', 'L', 'i', 'n', 'u', 'x', ' ', '6',
      '.', '1',                                                  // system description
      0x0E, 0x04, 0x00, 0x80, 0x00, 0x80,                       // caps: station only / station only
      0x10, 0x0C, 0x05, 0x01, 0x0A, 0x00, 0x00, 0x05,            // mgmt address 10.0.0.5,
      0x02, 0x00, 0x00, 0x00, 0x02, 0x00,                        //   ifIndex 2, no OID
      0xFE, 0x09, 0x00, 0x12, 0x0F, 0x01, 0x03, 0x80, 0x00, 0x00, 0x1E,  // MAC/PHY: autoneg on, MAU 30
      0xFE, 0x06, 0x00, 0x12, 0x0F, 0x04, 0x05, 0xEE,            // max frame size 1518
      0x00, 0x00,                                                // end
  };
  EXPECT_EQ(Build(), expected);
  EXPECT_EQ(notes.mauType, 30);
}

TEST_F(LldpBuilderTest, PortIdByConnectionNameAndMacManagementAddressWithoutIfIndex) {
  Lean();
  settings.txPIDname = 1;
  port.ifIndex = 0;
  const Bytes expected = {
      0x01, 0x80, 0xC2, 0x00, 0x00, 0x0E, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x88, 0xCC,
      0x02, 0x09, 0x07, 'W', 'q', '3', 'K', 'v', 'x', 'q', 'z',  // chassis ID
      0x04, 0x05, 0x05, 'e', 't', 'h', '0',                      // port ID, interface name "eth0"
      0x06, 0x02, 0x00, 0x78,                                    // TTL 120
      0x10, 0x0E, 0x07, 0x06, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55,  // mgmt address: IEEE 802 MAC,
      0x02, 0x00, 0x00, 0x00, 0x00, 0x00,                          //   ifIndex 0, no OID
      0xFE, 0x09, 0x00, 0x12, 0x0F, 0x01, 0x03, 0x80, 0x00, 0x00, 0x1E,  // MAC/PHY
      0x00, 0x00,
  };
  EXPECT_EQ(Build(), expected);
}

TEST_F(LldpBuilderTest, PortIdFallsBackToMacWhenConnectionNameIsEmpty) {
  settings.txPIDname = 1;
  port.connectionName = "";
  Bytes f = Build();
  const Bytes portId = {0x04, 0x07, 0x03, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
  ASSERT_GE(f.size(), 34u);
  EXPECT_EQ(Bytes(f.begin() + 25, f.begin() + 34), portId);
}

TEST_F(LldpBuilderTest, PortDescriptionIsConnectionNameWithTxPname) {
  settings.txPname = 1;
  Bytes f = Build();
  long at = FindTlv(f, kLldpPortDescription);
  ASSERT_GE(at, 0);
  EXPECT_EQ(Bytes(f.begin() + at, f.begin() + at + 6), (Bytes{0x08, 0x04, 'e', 't', 'h', '0'}));
}

TEST_F(LldpBuilderTest, WirelessPortHasNoMacPhyTlv) {
  Lean();
  port.ifType = 71;
  AddAddress(addresses, 2, MakeIpv4(10, 0, 0, 5));
  const Bytes expected = {
      0x01, 0x80, 0xC2, 0x00, 0x00, 0x0E, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x88, 0xCC,
      0x02, 0x09, 0x07, 'W', 'q', '3', 'K', 'v', 'x', 'q', 'z',
      0x04, 0x07, 0x03, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55,
      0x06, 0x02, 0x00, 0x78,
      0x10, 0x0C, 0x05, 0x01, 0x0A, 0x00, 0x00, 0x05, 0x02, 0x00, 0x00, 0x00, 0x02, 0x00,
      0x00, 0x00,  // no MAC/PHY TLV before the end
  };
  EXPECT_EQ(Build(), expected);
  EXPECT_FALSE(notes.mauTypeSet) << "no MAU type is advertised, so none is recorded";

  // The setting names the excluded type: with it at 6, an Ethernet port loses the TLV
  // and the wireless one carries it.
  settings.ieee80211 = 6;
  EXPECT_GE(FindTlv(Build(), kLldpOrganizational, &kOuiIeee8023, kIeee8023MacPhy), 0);
}

TEST_F(LldpBuilderTest, TimeToLiveSaturatesInsteadOfWrapping) {
  struct Case {
    uint32_t interval, hold;
    uint8_t hi, lo;
  } cases[] = {
      {30, 4, 0x00, 0x78},          // 120
      {40000, 4, 0xFF, 0xFF},       // 160000 would wrap to 28928
      {16384, 4, 0xFF, 0xFF},       // 65536 would wrap to 0 and delete us at the peer
      {0x80000000u, 2, 0xFF, 0xFF}, // 2^32 would wrap to 0 even in 32 bits
      {65535, 1, 0xFF, 0xFF},
  };
  for (const Case& c : cases) {
    settings.txInterval = c.interval;
    settings.txHoldMultiplier = c.hold;
    Bytes f = Build();
    ASSERT_GE(f.size(), 38u);
    EXPECT_EQ(Bytes(f.begin() + 34, f.begin() + 38), (Bytes{0x06, 0x02, c.hi, c.lo}))
        << c.interval << " x " << c.hold;
  }
}

TEST_F(LldpBuilderTest, MauTypeFollowsSpeedAndReportedDuplex) {
  struct Case {
    uint32_t speed, duplex, duplexSetting;
    uint16_t mau;
  } cases[] = {
      {100000000, 2, 1, 54},  // 10GBASE-T (a veth reports 10 Gbit/s)
      {100000000, 1, 1, 54},  // no half-duplex type above 1 Gbit/s
      {25000000, 2, 1, 103},  // 2.5GBASE-T
      {50000000, 2, 1, 104},  // 5GBASE-T
      {250000000, 2, 1, 94},  // 25GBASE-T
      {400000000, 2, 1, 97},  // 40GBASE-T
      {1000000000, 2, 1, 101},   // 100GBASE-R: no twisted-pair type
      {4294967295u, 2, 1, 135},  // 400GBASE-R
      {200000000, 2, 1, 54},  // 20 Gbit/s (two bonded links): the fastest type it reaches
      {24999999, 2, 1, 30},   // just below 2.5 Gbit/s: 1000BASE-T full duplex
      {10000000, 2, 1, 30},   // 1000BASE-T full duplex
      {10000000, 0, 1, 30},   // unknown duplex counts as full
      {10000000, 1, 1, 29},   // reported half duplex
      {10000000, 1, 0, 30},   // half duplex not advertised with Duplex 0
      {9999999, 2, 1, 16},    // just below 1 Gbit/s: 100BASE-TX full duplex
      {1000000, 1, 1, 15},    // 100BASE-TX half duplex
      {100000, 2, 1, 11},     // 10BASE-T full duplex
      {99999, 2, 1, 1},
      {0, 0, 1, 1},           // unknown speed
  };
  for (const Case& c : cases) {
    port.linkSpeed = c.speed;
    port.duplex = c.duplex;
    settings.Duplex = c.duplexSetting;
    Bytes f = Build();
    long at = FindTlv(f, kLldpOrganizational, &kOuiIeee8023, kIeee8023MacPhy);
    ASSERT_GE(at, 0);
    EXPECT_EQ((f[at + 9] << 8) | f[at + 10], c.mau) << c.speed << " " << c.duplex;
    EXPECT_EQ(notes.mauType, c.mau);
  }
  port.autoNeg = 0;
  Bytes f = Build();
  long at = FindTlv(f, kLldpOrganizational, &kOuiIeee8023, kIeee8023MacPhy);
  ASSERT_GE(at, 0);
  EXPECT_EQ(f[at + 6], 0) << "auto-negotiation neither supported nor enabled";
}

TEST_F(LldpBuilderTest, VlanAndMaximumFrameSize) {
  port.vlanId = 10;
  port.maxFrameSize = 65549;  // MTU 65535 + 14 on a veth
  Bytes f = Build();
  long vlan = FindTlv(f, kLldpOrganizational, &kOuiIeee8021, kIeee8021PortVlanId);
  ASSERT_GE(vlan, 0);
  EXPECT_EQ(Bytes(f.begin() + vlan, f.begin() + vlan + 8),
            (Bytes{0xFE, 0x06, 0x00, 0x80, 0xC2, 0x01, 0x00, 0x0A}));
  long mfs = FindTlv(f, kLldpOrganizational, &kOuiIeee8023, kIeee8023MaxFrameSize);
  ASSERT_GE(mfs, 0);
  EXPECT_EQ(Bytes(f.begin() + mfs, f.begin() + mfs + 8),
            (Bytes{0xFE, 0x06, 0x00, 0x12, 0x0F, 0x04, 0xFF, 0xFF}))
      << "the size saturates rather than wrapping to 13";
  EXPECT_LT(vlan, mfs);
}

TEST_F(LldpBuilderTest, MedClass3WithOnePolicy) {
  Lean();
  port.ifIndex = 5;  // no address entry: no management address TLV
  port.medActive = 1;
  settings.MedDevType = 3;
  // Voice, tagged, VLAN 100, priority 5, DSCP 46: policy octets 01 40 C9 6E,
  // held as a little-endian number.
  settings.MedPolicy[0] = 0x6EC94001;
  settings.MedPolicy[1] = 0x8000;
  settings.MedPolicy[2] = 0x6EC94002;  // after the first unset one: not sent
  const Bytes expected = {
      0x01, 0x80, 0xC2, 0x00, 0x00, 0x0E, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x88, 0xCC,
      0x02, 0x09, 0x07, 'W', 'q', '3', 'K', 'v', 'x', 'q', 'z',
      0x04, 0x07, 0x03, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55,
      0x06, 0x02, 0x00, 0x78,
      0xFE, 0x09, 0x00, 0x12, 0x0F, 0x01, 0x03, 0x80, 0x00, 0x00, 0x1E,  // MAC/PHY
      0xFE, 0x07, 0x00, 0x12, 0xBB, 0x01, 0x00, 0x03, 0x03,  // MED caps: LLDP-MED + policy, class 3
      0xFE, 0x08, 0x00, 0x12, 0xBB, 0x02, 0x01, 0x40, 0xC9, 0x6E,  // policy: voice, T, VLAN 100, 5, 46
      0x00, 0x00,
  };
  EXPECT_EQ(Build(), expected);
}

TEST_F(LldpBuilderTest, MedPowerTlvAndCapabilityBits) {
  Lean();
  port.medActive = 1;
  settings.MedDevType = 1;
  settings.MedPowerValue = 0x0032;  // 5.0 W
  struct Case {
    uint8_t state;
    uint8_t capsLo;
  } cases[] = {
      {0x13, 0x0B},  // power type 00 (source equipment): + 0x0008
      {0x53, 0x13},  // power type 01 (powered device): + 0x0010
      {0x93, 0x03},  // types 10 and 11 add no capability bit
      {0xD3, 0x03},
  };
  for (const Case& c : cases) {
    settings.MedPowerState = c.state;
    Bytes f = Build();
    long caps = FindTlv(f, kLldpOrganizational, &kOuiTiaMed, kMedCapabilities);
    ASSERT_GE(caps, 0);
    EXPECT_EQ(Bytes(f.begin() + caps + 6, f.begin() + caps + 9), (Bytes{0x00, c.capsLo, 0x01}));
    long power = FindTlv(f, kLldpOrganizational, &kOuiTiaMed, kMedExtendedPower);
    ASSERT_GE(power, 0);
    EXPECT_EQ(Bytes(f.begin() + power, f.begin() + power + 9),
              (Bytes{0xFE, 0x07, 0x00, 0x12, 0xBB, 0x04, c.state, 0x00, 0x32}));
  }
  settings.MedPowerState = 0;
  EXPECT_LT(FindTlv(Build(), kLldpOrganizational, &kOuiTiaMed, kMedExtendedPower), 0);
}

TEST_F(LldpBuilderTest, MedNetworkDeviceOnlyWhileAnEndpointWasHeardWithinOneTtl) {
  Lean();
  port.medActive = 1;
  settings.MedDevType = 4;
  settings.MedPolicy[0] = 0x6EC94001;  // network devices send no policies

  port.medEndpointSeen = 0;
  EXPECT_LT(FindTlv(Build(), kLldpOrganizational, &kOuiTiaMed, kMedCapabilities), 0);

  port.medEndpointSeen = kNow - 120;  // exactly one TTL ago: still heard
  Bytes f = Build();
  long caps = FindTlv(f, kLldpOrganizational, &kOuiTiaMed, kMedCapabilities);
  ASSERT_GE(caps, 0);
  EXPECT_EQ(Bytes(f.begin() + caps, f.begin() + caps + 9),
            (Bytes{0xFE, 0x07, 0x00, 0x12, 0xBB, 0x01, 0x00, 0x01, 0x04}));
  EXPECT_LT(FindTlv(f, kLldpOrganizational, &kOuiTiaMed, kMedNetworkPolicy), 0);
  EXPECT_EQ(f.size(), static_cast<size_t>(caps) + 9 + 2) << "MED capabilities is the last TLV";
  EXPECT_FALSE(notes.medEndpointExpired);

  port.medEndpointSeen = kNow - 121;  // gone
  EXPECT_LT(FindTlv(Build(), kLldpOrganizational, &kOuiTiaMed, kMedCapabilities), 0);
  EXPECT_TRUE(notes.medEndpointExpired) << "the caller clears an expired endpoint time";

  // The expiry uses the saturated TTL: with 40000 x 4 an endpoint heard 60000 s
  // ago is still within 65535 s.
  settings.txInterval = 40000;
  port.medEndpointSeen = kNow - 60000;
  EXPECT_GE(FindTlv(Build(), kLldpOrganizational, &kOuiTiaMed, kMedCapabilities), 0);
  EXPECT_FALSE(notes.medEndpointExpired);
}

TEST_F(LldpBuilderTest, MedOnlyOnTransmitAndReceivePortsWithMedActive) {
  port.medActive = 1;
  settings.MedDevType = 3;
  port.adminStatus = 1;  // transmit only
  EXPECT_LT(FindTlv(Build(), kLldpOrganizational, &kOuiTiaMed, kMedCapabilities), 0);
  port.adminStatus = 3;
  port.medActive = 0;
  EXPECT_LT(FindTlv(Build(), kLldpOrganizational, &kOuiTiaMed, kMedCapabilities), 0);
  port.medActive = 1;
  EXPECT_GE(FindTlv(Build(), kLldpOrganizational, &kOuiTiaMed, kMedCapabilities), 0);
  settings.MedDevType = 5;  // not a device type
  EXPECT_LT(FindTlv(Build(), kLldpOrganizational, &kOuiTiaMed, kMedCapabilities), 0);
}

TEST_F(LldpBuilderTest, ShutdownFrameCarriesOnlyIdsAndTtlZero) {
  settings.chassisIdSubtype = 4;
  settings.chassisId.length = 6;
  const uint8_t chassisMac[6] = {0x00, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE};
  std::memcpy(settings.chassisId.bytes, chassisMac, 6);
  // Whatever else is set stays out of the shutdown frame.
  port.vlanId = 10;
  port.medActive = 1;
  settings.MedDevType = 3;
  AddAddress(addresses, 2, MakeIpv4(10, 0, 0, 5));
  const Bytes expected = {
      0x01, 0x80, 0xC2, 0x00, 0x00, 0x0E, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x88, 0xCC,
      0x02, 0x07, 0x04, 0x00, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE,  // chassis ID, MAC
      0x04, 0x07, 0x03, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55,  // port ID, MAC
      0x06, 0x02, 0x00, 0x00,                                // TTL 0
      0x00, 0x00,
  };
  Bytes f = Build(0);
  EXPECT_EQ(f.size(), 38u);
  EXPECT_EQ(f, expected);
}

TEST_F(LldpBuilderTest, EmptyChassisIdFallsBackToPortMac) {
  settings.chassisIdSubtype = 7;
  settings.chassisId.length = 0;
  Bytes f = Build();
  const Bytes chassis = {0x02, 0x07, 0x04, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
  ASSERT_GE(f.size(), 23u);
  EXPECT_EQ(Bytes(f.begin() + 14, f.begin() + 23), chassis);
  Bytes s = Build(0);
  ASSERT_GE(s.size(), 23u);
  EXPECT_EQ(Bytes(s.begin() + 14, s.begin() + 23), chassis);
}

TEST_F(LldpBuilderTest, ChassisIdLengthIsBoundedByItsField) {
  // A settings block written over the pipe may carry any length octet.
  settings.chassisId.length = 0xFF;
  std::memset(settings.chassisId.bytes, 'x', sizeof settings.chassisId.bytes);
  Bytes f = Build();
  ASSERT_GE(f.size(), 90u);
  EXPECT_EQ(f[14], 0x02);
  EXPECT_EQ(f[15], 68) << "subtype + 67 bytes";
  EXPECT_EQ(f[16 + 68], 0x04) << "the port ID follows right after";
}

// 128 addresses on one interface would need 128 x 14 bytes: the addresses that do
// not fit are left out, every other TLV stays, and the frame still ends with End.
TEST_F(LldpBuilderTest, ManyAddressesStayWithinTheBufferAndKeepEveryOtherTlv) {
  port.vlanId = 10;
  port.medActive = 1;
  settings.MedDevType = 3;
  for (auto& policy : settings.MedPolicy) policy = 0x6EC94001;
  settings.MedPowerState = 0x53;
  settings.MedPowerValue = 50;

  Bytes without = Build();  // no addresses yet
  for (int i = 0; i < 128; ++i) AddAddress(addresses, 2, MakeIpv4(10, 1, 0, static_cast<uint8_t>(i)));
  std::vector<uint8_t> canary(64, 0xA5);
  Bytes buffer(kFrameBufferSize + canary.size());
  std::memcpy(buffer.data() + kFrameBufferSize, canary.data(), canary.size());
  size_t n = BuildLldpFrame(port, settings, addresses, 1, buffer.data(), kFrameBufferSize, kNow);
  EXPECT_EQ(Bytes(buffer.begin() + kFrameBufferSize, buffer.end()), canary);
  ASSERT_LE(n, kFrameBufferSize);
  Bytes f(buffer.begin(), buffer.begin() + n);

  const size_t fitting = (kFrameBufferSize - without.size()) / 14;
  ASSERT_LT(fitting, 128u);
  ASSERT_EQ(n, without.size() + fitting * 14);
  EXPECT_EQ(f[n - 2], 0x00);
  EXPECT_EQ(f[n - 1], 0x00);

  std::vector<uint8_t> types = TlvTypes(f);
  std::vector<uint8_t> expectedTypes = {1, 2, 3, 4, 5, 6, 7};
  expectedTypes.insert(expectedTypes.end(), fitting, 8);
  // VLAN, MAC/PHY, frame size, MED caps, 8 policies, power
  expectedTypes.insert(expectedTypes.end(), 4 + 8 + 1, 127);
  expectedTypes.push_back(0);
  EXPECT_EQ(types, expectedTypes);

  // The addresses kept are the first ones, in table order.
  long first = FindTlv(f, kLldpManagementAddress);
  ASSERT_GE(first, 0);
  for (size_t i = 0; i < fitting; ++i) {
    EXPECT_EQ(f[first + 14 * i + 7], static_cast<uint8_t>(i)) << i;
  }
}

TEST_F(LldpBuilderTest, SmallBuffersNeverOverflow) {
  for (int i = 0; i < 10; ++i) AddAddress(addresses, 2, MakeIpv4(10, 1, 0, static_cast<uint8_t>(i)));
  port.medActive = 1;
  settings.MedDevType = 3;
  settings.MedPolicy[0] = 0x6EC94001;
  const size_t mandatory = 14 + 11 + 9 + 4 + 2;  // header, IDs, TTL, End
  for (size_t size = 0; size <= 400; ++size) {
    Bytes buffer(size + 16, 0xA5);
    size_t n = BuildLldpFrame(port, settings, addresses, 1, buffer.data(), size, kNow);
    for (size_t i = size; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], 0xA5) << "size " << size;
    if (size < mandatory) {
      EXPECT_EQ(n, 0u) << "size " << size;
      continue;
    }
    ASSERT_GE(n, mandatory);
    ASSERT_LE(n, size);
    Bytes f(buffer.begin(), buffer.begin() + n);
    std::vector<uint8_t> types = TlvTypes(f);
    ASSERT_FALSE(types.empty());
    EXPECT_EQ(types.back(), 0) << "size " << size;
    EXPECT_EQ(types[0], 1);
    EXPECT_EQ(types[1], 2);
    EXPECT_EQ(types[2], 3);
  }
  EXPECT_EQ(BuildLldpFrame(port, settings, addresses, 1, nullptr, 1500, kNow), 0u);
}

}  // namespace
}  // namespace torvane
