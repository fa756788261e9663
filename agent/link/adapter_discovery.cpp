#include "agent/link/adapter_discovery.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/registry_values.h"
#include "common/text.h"

namespace torvane {
namespace {

constexpr std::string_view kDevicePrefix = "\\Device\\NPF_";

uint32_t IfTypeOf(const InterfaceFacts& f) {
  if (f.arpType == kArpEther) return f.wireless ? 71 : 6;
  if (f.arpType == kArpLoopback) return 24;
  return 1;
}

// The capture library's pseudo-devices, which are no adapters.
bool IsPseudoDevice(const LibraryAdapter& a) {
  constexpr uint32_t kLoopback = 0x1;
  constexpr uint32_t kConnectionStatusMask = 0x30;  // 0x30: not applicable
  if (a.flags & kLoopback) return true;
  if ((a.flags & kConnectionStatusMask) == kConnectionStatusMask) return true;
  std::string_view n = a.name;
  return n == "any" || n == "nflog" || n == "nfqueue" || n.substr(0, 5) == "dbus-" ||
         n.substr(0, 6) == "usbmon" || n.substr(0, 9) == "bluetooth";
}

bool AlreadyListed(const PortTable& table, uint32_t count, std::string_view deviceName) {
  for (uint32_t i = 0; i < count && i < kMaxPorts; ++i)
    if (table[i].DeviceName() == deviceName) return true;
  return false;
}

void AppendPort(PortTable& table, uint32_t& count, std::string_view deviceName,
                std::string_view description, std::string_view connectionName) {
  Port& port = table[count];
  port.SetDescription(description);
  port.SetDeviceName(deviceName);
  port.SetConnectionName(connectionName);
  port.state = kPortClosed;
  port.number = count + 1;
  ++count;
}

void TracePortList(LinkTrace& trace, const PortTable& table, uint32_t count) {
  if (!trace.Enabled()) return;
  for (uint32_t i = 0; i < count && i < kMaxPorts; ++i) {
    const Port& port = table[i];
    std::string device = port.DeviceName();
    TraceFormat(trace, "%s %s : %s\n", std::string(NameFromBrace(device)).c_str(),
                port.Description().c_str(), port.ConnectionName().c_str());
  }
}

// Appends one adapter unless it is gone, already a port, or the table is full.
void OfferAdapter(NetHost& host, PortTable& table, uint32_t& count, std::string_view name,
                  std::string_view description) {
  char connection[64] = {};
  if (!ReadConnectionName(host, name, connection, sizeof connection)) return;
  if (count >= kMaxPorts || AlreadyListed(table, count, name)) return;
  std::string fallback;
  if (description.empty()) {
    fallback = AdapterDescription(host, name);
    description = fallback;
  }
  AppendPort(table, count, name, description, FieldText(connection));
}

std::optional<uint32_t> IfIndexOf(NetHost& host, std::string_view ifName) {
  auto text = host.ReadAttribute(ifName, "ifindex");
  if (!text) return std::nullopt;
  uint32_t v = 0;
  if (text->empty()) return std::nullopt;
  for (char c : *text) {
    if (c < '0' || c > '9' || v > 0x0FFFFFFF) return std::nullopt;
    v = v * 10 + static_cast<uint32_t>(c - '0');
  }
  return v;
}

// Interface names in ifindex order (names with no readable index last, by name).
std::vector<std::string> OrderedNames(NetHost& host, std::vector<std::string> names) {
  std::vector<std::pair<uint64_t, std::string>> keyed;
  keyed.reserve(names.size());
  for (auto& n : names) {
    auto index = IfIndexOf(host, n);
    keyed.emplace_back(index ? *index : uint64_t{1} << 32, std::move(n));
  }
  std::sort(keyed.begin(), keyed.end());
  std::vector<std::string> out;
  out.reserve(keyed.size());
  for (auto& k : keyed) out.push_back(std::move(k.second));
  return out;
}

// The stored port list of an address, when it is one the agent may use: a length
// byte of at most 16 and at most the bytes that follow it.
bool ReadStoredPortList(RegistryStore& registry, Ipv4 address, AddressEntry& entry) {
  uint8_t a[4];
  std::memcpy(a, &address, 4);
  char name[16];
  std::snprintf(name, sizeof name, "%u.%u.%u.%u", a[0], a[1], a[2], a[3]);
  uint8_t stored[1 + sizeof entry.portList] = {};
  size_t bytes = RegReadValue(registry, kPortListSubkey, name, "", stored, sizeof stored);
  if (bytes == 0) return false;
  uint8_t length = stored[0];
  if (length > sizeof entry.portList || length > bytes - 1) return false;
  entry.portListLength = length;
  std::memset(entry.portList, 0, sizeof entry.portList);
  std::memcpy(entry.portList, stored + 1, bytes - 1);
  return true;
}

}  // namespace

namespace {

// Most of a frame the agent may describe: a 16-bit field on the wire.
constexpr uint32_t kMaxFrameSizeLimit = 65535;

uint32_t FrameSizeAtMost(uint64_t size) {
  return size > kMaxFrameSizeLimit ? kMaxFrameSizeLimit : static_cast<uint32_t>(size);
}

}  // namespace

uint32_t FrameSizeFromMtu(uint32_t mtu) { return FrameSizeAtMost(uint64_t{mtu} + 18); }
uint32_t FrameSizeFromTotalSize(uint32_t totalSize) { return FrameSizeAtMost(uint64_t{totalSize} + 4); }

std::string_view InterfaceNameOf(std::string_view deviceName) {
  if (deviceName.substr(0, kDevicePrefix.size()) == kDevicePrefix)
    deviceName.remove_prefix(kDevicePrefix.size());
  return NameFromBrace(deviceName);
}

std::string_view NameFromBrace(std::string_view name) {
  size_t brace = name.find('{');
  return brace == std::string_view::npos ? name : name.substr(brace);
}

std::string AdapterDescription(NetHost& host, std::string_view ifName) {
  if (auto alias = host.ReadAttribute(ifName, "ifalias"); alias && !alias->empty()) return *alias;
  std::string text;
  if (auto info = host.DriverInfoOf(ifName)) text = info->driver;
  if (auto index = IfIndexOf(host, ifName)) {
    if (auto model = host.UdevModel(*index)) {
      if (!text.empty()) text += ' ';
      text += *model;
    }
  }
  if (text.empty()) text = std::string(ifName);
  return text;
}

bool IsServedAdapter(NetHost& host, std::string_view ifName) {
  auto type = host.ReadAttribute(ifName, "type");
  if (!type || *type != "1") return false;
  auto uevent = host.ReadAttribute(ifName, "uevent").value_or("");
  // Masters pass their members' frames on; the members are the ports.
  for (std::string_view master : {"DEVTYPE=bridge", "DEVTYPE=bond", "DEVTYPE=team"}) {
    size_t at = uevent.find(master);
    if (at != std::string::npos && (at == 0 || uevent[at - 1] == '\n')) {
      size_t end = at + master.size();
      if (end == uevent.size() || uevent[end] == '\n') return false;
    }
  }
  return !host.HasEntry(ifName, "bridge") && !host.HasEntry(ifName, "bonding");
}

uint32_t DiscoverAdapters(NetHost& host, LinkTrace& trace, PortTable& table, uint32_t count) {
  TraceText(trace, "Adapter list:\n");
  if (count > kMaxPorts) count = kMaxPorts;
  if (auto names = host.InterfaceNames()) {
    for (const std::string& name : OrderedNames(host, std::move(*names))) {
      if (count >= kMaxPorts) break;
      if (!IsServedAdapter(host, name)) continue;
      OfferAdapter(host, table, count, name, {});
    }
  }
  TracePortList(trace, table, count);
  table.portCount = count;
  return count;
}

uint32_t DiscoverAdapters(NetHost& host, LinkTrace& trace, PortTable& table, uint32_t count,
                          std::span<const LibraryAdapter> libraryList) {
  TraceText(trace, "Adapter list:\n");
  if (count > kMaxPorts) count = kMaxPorts;
  size_t taken = 0;
  for (const LibraryAdapter& a : libraryList) {
    if (IsPseudoDevice(a)) continue;
    if (taken++ >= kMaxPorts) break;
    if (!IsServedAdapter(host, InterfaceNameOf(a.name))) continue;
    OfferAdapter(host, table, count, a.name, a.description);
  }
  TracePortList(trace, table, count);
  table.portCount = count;
  return count;
}

bool ReadConnectionName(NetHost& host, std::string_view deviceName, char* out, size_t size) {
  std::string_view name = InterfaceNameOf(deviceName);
  if (name.empty() || !out || size == 0) return false;
  if (!IfIndexOf(host, name)) return false;
  CopyText(out, size, name);
  return true;
}

bool RefreshConnectionName(NetHost& host, Port& port) {
  char name[64] = {};
  if (ReadConnectionName(host, port.DeviceName(), name, sizeof name)) {
    name[sizeof name - 1] = 0;
    port.SetConnectionName(FieldText(name));
    return true;
  }
  char fallback[32];
  std::snprintf(fallback, sizeof fallback, "(Ethernet %u)", port.number.load());
  port.SetConnectionName(fallback);
  return false;
}

void ComputePortList(const InterfaceTable& interfaces, AddressEntry& entry, uint32_t ifIndex) {
  std::memset(entry.portList, 0, sizeof entry.portList);
  uint32_t count = std::min<uint32_t>(interfaces.count, kMaxInterfaces);
  for (uint32_t j = 0; j < count; ++j)
    if (interfaces.entries[j].ifIndex == ifIndex)
      entry.portList[j / 8] |= static_cast<uint8_t>(1u << (7 - j % 8));
  entry.portListLength = static_cast<uint8_t>((count + 7) / 8);
}

bool LoadInterfaceLists(NetHost& host, LinkTrace& trace, RegistryStore& registry,
                        InterfaceLists& working, PublishedLists* published,
                        uint32_t maxInterfaces, uint32_t maxAddresses) {
  maxInterfaces = std::min<uint32_t>(maxInterfaces, kMaxInterfaces);
  maxAddresses = std::min<uint32_t>(maxAddresses, kMaxAddresses);

  auto names = host.InterfaceNames();
  if (!names) {
    TraceText(trace, "loading interface list failed\n");
    return false;
  }
  InterfaceTable& interfaces = working.interfaces;
  uint32_t rows = 0;
  for (const std::string& name : OrderedNames(host, std::move(*names))) {
    if (rows >= maxInterfaces) break;
    auto facts = ReadInterfaceFacts(host, name);
    if (!facts) continue;  // vanished while the folder was read
    InterfaceEntry e{};
    CopyText(e.ifName, facts->name);
    CopyText(e.ifDescr, AdapterDescription(host, name));
    e.ifIndex = facts->ifIndex;
    e.ifType = IfTypeOf(*facts);
    e.ifMtu = facts->mtu;
    e.ifSpeed = SpeedBitsPerSecond(facts->link);
    e.ifPhysAddrLen = std::min<uint32_t>(facts->hardware.length, sizeof e.ifPhysAddress);
    std::memcpy(e.ifPhysAddress, facts->hardware.bytes, e.ifPhysAddrLen);
    bool up = facts->flagsKnown && (facts->flags & 0x1);        // IFF_UP
    bool running = facts->flagsKnown && (facts->flags & 0x40);  // IFF_RUNNING
    e.ifAdminStatus = up ? 1 : 0;
    e.ifOperStatus = running ? 5 : up ? 2 : 0;
    e.ifLastChange = 0;
    interfaces.entries[rows++] = e;
  }
  interfaces.count = rows;

  auto addresses = host.Ipv4Addresses();
  auto merge = [&](AddressTable& table) {
    uint32_t n = static_cast<uint32_t>(std::min<size_t>(addresses->size(), maxAddresses));
    for (uint32_t i = 0; i < n; ++i) {
      const HostIpv4& row = (*addresses)[i];
      AddressEntry& entry = table.entries[i];
      // A list is kept while its address stays at the same position.
      if (row.address != entry.address && !ReadStoredPortList(registry, row.address, entry))
        ComputePortList(interfaces, entry, row.ifIndex);
      entry.ifIndex = row.ifIndex;
      entry.address = row.address;
      entry.mask = row.mask;
      std::memset(entry.zero, 0, sizeof entry.zero);
    }
    table.count = n;
  };
  if (!published) {
    if (addresses) merge(working.addresses);
  } else {
    // The port lists go on from the published ones, which hold what the pipe
    // changed since the last load; the change and this load take turns.
    published->Change([&](const InterfaceLists& current) {
      working.addresses = current.addresses;
      if (addresses) merge(working.addresses);
      return std::make_shared<const InterfaceLists>(working);
    });
  }
  if (!addresses) {
    TraceText(trace, "loading ip address list failed\n");
    return false;
  }
  return true;
}

bool MatchInterface(const InterfaceTable& table, Port& port, uint32_t* entryIndex) {
  std::string device = port.DeviceName();
  std::string_view name = InterfaceNameOf(device);
  if (name.empty()) return false;
  uint32_t count = std::min<uint32_t>(table.count, kMaxInterfaces);
  for (uint32_t i = 0; i < count; ++i) {
    if (NameFromBrace(FieldText(table.entries[i].ifName)) != name) continue;
    port.ifIndex = table.entries[i].ifIndex;
    if (entryIndex) *entryIndex = i;
    return true;
  }
  return false;
}

void DescriptionFromInterface(const InterfaceTable& table, Port& port) {
  uint32_t i = 0;
  if (MatchInterface(table, port, &i)) port.SetDescription(FieldText(table.entries[i].ifDescr));
}

void FactsFromInterface(const InterfaceTable& table, Port& port) {
  uint32_t i = 0;
  if (!MatchInterface(table, port, &i)) return;
  const InterfaceEntry& e = table.entries[i];
  if (port.macAddress.zero() && e.ifPhysAddrLen == 6) port.macAddress.store(e.ifPhysAddress);
  if (port.linkStatus == kLinkUnknown)
    port.linkStatus = e.ifOperStatus == 5 ? kLinkConnected : kLinkDisconnected;
  if (port.state == kPortClosed) port.state = e.ifAdminStatus == 0 ? kPortNotReady : kPortReady;
  if (port.ifType == 0) port.ifType = e.ifType;
  if (port.mediaSupported == 0 && port.ifType == 6) port.mediaSupported = 1;
  if (port.linkSpeed == 0) port.linkSpeed = e.ifSpeed / 100;
  if (port.maxFrameSize == 0 && e.ifMtu != 0) port.maxFrameSize = FrameSizeFromMtu(e.ifMtu);
}

bool InterfaceAddressChanged(const InterfaceTable& table, Port& port) {
  uint32_t i = 0;
  if (port.macAddress.zero() || !MatchInterface(table, port, &i)) return false;
  const InterfaceEntry& e = table.entries[i];
  static constexpr uint8_t kNone[6] = {};
  if (e.ifPhysAddrLen != 6 || std::memcmp(e.ifPhysAddress, kNone, 6) == 0) return false;
  return !port.macAddress.equals(e.ifPhysAddress);
}

bool RefreshFromInterface(const InterfaceTable& table, Port& port) {
  uint32_t i = 0;
  if (!MatchInterface(table, port, &i)) return false;
  const InterfaceEntry& e = table.entries[i];
  bool wasUp = port.linkStatus == kLinkConnected;
  bool result;
  if (e.ifOperStatus == 5) {
    port.linkStatus = kLinkConnected;
    result = wasUp;
  } else {
    port.linkStatus = kLinkDisconnected;
    result = !wasUp;
  }
  if (e.ifAdminStatus == 0) port.state = kPortNotReady;
  if (port.linkSpeed == 0) port.linkSpeed = e.ifSpeed / 100;
  if (port.maxFrameSize == 0 && e.ifMtu != 0) port.maxFrameSize = FrameSizeFromMtu(e.ifMtu);
  return result;
}

}  // namespace torvane
