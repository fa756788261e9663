#include "agent/frames/lldp_parser.h"

#include <array>
#include <cstring>
#include <string_view>

#include "agent/frames/wire_format.h"
#include "common/bytes.h"
#include "common/text.h"

namespace torvane {

namespace {

// A chassis or port ID as read, kept aside until the TTL TLV accepts the frame:
// a frame refused before its TTL must not change a known neighbour's identity.
struct PendingId {
  uint8_t subtype = 0;
  uint8_t length = 0;
  uint8_t bytes[67];
};

void ReadId(ByteReader value, size_t v, PendingId& id) {
  if (v == 0) return;
  id.subtype = value.u8();
  size_t n = (v < 68 ? v : 68) - 1;
  id.length = static_cast<uint8_t>(n);
  value.copy(id.bytes, n);
}

void CommitId(const PendingId& id, uint32_t& subtype, IdField& field) {
  subtype = id.subtype;
  field.length = id.length;
  std::memcpy(field.bytes, id.bytes, id.length);
  std::memset(field.bytes + id.length, 0, sizeof field.bytes - id.length);
}

template <size_t N>
void ReadText(ByteReader value, size_t v, char (&field)[N]) {
  size_t n = v < N - 1 ? v : N - 1;
  auto bytes = value.bytes(n);
  CopyText(field, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

// Every value byte folded big-endian into 32 bits (TTL and capabilities of any
// length are read this way).
uint32_t Fold(ByteReader value) {
  uint32_t folded = 0;
  while (!value.empty()) folded = (folded << 8) | value.u8();
  return folded;
}

bool SameOui(std::span<const uint8_t> oui, const std::array<uint8_t, 3>& expect) {
  return oui.size() == 3 && std::memcmp(oui.data(), expect.data(), 3) == 0;
}

void ReadOrganizational(Neighbor& record, ByteReader value, size_t v, const ParseContext& context,
                        ParseNotes* notes) {
  if (v < 4) return;
  auto oui = value.bytes(3);
  uint8_t subtype = value.u8();
  if (SameOui(oui, kOuiIeee8021)) {
    if (subtype == kIeee8021PortVlanId && v >= 6) record.portVlanId = value.u16be();
  } else if (SameOui(oui, kOuiIeee8023)) {
    if (subtype == kIeee8023MacPhy && v >= 9) {
      value.skip(3);  // auto-negotiation status and advertised capability
      uint16_t mau = value.u16be();
      record.mauType = mau;
      record.mode = ModeFromMauType(mau);
    } else if (subtype == kIeee8023MaxFrameSize && v == 6) {
      record.maxFrameSize = value.u16be();
    }
  } else if (SameOui(oui, kOuiTiaMed)) {
    if (subtype != kMedCapabilities || v != 7) return;
    value.skip(2);  // LLDP-MED capabilities
    uint8_t deviceClass = value.u8();
    const AgentSettings* settings = context.settings;
    // A network connectivity device answers an endpoint it hears with LLDP-MED.
    if (deviceClass < 1 || deviceClass > 3 || !settings || settings->MedDevType != 4) return;
    if (notes) notes->medEndpointHeard = true;
  }
}

}  // namespace

uint32_t ModeFromMauType(uint32_t m) {
  if (m == 0 || m > 30) return 0;
  if (m <= 9 || m == 14) return 1u << 1;
  if (m <= 13) return (1u << 1) | (m & 1);
  uint32_t duplex = (m % 2 == 0) ? 1 : 0;
  if (m <= 20) return (2u << 1) | duplex;
  return (3u << 1) | duplex;
}

ParseResult ParseLldpFrame(const ReceivingPort& port, Neighbor& record, const uint8_t* frame,
                           size_t length, uint32_t now, const ParseContext& context,
                           ParseNotes* notes) {
  if (!frame || length < kLldpMinFrame) return kParseMalformed;
  FillPortFields(port, record, frame, context);
  if (static_cast<uint32_t>(record.lastUpdate + record.ttl) < now) record.discovered = now;

  ByteReader in(frame + kEthernetHeaderSize, length - kEthernetHeaderSize);
  int mandatory = 1;  // the next of Chassis ID, Port ID, TTL expected
  PendingId chassis, portId;
  uint32_t stored = 0;  // management addresses stored from this frame
  while (in.remaining() >= 2) {
    uint8_t first = in.u8();
    uint8_t second = in.u8();
    if (first == 0 && second == 0) break;  // End of LLDPDU
    unsigned type = first >> 1;
    size_t v = (static_cast<size_t>(first & 1) << 8) | second;
    if (v > in.remaining()) break;
    ByteReader value = in.sub(v);
    switch (type) {
      case kLldpChassisId:
        if (mandatory != 1) return kParseMalformed;
        mandatory = 2;
        ReadId(value, v, chassis);
        break;
      case kLldpPortId:
        if (mandatory != 2) return kParseMalformed;
        mandatory = 3;
        ReadId(value, v, portId);
        break;
      case kLldpTimeToLive:
        if (mandatory != 3) return kParseMalformed;
        mandatory = 4;
        record.lastUpdate = now;
        record.ttl = Fold(value);
        CommitId(chassis, record.chassisIdSubtype, record.chassisId);
        CommitId(portId, record.portIdSubtype, record.portId);
        // A shutdown frame (TTL 0) only says that the neighbour leaves: what it
        // said before stays, so that its removal is logged as it was known.
        if (record.ttl != 0) ClearAdvertisedFields(record);
        break;
      case kLldpPortDescription:
        ReadText(value, v, record.portDescription);
        break;
      case kLldpSystemName:
        ReadText(value, v, record.systemName);
        break;
      case kLldpSystemDescription:
        ReadText(value, v, record.systemDescription);
        break;
      case kLldpSystemCapabilities: {
        uint32_t caps = Fold(value);
        record.capSupported = caps >> 16;
        record.capEnabled = caps & 0xFFFF;
        break;
      }
      case kLldpManagementAddress: {
        if (v < kManAddrIpv4ValueLength) break;
        uint8_t stringLength = value.u8();
        uint8_t subtype = value.u8();
        if (stringLength != kManAddrIpv4StringLength || subtype != kManAddrIpv4) break;
        uint8_t address[4];
        value.copy(address, 4);
        uint8_t ifSubtype = value.u8();
        uint32_t ifNumber = value.u32be();
        if (address[0] | address[1] | address[2] | address[3]) {
          Ipv4 own = SubnetAddress(port, address, context);
          if (own) {
            std::memcpy(record.interfaceAddress, &own, 4);
            std::memcpy(record.portAddress, address, 4);
          }
        }
        if (stored < 8) {
          std::memcpy(record.manAddr[stored], address, 4);
          record.manAddrIfSubtype[stored] = ifSubtype;
          record.manAddrIfNumber[stored] = ifNumber;
          record.manAddrCount = ++stored;
        }
        break;
      }
      case kLldpOrganizational:
        ReadOrganizational(record, value, v, context, notes);
        break;
      default:  // 0 with a length, 9..126: not ours to read
        break;
    }
  }

  if (record.ttl == 0) return kParseRemove;
  if (record.manAddrCount > 0) PickPortAddress(record);
  return kParseStored;
}

}  // namespace torvane
