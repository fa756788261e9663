// The NDIS object identifiers the agent asks its adapters, answered from the
// Linux host: current address (SIOCGIFHWADDR), media in use (802.3 for Ethernet
// framing), hardware status (ready while the device is up), link state, speed,
// duplex and auto-negotiation (ethtool), connect status (IFF_RUNNING), maximum
// total size (MTU + 14), VLAN id, physical medium (802.11 when the device has a
// wireless folder), multicast list, packet filter (interface flags), MAC options
// (the full-duplex bit) and lookahead (the MTU). Both query paths of the agent,
// the adapter's own device and the packet driver, end here.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "agent/link/net_host.h"

namespace torvane {

constexpr uint32_t OID_GEN_HARDWARE_STATUS = 0x00010102;
constexpr uint32_t OID_GEN_MEDIA_IN_USE = 0x00010104;
constexpr uint32_t OID_GEN_MAXIMUM_LOOKAHEAD = 0x00010105;
constexpr uint32_t OID_GEN_LINK_SPEED = 0x00010107;
constexpr uint32_t OID_GEN_VENDOR_DESCRIPTION = 0x0001010D;
constexpr uint32_t OID_GEN_CURRENT_PACKET_FILTER = 0x0001010E;
constexpr uint32_t OID_GEN_CURRENT_LOOKAHEAD = 0x0001010F;
constexpr uint32_t OID_GEN_MAXIMUM_TOTAL_SIZE = 0x00010111;
constexpr uint32_t OID_GEN_MAC_OPTIONS = 0x00010113;
constexpr uint32_t OID_GEN_MEDIA_CONNECT_STATUS = 0x00010114;
constexpr uint32_t OID_GEN_PHYSICAL_MEDIUM = 0x00010202;
constexpr uint32_t OID_GEN_LINK_STATE = 0x00010207;
constexpr uint32_t OID_GEN_VLAN_ID = 0x0001021C;
constexpr uint32_t OID_GEN_MEDIA_DUPLEX_STATE = 0x0001028C;
constexpr uint32_t OID_802_3_CURRENT_ADDRESS = 0x01010102;
constexpr uint32_t OID_802_3_MULTICAST_LIST = 0x01010103;

// NDIS values used in the answers.
constexpr uint32_t kNdisMedium802_3 = 0;
constexpr uint32_t kNdisPhysicalMediumWirelessLan = 1;
constexpr uint32_t kNdisPhysicalMediumNative802_11 = 9;
constexpr uint32_t kNdisPhysicalMedium802_3 = 14;
constexpr uint32_t kNdisHardwareStatusReady = 0;
constexpr uint32_t kNdisHardwareStatusNotReady = 4;
constexpr uint32_t kNdisMacOptionFullDuplex = 0x10;
constexpr uint32_t kNdisPacketTypeDirected = 0x01;
constexpr uint32_t kNdisPacketTypeMulticast = 0x02;
constexpr uint32_t kNdisPacketTypeAllMulticast = 0x04;
constexpr uint32_t kNdisPacketTypeBroadcast = 0x08;
constexpr uint32_t kNdisPacketTypePromiscuous = 0x20;
constexpr uint64_t kNdisLinkSpeedUnknown = ~uint64_t{0};
constexpr uint32_t kNdisLinkStateSize = 40;  // NDIS_LINK_STATE with its 4-byte header

// Answers a query of `oid` for the interface ifName: the OID's data into
// data[0..room), its byte count into `length`. False when the OID is not one the
// agent asks, the interface is gone, or the answer does not fit in `room`.
bool AnswerOidQuery(NetHost& host, std::string_view ifName, uint32_t oid, uint8_t* data,
                    uint32_t room, uint32_t& length);

// The sets that need no packet socket: OID_GEN_CURRENT_LOOKAHEAD (accepted up to
// the maximum lookahead). Every other OID gives false; the packet back-end maps the
// packet filter and the multicast list to its socket's memberships itself.
bool AnswerOidSet(NetHost& host, std::string_view ifName, uint32_t oid, const uint8_t* data,
                  uint32_t length);

}  // namespace torvane
