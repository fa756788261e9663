// The views of the host's networking: Interfaces (40002), Routes (40003), the
// ARP table (40004), and the TCP (40005) and UDP (40006) end points.
#pragma once

#include <cstdint>
#include <vector>

#include "netpeek/view_formats.h"
#include "netpeek/views.h"

namespace torvane::netpeek {

// The agent's own addresses (ipAddrTable, up to 32), by which the interface views
// name an interface.
struct IpAddressRow {
  uint32_t if_index = 0;
  Ipv4 address{};
  Ipv4 netmask{};
};
using IpAddressTable = std::vector<IpAddressRow>;
IpAddressTable read_ip_address_table(ViewContext& context);
// The address of the first row of the interface; 0.0.0.0 when it has none.
Ipv4 ip_address_for_interface(const IpAddressTable& table, uint32_t if_index);

int interfaces_view(ViewContext& context);
int routes_view(ViewContext& context);
int arp_view(ViewContext& context);

enum class PortsKind { kTcp, kUdp };
int ports_view(ViewContext& context, PortsKind kind);

}  // namespace torvane::netpeek
