#include "agent/frames/cdp_parser.h"

#include <cstring>
#include <string_view>

#include "agent/frames/cdp_builder.h"
#include "agent/frames/wire_format.h"
#include "common/bytes.h"
#include "common/text.h"

namespace torvane {

namespace {

template <size_t N>
size_t ReadText(ByteReader value, size_t limit, char (&field)[N]) {
  size_t v = value.remaining();
  size_t n = v < limit ? v : limit;
  auto bytes = value.bytes(n);
  return CopyText(field, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

bool HoldsLldpManagement(const Neighbor& record) {
  return record.manAddrCount > 0 &&
         !(record.manAddrIfSubtype[0] == 1 && record.manAddrIfNumber[0] == 0);
}

// State of one frame's walk.
struct CdpWalk {
  uint32_t stored = 0;  // IPv4 addresses stored from this frame
  bool softwareMet = false;
  size_t softwareLength = 0;
  char software[128] = {};
};

void ReadAddresses(const ReceivingPort& port, Neighbor& record, ByteReader value, CdpWalk& walk,
                   const ParseContext& context) {
  if (value.remaining() < 4) return;
  uint32_t count = value.u32be();
  for (uint32_t i = 0; i < count && walk.stored < 8 && !value.empty(); ++i) {
    auto rest = value.rest();
    bool ipv4 = rest.size() >= kCdpAddressEntrySize && rest[0] == kCdpProtocolTypeNlpid &&
                rest[1] == 1 && rest[2] == kCdpProtocolIp && rest[3] == 0 && rest[4] == 4;
    if (!ipv4) {
      // Another protocol (IPv6, say): step over it by its own lengths, as far as
      // the TLV's bytes reach.
      value.u8();
      uint8_t protocolLength = value.u8();
      value.skip(protocolLength);
      uint16_t addressLength = value.u16be();
      value.skip(addressLength);
      if (!value.ok()) return;
      continue;
    }
    value.skip(5);
    uint8_t address[4];
    value.copy(address, 4);
    if (walk.stored == 0 && (address[0] | address[1] | address[2] | address[3])) {
      Ipv4 own = SubnetAddress(port, address, context);
      if (own) {
        std::memcpy(record.interfaceAddress, &own, 4);
        std::memcpy(record.portAddress, address, 4);
      }
    }
    uint32_t n = walk.stored;
    std::memcpy(record.manAddr[n], address, 4);
    record.manAddrIfSubtype[n] = 1;
    record.manAddrIfNumber[n] = 0;
    record.manAddrCount = ++walk.stored;
  }
}

void ReadPlatform(Neighbor& record, ByteReader value, const CdpWalk& walk) {
  size_t n = ReadText(value, 127, record.systemDescription);
  if (n >= 127 || !walk.softwareMet) return;
  // Platform after software version: "platform software", within 127 characters.
  size_t s = walk.softwareLength;
  if (n + s > 126) s = 126 - n;
  record.systemDescription[n] = ' ';
  std::memcpy(record.systemDescription + n + 1, walk.software, s);
  record.systemDescription[n + 1 + s] = 0;
}

}  // namespace

uint32_t CdpToLldpCapabilities(uint32_t cdp) {
  uint32_t lldp = 0;
  if (cdp & 0x01) lldp |= 0x10;
  if (cdp & 0x02) lldp |= 0x04;
  if (cdp & 0x08) lldp |= 0x04;
  if (cdp & 0x10) lldp |= 0x80;
  if (cdp & 0x40) lldp |= 0x02;
  return lldp;
}

ParseResult ParseCdpFrame(const ReceivingPort& port, Neighbor& record, const uint8_t* frame,
                          size_t length, uint32_t now, const ParseContext& context,
                          ParseNotes* notes) {
  if (!frame || length < kCdpHeaderSize) return kParseMalformed;
  uint8_t version = frame[kCdpPduOffset];
  if (version > kCdpVersion) return kParseMalformed;
  // Peers differ in how they sum an odd last octet: either way will do.
  if (!CdpChecksumValid(frame + kCdpPduOffset, length - kCdpPduOffset)) {
    if (notes) notes->cdpChecksum = CdpChecksum(frame + kCdpPduOffset, length - kCdpPduOffset);
    return kParseMalformed;
  }
  if (HoldsLldpManagement(record)) return kParseMalformed;

  uint32_t ttl = frame[kCdpTtlOffset];
  record.ttl = ttl;
  FillPortFields(port, record, frame, context);
  if (static_cast<uint32_t>(record.lastUpdate + ttl) < now) record.discovered = now;
  record.lastUpdate = now;

  // CDP names no chassis or port: the port ID is the sender's MAC address.
  std::memset(&record.chassisId, 0, sizeof record.chassisId);
  std::memset(&record.portId, 0, sizeof record.portId);
  record.portIdSubtype = kPortSubtypeMac;
  record.portId.length = 6;
  std::memcpy(record.portId.bytes, frame + 6, 6);
  ClearAdvertisedFields(record);

  ByteReader in(frame + kCdpHeaderSize, length - kCdpHeaderSize);
  CdpWalk walk;
  while (in.remaining() >= 4) {
    uint16_t type = in.u16be();
    uint16_t tlvLength = in.u16be();
    if (type == 0 || tlvLength < 4 || tlvLength - 4u > in.remaining()) break;
    ByteReader value = in.sub(tlvLength - 4u);
    size_t v = value.remaining();
    switch (type) {
      case kCdpDeviceId: {
        size_t n = ReadText(value, 63, record.systemName);
        record.chassisIdSubtype = 6;
        record.chassisId.length = static_cast<uint8_t>(n);
        std::memcpy(record.chassisId.bytes, record.systemName, n);
        break;
      }
      case kCdpAddresses:
        ReadAddresses(port, record, value, walk, context);
        break;
      case kCdpPortId:  // the sender's interface, shown as the port description
        ReadText(value, 127, record.portDescription);
        break;
      case kCdpCapabilities: {
        uint32_t bits = 0;
        while (!value.empty()) bits = (bits << 8) | value.u8();
        record.capSupported = record.capEnabled = CdpToLldpCapabilities(bits);
        break;
      }
      case kCdpVersionText: {  // software version
        size_t n = ReadText(value, 127, record.systemDescription);
        std::memcpy(walk.software, record.systemDescription, n);
        walk.softwareLength = n;
        walk.softwareMet = true;
        break;
      }
      case kCdpPlatform:
        ReadPlatform(record, value, walk);
        break;
      case kCdpNativeVlan:
        if (v == 2) record.portVlanId = value.u16be();
        break;
      case kCdpDuplex:
        if (v == 1) record.mode = (record.mode & ~1u) | (value.u8() ? 1u : 0u);
        break;
      default:
        break;
    }
  }

  if (record.ttl == 0) return kParseRemove;
  if (walk.stored > 0) PickPortAddress(record);
  return kParseStored;
}

}  // namespace torvane
