// Finding the adapters that become ports, their names and descriptions, and the
// interface and IPv4 address tables with the ports' matches in them.
//
// An adapter's deviceName is its interface name (a leading "\Device\NPF_" is
// tolerated and dropped wherever the interface is looked up); its connection name
// is the interface name as well. The device back-end serves the class-net entries
// of Ethernet framing that carry their own frames (physical NICs, bond members,
// veth, tap, macvlan, VLAN devices), not the loopback, bridge or bond masters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "agent/state/interface_tables.h"
#include "agent/link/link_trace.h"
#include "agent/link/net_host.h"
#include "agent/state/port.h"
#include "platform/registry_store.h"

namespace torvane {

// The registry subkey that holds the per-address port lists.
inline constexpr std::string_view kPortListSubkey = "lldp";

// One entry of the capture library's adapter list (pcap_findalldevs).
struct LibraryAdapter {
  std::string name;
  std::string description;  // may be empty (the library has none for real interfaces)
  uint32_t flags = 0;       // the library's PCAP_IF_* flags
};

// The interface name behind a deviceName.
std::string_view InterfaceNameOf(std::string_view deviceName);
// A device name from its first "{" (the whole name when it has none).
std::string_view NameFromBrace(std::string_view name);
// ifalias when set; else the driver name and the udev model name; else the
// interface name.
std::string AdapterDescription(NetHost& host, std::string_view ifName);
// Whether the device back-end makes a port of this interface.
bool IsServedAdapter(NetHost& host, std::string_view ifName);

// Device back-end: appends the served interfaces not yet in the table (in ifindex
// order) and returns the new count; traces "Adapter list:\n" and one line per port.
uint32_t DiscoverAdapters(NetHost& host, LinkTrace& trace, PortTable& table, uint32_t count);
// Library back-end: the same over the capture library's list (pseudo-devices and
// the loopback are passed over, as is every interface the device back-end would
// not serve).
uint32_t DiscoverAdapters(NetHost& host, LinkTrace& trace, PortTable& table, uint32_t count,
                          std::span<const LibraryAdapter> libraryList);

// The connection name of the adapter (its interface name) into out[size]; false
// when the interface does not exist (out unchanged).
bool ReadConnectionName(NetHost& host, std::string_view deviceName, char* out, size_t size);
// Rereads the port's connection name; on failure sets "(Ethernet %u)" and returns false.
bool RefreshConnectionName(NetHost& host, Port& port);

// Reloads the interface table and the address table into `working` (the worker's
// own copy) and, when `published` is given, publishes the result whole whenever the
// interface table was replaced; the address rows then start from the published
// port lists (the pipe may have changed them). Traces "loading interface list
// failed\n" or "loading ip address list failed\n" on failure.
bool LoadInterfaceLists(NetHost& host, LinkTrace& trace, RegistryStore& registry,
                        InterfaceLists& working, PublishedLists* published,
                        uint32_t maxInterfaces = kMaxInterfaces,
                        uint32_t maxAddresses = kMaxAddresses);
// The port list of an address from the interface table: the bit of every entry
// whose ifIndex is the address's, length (count + 7) / 8.
void ComputePortList(const InterfaceTable& interfaces, AddressEntry& entry, uint32_t ifIndex);

// The interface row of the port, by name. On a match the port's ifIndex is set and
// the row's position goes to *entryIndex when asked.
bool MatchInterface(const InterfaceTable& table, Port& port, uint32_t* entryIndex);
// description = the matching row's ifDescr.
void DescriptionFromInterface(const InterfaceTable& table, Port& port);
// The largest frame a port takes, from its MTU (+ 14 header + 4 frame check
// sequence) or from the adapter's maximum total size (+ 4): at most 65535, the
// most the 16-bit field that carries it on the wire can say.
uint32_t FrameSizeFromMtu(uint32_t mtu);
uint32_t FrameSizeFromTotalSize(uint32_t totalSize);

// Fills what is still unknown (MAC, linkStatus, state, ifType, mediaSupported,
// linkSpeed, maxFrameSize) from the matching row.
void FactsFromInterface(const InterfaceTable& table, Port& port);
// linkStatus from the row's oper status; false when there is no row or the link
// went up or down (the caller then re-reads the link facts).
bool RefreshFromInterface(const InterfaceTable& table, Port& port);
// True when the port's interface row carries another MAC address than the port
// (neither of them all zero): the adapter took a new address since the port opened.
bool InterfaceAddressChanged(const InterfaceTable& table, Port& port);

}  // namespace torvane
