#include "agent/frames/lldp_builder.h"

#include <algorithm>
#include <string_view>

#include "agent/frames/wire_format.h"
#include "common/bytes.h"
#include "common/text.h"

namespace torvane {
namespace {

constexpr size_t kEndTlvSize = 2;

// What the frame keeps when it would outgrow the buffer:
//   1. the Ethernet header, Chassis ID, Port ID, Time To Live and the End TLV
//      always (a buffer too small for them gives no frame at all: length 0);
//   2. then, in frame order, Port Description, System Name, System Description
//      and System Capabilities;
//   3. then the IEEE 802.1, IEEE 802.3 and LLDP-MED TLVs;
//   4. last, the Management Address TLVs, in address-table order, as many as
//      still fit.
// Every TLV is written whole or left out. Only the management addresses are
// unbounded (one TLV per address of the interface): everything else together
// stays well below 1500 bytes, so in the 1500-byte buffer of the port cycle the
// only thing ever left out is the tail of a long address list. The addresses sit
// before the extension TLVs on the wire, so the extension TLVs are built aside
// first and the addresses get the room they leave.
constexpr size_t kMaxTailSize = (2 + 6)             // Port VLAN ID
                                + (2 + 9)           // MAC/PHY configuration/status
                                + (2 + 6)           // maximum frame size
                                + (2 + 7)           // LLDP-MED capabilities
                                + 8 * (2 + 8)       // network policies
                                + (2 + 7);          // extended power via MDI
static_assert(kMaxTailSize == 125);

constexpr size_t kMacManagementAddressLength = 14;

// Type in the upper 7 bits, length in the lower 9.
void TlvHeader(ByteWriter& w, uint8_t type, size_t length) {
  w.u8(static_cast<uint8_t>((type << 1) | ((length >> 8) & 1)));
  w.u8(static_cast<uint8_t>(length));
}

void OrgTlvHeader(ByteWriter& w, const std::array<uint8_t, 3>& oui, uint8_t subtype,
                  size_t contentLength) {
  TlvHeader(w, kLldpOrganizational, 4 + contentLength);
  w.bytes(oui.data(), oui.size());
  w.u8(subtype);
}

// Room for a TLV with a value of `length` octets, with `keep` octets kept free
// behind it.
bool Fits(const ByteWriter& w, size_t length, size_t keep) { return w.room() >= 2 + length + keep; }

void TextTlv(ByteWriter& w, uint8_t type, std::string_view text) {
  if (!Fits(w, text.size(), kEndTlvSize)) return;
  TlvHeader(w, type, text.size());
  w.bytes(text.data(), text.size());
}

// The IEEE 802.1, IEEE 802.3 and LLDP-MED TLVs, into `t`.
void BuildTail(ByteWriter& t, const PortFacts& port, const AgentSettings& settings, uint16_t ttl,
               uint32_t now, LldpBuildNotes& notes) {
  uint32_t vlanId = port.vlanId;
  if (vlanId != 0 && Fits(t, 6, 0)) {
    OrgTlvHeader(t, kOuiIeee8021, kIeee8021PortVlanId, 2);
    t.u16be(static_cast<uint16_t>(vlanId));
  }

  if (port.ifType != settings.ieee80211) {
    uint16_t mau = LldpMauType(port.linkSpeed, port.duplex, settings.Duplex);
    notes.mauTypeSet = true;
    notes.mauType = mau;
    if (Fits(t, 9, 0)) {
      OrgTlvHeader(t, kOuiIeee8023, kIeee8023MacPhy, 5);
      t.u8(port.autoNeg != 0 ? 3 : 0);  // supported and enabled
      t.u16be(0x8000);                  // PMD advertised capability: other or unknown
      t.u16be(mau);
    }
  }

  uint32_t maxFrameSize = port.maxFrameSize;
  if (maxFrameSize != 0 && Fits(t, 6, 0)) {
    OrgTlvHeader(t, kOuiIeee8023, kIeee8023MaxFrameSize, 2);
    t.u16be(static_cast<uint16_t>(std::min<uint32_t>(maxFrameSize, 0xFFFF)));
  }

  const uint8_t devType = settings.MedDevType;
  if (devType == 0 || port.adminStatus != 3 || port.medActive == 0) return;

  // An endpoint not heard within one of our TTLs is gone.
  uint32_t seen = port.medEndpointSeen;
  if (seen != 0 && uint64_t{seen} + ttl < now) {
    notes.medEndpointExpired = true;
    seen = 0;
  }
  // A network connectivity device speaks LLDP-MED only to an endpoint that does.
  if (!(devType >= 1 && devType <= 3) && !(devType == 4 && seen != 0)) return;

  uint16_t caps = kMedCapLldpMed;
  if (devType < 4) caps |= kMedCapNetworkPolicy;
  const uint8_t power = settings.MedPowerState;
  if (power != 0) {
    if ((power & 0xC0) == 0x00) caps |= kMedCapPowerSource;
    else if ((power & 0xC0) == 0x40) caps |= kMedCapPoweredDevice;
  }
  if (Fits(t, 7, 0)) {
    OrgTlvHeader(t, kOuiTiaMed, kMedCapabilities, 3);
    t.u16be(caps);
    t.u8(devType);
  }

  if (devType < 4) {
    for (uint32_t policy : settings.MedPolicy) {
      if (policy == kMedPolicyUnset) break;
      if (!Fits(t, 8, 0)) break;
      // The setting holds the policy octets (application type first) as a
      // little-endian number.
      OrgTlvHeader(t, kOuiTiaMed, kMedNetworkPolicy, 4);
      t.u32le(policy);
    }
  }

  if (power != 0 && Fits(t, 7, 0)) {
    OrgTlvHeader(t, kOuiTiaMed, kMedExtendedPower, 3);
    t.u8(power);
    t.u16be(settings.MedPowerValue);
  }
}

// Management Address TLVs: the port's IPv4 addresses that are advertised on it,
// or, for a port without an interface index, its MAC. `keep` octets stay free.
void ManagementAddresses(ByteWriter& w, const PortFacts& port, const AddressTable& addresses,
                         const Mac& mac, size_t keep) {
  const uint32_t ifIndex = port.ifIndex;
  if (ifIndex == 0) {
    if (!Fits(w, kMacManagementAddressLength, keep)) return;
    TlvHeader(w, kLldpManagementAddress, kMacManagementAddressLength);
    w.u8(1 + 6);  // address string length: subtype + 6
    w.u8(kManAddrIeee802);
    w.bytes(mac.data(), mac.size());
    w.u8(kManAddrIfIndex);
    w.u32be(0);
    w.u8(0);  // no OID
    return;
  }
  const uint32_t count = std::min<uint32_t>(addresses.count, kMaxAddresses);
  for (uint32_t i = 0; i < count; ++i) {
    const AddressEntry& e = addresses.entries[i];
    if (e.ifIndex != ifIndex || e.portListLength == 0) continue;
    if (!Fits(w, kManAddrIpv4ValueLength, keep)) return;
    TlvHeader(w, kLldpManagementAddress, kManAddrIpv4ValueLength);
    w.u8(kManAddrIpv4StringLength);
    w.u8(kManAddrIpv4);
    w.bytes(&e.address, 4);  // already in network order
    w.u8(kManAddrIfIndex);
    w.u32be(ifIndex);
    w.u8(0);  // no OID
  }
}

}  // namespace

size_t BuildLldpFrame(const PortFacts& port, const AgentSettings& settings,
                      const AddressTable& addresses, int mode, uint8_t* frame, size_t size,
                      uint32_t now, LldpBuildNotes* notes) {
  LldpBuildNotes unused;
  LldpBuildNotes& found = notes ? *notes : unused;
  found = LldpBuildNotes{};
  ByteWriter w(frame, size);
  const Mac& mac = port.mac;

  w.bytes(kLldpNearestBridge.data(), kLldpNearestBridge.size());
  w.bytes(mac.data(), mac.size());
  w.u16be(kEtherTypeLldp);

  // A chassis ID that is still empty (the volume serial was not there yet) would
  // make every peer refuse the frame: the port's MAC stands in.
  const size_t chassisLength =
      std::min<size_t>(settings.chassisId.length, sizeof settings.chassisId.bytes);
  if (chassisLength == 0) {
    TlvHeader(w, kLldpChassisId, 1 + mac.size());
    w.u8(kChassisSubtypeMac);
    w.bytes(mac.data(), mac.size());
  } else {
    TlvHeader(w, kLldpChassisId, 1 + chassisLength);
    w.u8(static_cast<uint8_t>(settings.chassisIdSubtype));
    w.bytes(settings.chassisId.bytes, chassisLength);
  }

  // An empty connection name would give an empty Port ID, which peers refuse:
  // the MAC form is used then.
  const std::string_view connectionName = port.connectionName;
  if (settings.txPIDname != 0 && !connectionName.empty()) {
    TlvHeader(w, kLldpPortId, 1 + connectionName.size());
    w.u8(kPortSubtypeInterfaceName);
    w.bytes(connectionName.data(), connectionName.size());
  } else {
    TlvHeader(w, kLldpPortId, 1 + mac.size());
    w.u8(kPortSubtypeMac);
    w.bytes(mac.data(), mac.size());
  }

  const uint16_t ttl = mode == 0 ? 0 : LldpTimeToLive(settings.txInterval, settings.txHoldMultiplier);
  TlvHeader(w, kLldpTimeToLive, 2);
  w.u16be(ttl);

  if (!w.ok() || w.room() < kEndTlvSize) return 0;

  if (mode != 0) {
    const uint8_t tlvs = port.tlvsTxEnable;
    if (tlvs & 0x80) {
      TextTlv(w, kLldpPortDescription,
              settings.txPname != 0 ? connectionName : port.description);
    }
    if (tlvs & 0x40) TextTlv(w, kLldpSystemName, FieldText(settings.systemName));
    if (tlvs & 0x20) TextTlv(w, kLldpSystemDescription, FieldText(settings.systemDescription));
    if ((tlvs & 0x10) && Fits(w, 4, kEndTlvSize)) {
      TlvHeader(w, kLldpSystemCapabilities, 4);
      w.u32be((settings.CapSupported << 16) | settings.CapEnabled);
    }

    uint8_t tail[kMaxTailSize];
    ByteWriter t(tail, std::min(sizeof tail, w.room() - kEndTlvSize));
    BuildTail(t, port, settings, ttl, now, found);

    ManagementAddresses(w, port, addresses, mac, t.size() + kEndTlvSize);
    w.bytes(tail, t.size());
  }

  TlvHeader(w, kLldpEnd, 0);
  return w.ok() ? w.size() : 0;
}

}  // namespace torvane
