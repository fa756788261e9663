// Wire constants and small rules of LLDP and CDP: the one place that the frame
// builders, the parsers, frame dispatch and the worker's port setup take them from.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace torvane {

constexpr std::array<uint8_t, 6> kBroadcastMac = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
constexpr size_t kEthernetHeaderSize = 14;
constexpr size_t kEtherTypeOffset = 12;
// The most a capture holds of one frame.
constexpr size_t kMaxCapturedFrame = 1514;

// ---- LLDP ----------------------------------------------------------------

constexpr std::array<uint8_t, 6> kLldpNearestBridge = {0x01, 0x80, 0xC2, 0x00, 0x00, 0x0E};
constexpr uint16_t kEtherTypeLldp = 0x88CC;
// Ethernet header, the three mandatory TLVs at their shortest and End.
constexpr size_t kLldpMinFrame = 30;

enum LldpTlvType : uint8_t {
  kLldpEnd = 0,
  kLldpChassisId = 1,
  kLldpPortId = 2,
  kLldpTimeToLive = 3,
  kLldpPortDescription = 4,
  kLldpSystemName = 5,
  kLldpSystemDescription = 6,
  kLldpSystemCapabilities = 7,
  kLldpManagementAddress = 8,
  kLldpOrganizational = 127,
};

constexpr uint8_t kChassisSubtypeMac = 4;
constexpr uint8_t kChassisSubtypeNetworkAddress = 5;
constexpr uint8_t kChassisSubtypeLocal = 7;
constexpr uint8_t kPortSubtypeMac = 3;
constexpr uint8_t kPortSubtypeInterfaceName = 5;

// Management Address TLV: address subtypes and the interface numbering.
constexpr uint8_t kManAddrIpv4 = 1;
constexpr uint8_t kManAddrIeee802 = 6;
constexpr uint8_t kManAddrIfIndex = 2;
// Address string length (subtype + 4 octets) and whole value of an IPv4 one.
constexpr uint8_t kManAddrIpv4StringLength = 5;
constexpr size_t kManAddrIpv4ValueLength = 12;

constexpr std::array<uint8_t, 3> kOuiIeee8021 = {0x00, 0x80, 0xC2};
constexpr std::array<uint8_t, 3> kOuiIeee8023 = {0x00, 0x12, 0x0F};
constexpr std::array<uint8_t, 3> kOuiTiaMed = {0x00, 0x12, 0xBB};

constexpr uint8_t kIeee8021PortVlanId = 1;
constexpr uint8_t kIeee8023MacPhy = 1;
constexpr uint8_t kIeee8023MaxFrameSize = 4;
constexpr uint8_t kMedCapabilities = 1;
constexpr uint8_t kMedNetworkPolicy = 2;
constexpr uint8_t kMedExtendedPower = 4;

// LLDP-MED capability bits.
constexpr uint16_t kMedCapLldpMed = 0x0001;
constexpr uint16_t kMedCapNetworkPolicy = 0x0002;
constexpr uint16_t kMedCapPowerSource = 0x0008;
constexpr uint16_t kMedCapPoweredDevice = 0x0010;

// A network policy setting that holds this value is not set (and ends the list).
constexpr uint32_t kMedPolicyUnset = 0x8000;

// Time to live that an LLDP frame announces: the product saturates rather than
// wraps, since a wrapped value makes peers drop us between our own frames (or
// delete us at once when it wraps to 0).
constexpr uint16_t LldpTimeToLive(uint32_t txInterval, uint32_t txHoldMultiplier) {
  uint64_t ttl = uint64_t{txInterval} * txHoldMultiplier;
  return static_cast<uint16_t>(ttl > 0xFFFF ? 0xFFFF : ttl);
}

// Operational MAU types of the speeds above 1 Gbit/s (units of 100 bit/s), all
// full duplex only: the twisted-pair type where the speed has one (2.5GBASE-T,
// 5GBASE-T, 10GBASE-T, 25GBASE-T, 40GBASE-T), else the speed's generic R type.
struct FastMauType {
  uint32_t linkSpeed;
  uint16_t mauType;
};
constexpr FastMauType kFastMauTypes[] = {
    {4000000000u, 135},  // 400GBASE-R
    {2000000000u, 127},  // 200GBASE-R
    {1000000000u, 101},  // 100GBASE-R
    {500000000u, 116},   // 50GBASE-R
    {400000000u, 97},    // 40GBASE-T
    {250000000u, 94},    // 25GBASE-T
    {100000000u, 54},    // 10GBASE-T
    {50000000u, 104},    // 5GBASE-T
    {25000000u, 103},    // 2.5GBASE-T
};

// Operational MAU type from the link speed (units of 100 bit/s) and duplex
// (0 unknown, 1 half, 2 full). Above 1 Gbit/s the fastest type of the table
// above that the link reaches. Up to it the speed picks the half-duplex type of
// 10BASE-T (10), 100BASE-TX (15) or 1000BASE-T (29); the full-duplex type is the
// next number. Only a reported half duplex, while the Duplex setting lets us tell
// it, keeps the half-duplex type. Unknown speed gives 0 + 1.
constexpr uint16_t LldpMauType(uint32_t linkSpeed, uint32_t portDuplex, uint32_t duplexSetting) {
  for (const FastMauType& fast : kFastMauTypes)
    if (linkSpeed >= fast.linkSpeed) return fast.mauType;
  uint16_t mau = linkSpeed >= 10000000 ? 29 : linkSpeed >= 1000000 ? 15 : linkSpeed >= 100000 ? 10 : 0;
  if (!(duplexSetting != 0 && portDuplex == 1)) ++mau;
  return mau;
}

// ---- CDP -----------------------------------------------------------------

constexpr std::array<uint8_t, 6> kCdpMulticast = {0x01, 0x00, 0x0C, 0xCC, 0xCC, 0xCC};
// LLC (DSAP, SSAP, control), SNAP OUI, SNAP protocol identifier.
constexpr std::array<uint8_t, 8> kCdpLlcSnap = {0xAA, 0xAA, 0x03, 0x00, 0x00, 0x0C, 0x20, 0x00};
// The start of any LLC/SNAP header (DSAP, SSAP, control, first OUI octet).
constexpr std::array<uint8_t, 4> kSnapStart = {0xAA, 0xAA, 0x03, 0x00};
constexpr size_t kLlcSnapOffset = 14;
constexpr uint8_t kCdpVersion = 2;
// Offsets inside the frame.
constexpr size_t kCdpLengthOffset = 12;
constexpr size_t kCdpPduOffset = 22;       // version octet: the checksum covers from here
constexpr size_t kCdpTtlOffset = 23;
constexpr size_t kCdpChecksumOffset = 24;
constexpr size_t kCdpHeaderSize = 26;      // first TLV
// An IEEE 802.3 length field above 1500 would read as an EtherType.
constexpr size_t kIeee8023MaxPayload = 1500;

enum CdpTlvType : uint16_t {
  kCdpDeviceId = 1,
  kCdpAddresses = 2,
  kCdpPortId = 3,
  kCdpCapabilities = 4,
  kCdpVersionText = 5,
  kCdpPlatform = 6,
  kCdpNativeVlan = 10,
  kCdpDuplex = 11,
};

// One address entry: NLPID protocol type 1, protocol length 1, protocol 0xCC (IP),
// address length 4 (two octets), the address.
constexpr uint8_t kCdpProtocolTypeNlpid = 1;
constexpr uint8_t kCdpProtocolIp = 0xCC;
constexpr size_t kCdpAddressEntrySize = 9;

// Hold time that a CDP frame announces (one octet, saturating).
constexpr uint8_t CdpHoldTime(uint32_t txInterval, uint32_t txHoldMultiplier) {
  uint64_t ttl = uint64_t{txInterval} * txHoldMultiplier;
  return static_cast<uint8_t>(ttl > 0xFF ? 0xFF : ttl);
}

// CDP capability bits from the LLDP enabled-capability bits: station only -> host,
// router -> router, bridge -> switch, repeater -> repeater; other bits have no
// CDP counterpart.
constexpr uint32_t CdpCapabilitiesFromLldp(uint32_t lldpCapabilities) {
  uint32_t cdp = 0;
  if (lldpCapabilities & 0x80) cdp |= 0x10;
  if (lldpCapabilities & 0x10) cdp |= 0x01;
  if (lldpCapabilities & 0x04) cdp |= 0x08;
  if (lldpCapabilities & 0x02) cdp |= 0x40;
  return cdp;
}

// The group addresses every port listens to: the LLDP nearest-bridge address
// and the CDP multicast address, as one multicast list.
constexpr std::array<uint8_t, 12> kPortMulticastList = [] {
  std::array<uint8_t, 12> list{};
  for (size_t i = 0; i < 6; ++i) {
    list[i] = kLldpNearestBridge[i];
    list[6 + i] = kCdpMulticast[i];
  }
  return list;
}();

}  // namespace torvane
