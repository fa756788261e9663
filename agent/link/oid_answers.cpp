#include "agent/link/oid_answers.h"

#include <net/if.h>

#include <cstring>
#include <vector>

#include "agent/link/adapter_discovery.h"
#include "common/bytes.h"

namespace torvane {
namespace {

// NDIS_MEDIUM of a link-layer type: only Ethernet framing is 802.3.
uint32_t MediumOf(uint32_t arpType) {
  switch (arpType) {
    case kArpEther: return kNdisMedium802_3;
    case kArpLoopback: return 17;  // NdisMediumLoopback
    case 32: return 14;            // InfiniBand
    case 0xFFFE: return 19;        // no link layer: NdisMediumIP
    default: return 15;            // NdisMediumTunnel
  }
}

// NDIS_MEDIA_DUPLEX_STATE: 0 unknown, 1 half, 2 full.
uint32_t DuplexStateOf(const InterfaceFacts& f) {
  if (!f.link) return 0;
  if (f.link->duplex == EthtoolLink::kFull) return 2;
  if (f.link->duplex == EthtoolLink::kHalf) return 1;
  return 0;
}

uint64_t LinkSpeedBits(const InterfaceFacts& f) {
  if (!f.link || f.link->speedMbps == 0 || f.link->speedMbps == EthtoolLink::kUnknownSpeed)
    return kNdisLinkSpeedUnknown;
  return uint64_t{f.link->speedMbps} * 1000000u;
}

uint32_t PacketFilterOf(const InterfaceFacts& f) {
  if (!(f.flags & IFF_UP)) return 0;
  uint32_t filter = kNdisPacketTypeDirected;
  if (f.flags & IFF_BROADCAST) filter |= kNdisPacketTypeBroadcast;
  if (f.flags & IFF_MULTICAST) filter |= kNdisPacketTypeMulticast;
  if (f.flags & IFF_ALLMULTI) filter |= kNdisPacketTypeAllMulticast;
  if (f.flags & IFF_PROMISC) filter |= kNdisPacketTypePromiscuous;
  return filter;
}

bool Answer(NetHost& host, const InterfaceFacts& f, uint32_t oid, std::vector<uint8_t>& out) {
  out.assign(256, 0);
  ByteWriter w(out.data(), out.size());
  switch (oid) {
    case OID_802_3_CURRENT_ADDRESS:
      if (f.hardware.length != 6) return false;
      w.bytes(f.hardware.bytes, 6);
      break;
    case OID_GEN_MEDIA_IN_USE:
      if (f.arpType == 0) return false;
      w.u32le(MediumOf(f.arpType));
      break;
    case OID_GEN_HARDWARE_STATUS:
      if (!f.flagsKnown) return false;
      w.u32le((f.flags & IFF_UP) ? kNdisHardwareStatusReady : kNdisHardwareStatusNotReady);
      break;
    case OID_GEN_LINK_SPEED: {
      // 100 bit/s units; 0 when the speed is not known.
      uint64_t bits = LinkSpeedBits(f);
      uint64_t units = bits == kNdisLinkSpeedUnknown ? 0 : bits / 100;
      w.u32le(units > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(units));
      break;
    }
    case OID_GEN_VENDOR_DESCRIPTION: {
      std::string text = AdapterDescription(host, f.name);
      if (text.size() > 127) text.resize(127);
      w.bytes(text.data(), text.size());
      w.u8(0);
      break;
    }
    case OID_GEN_CURRENT_PACKET_FILTER:
      if (!f.flagsKnown) return false;
      w.u32le(PacketFilterOf(f));
      break;
    case OID_GEN_MAXIMUM_LOOKAHEAD:
    case OID_GEN_CURRENT_LOOKAHEAD:
      if (f.mtu == 0) return false;
      w.u32le(f.mtu);
      break;
    case OID_GEN_MAXIMUM_TOTAL_SIZE:
      if (f.mtu == 0) return false;
      w.u32le(f.mtu > 0xFFFFFFFFu - 14 ? 0xFFFFFFFFu : f.mtu + 14);
      break;
    case OID_GEN_MAC_OPTIONS:
      w.u32le(DuplexStateOf(f) == 2 ? kNdisMacOptionFullDuplex : 0);
      break;
    case OID_GEN_MEDIA_CONNECT_STATUS:
      if (!f.flagsKnown) return false;
      w.u32le((f.flags & IFF_RUNNING) ? 0 : 1);  // 0 connected, 1 disconnected
      break;
    case OID_GEN_PHYSICAL_MEDIUM:
      w.u32le(f.wireless                ? kNdisPhysicalMediumNative802_11
              : f.arpType == kArpEther ? kNdisPhysicalMedium802_3
                                       : 0);
      break;
    case OID_GEN_LINK_STATE: {
      // NDIS_LINK_STATE: header (type 0x80, revision 1, size), connect state,
      // duplex state, padding, transmit and receive speeds in bit/s, pause
      // functions, auto-negotiation flags.
      uint64_t speed = LinkSpeedBits(f);
      uint32_t connect = !f.flagsKnown ? 0 : (f.flags & IFF_RUNNING) ? 1 : 2;
      // Speed and duplex (flags 0x1, 0x2, 0x4) are negotiated together.
      uint32_t autoNeg = f.link && f.link->autoneg ? 0x7 : 0;
      w.u8(0x80);
      w.u8(1);
      w.u16le(kNdisLinkStateSize);
      w.u32le(connect);
      w.u32le(DuplexStateOf(f));
      w.u32le(0);
      w.u64le(speed);
      w.u64le(speed);
      w.u32le(0);  // pause functions: not reported
      w.u32le(autoNeg);
      break;
    }
    case OID_GEN_VLAN_ID:
      w.u32le(host.VlanIdOf(f.name).value_or(0));
      break;
    case OID_GEN_MEDIA_DUPLEX_STATE:
      w.u32le(DuplexStateOf(f));
      break;
    case OID_802_3_MULTICAST_LIST: {
      auto list = host.MulticastAddresses(f.name);
      if (!list) return false;
      out.assign(list->size() * 6, 0);
      ByteWriter m(out.data(), out.size());
      for (const auto& mac : *list) m.bytes(mac.data(), mac.size());
      return m.ok();
    }
    default:
      return false;
  }
  if (!w.ok()) return false;
  out.resize(w.size());
  return true;
}

}  // namespace

bool AnswerOidQuery(NetHost& host, std::string_view ifName, uint32_t oid, uint8_t* data,
                    uint32_t room, uint32_t& length) {
  length = 0;
  if (!data) return false;
  auto facts = ReadInterfaceFacts(host, ifName);
  if (!facts) return false;
  std::vector<uint8_t> answer;
  if (!Answer(host, *facts, oid, answer) || answer.size() > room) return false;
  if (!answer.empty()) std::memcpy(data, answer.data(), answer.size());
  length = static_cast<uint32_t>(answer.size());
  return true;
}

bool AnswerOidSet(NetHost& host, std::string_view ifName, uint32_t oid, const uint8_t* data,
                  uint32_t length) {
  if (oid != OID_GEN_CURRENT_LOOKAHEAD || !data || length < 4) return false;
  auto facts = ReadInterfaceFacts(host, ifName);
  if (!facts || facts->mtu == 0) return false;
  ByteReader r(data, length);
  uint32_t lookahead = r.u32le();
  return r.ok() && lookahead <= facts->mtu;
}

}  // namespace torvane
