// The names the views show for the numbers that MIB-II and HOST-RESOURCES-MIB
// objects carry: interface types and states, TCP states, ARP entry types, storage
// and device types, device states. A number outside a table, and 0, give "".
#pragma once

#include <cstdint>
#include <string_view>

namespace torvane::netpeek {

enum class EnumTable : uint8_t {
  kArpType,          // ipNetToMediaType
  kInterfaceType,    // ifType 1..32
  kInterfaceStatus,  // ifAdminStatus, ifOperStatus
  kTcpState,         // tcpConnState
  kStorageType,      // the last arc of an hrStorageType under hrStorageTypes
  kDeviceType,       // the last arc of an hrDeviceType under hrDeviceTypes
  kDeviceStatus,     // hrDeviceStatus
};

std::string_view enum_text(EnumTable table, uint32_t value);

}  // namespace torvane::netpeek
