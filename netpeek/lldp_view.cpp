#include "netpeek/lldp_view.h"

#include <algorithm>
#include <map>
#include <vector>

#include "netpeek/system_views.h"
#include "netpeek/view_formats.h"

namespace torvane::netpeek {

namespace {

constexpr size_t kLocalPorts = 256;
constexpr size_t kNeighbors = 256;
constexpr uint32_t kIpv4Subtype = 1;
constexpr uint32_t kVlanMax = 4095;

constexpr ViewColumn kViewColumns[] = {{"Interface", 5},     {"IP Address", 10},  {"Neighbor ID", 8},
                                   {"Neighbor", 8},      {"Port ID", 8},      {"Port", 8},
                                   {"IP Address", 10},   {"Capabilities", 5}, {"Discovered", 15},
                                   {"Description", 10},  {"Mode", 8},         {"VLAN ID", 5, ColumnAlign::kRight}};

struct LocalPort {
  std::string description;  // up to 63 characters
  Ipv4 address{};
};

struct RemoteNeighbor {
  uint32_t local_port = 0, time_mark = 0, remote_index = 0;
  std::vector<uint8_t> chassis_id;  // up to 63 bytes
  std::string system_name;          // up to 63 characters
  std::string system_description;   // up to 127
  uint32_t caps_supported = 0, caps_enabled = 0;
  std::vector<uint8_t> port_id;  // up to 63 bytes
  std::string port_description;  // up to 127
  uint32_t mau_type = 0;
  uint32_t vlan_id = 0;
  Ipv4 address{};
};

std::vector<uint8_t> BytesOf(const VarBind* binding, size_t max) {
  if (!binding || binding->type != asn::kOctetString) return {};
  return {binding->octets.begin(), binding->octets.begin() + static_cast<std::ptrdiff_t>(std::min(max, binding->octets.size()))};
}

// A capability map as this system's subagent serves it: the 16-bit capability
// field of the LLDP frame as 1 to 4 bytes big-endian, bit 0x01 "other". (An
// agent that serves the map as the MIB's BITS numbers the bits from the first
// byte's top bit instead; see the LLDP tests.)
uint32_t CapabilitiesOf(const VarBind* binding) {
  if (!binding || binding->type != asn::kOctetString) return 0;
  return fold_big_endian(binding->octets);
}

// The local ports by their number (lldpLocPortNum, the index), and their
// management addresses.
std::map<uint32_t, LocalPort> ReadLocalPorts(ViewContext& context) {
  static const std::vector<Oid> kDescription = oids({"1.0.8802.1.1.2.1.3.7.1.4"});
  static const std::vector<Oid> kAddressIfId = oids({"1.0.8802.1.1.2.1.3.8.1.5"});
  std::map<uint32_t, LocalPort> ports;
  view_table(context, kDescription, kLocalPorts, [&](const TableRow& row) {
    if (row.index.size() != 1) return false;
    ports[row.index[0]].description = text_of(row.cell(0), 63);
    return true;
  });
  // lldpLocManAddrIfId names the port of each address; the index is the address
  // subtype and the address itself, four arcs for IPv4.
  view_table(context, kAddressIfId, kNoRowLimit, [&](const TableRow& row) {
    const uint32_t port = number_of(row.cell(0));
    auto found = ports.find(port);
    if (found != ports.end() && row.index.size() == 5 && row.index[0] == kIpv4Subtype)
      for (size_t i = 0; i < 4; ++i) found->second.address[i] = static_cast<uint8_t>(row.index[1 + i]);
    return true;
  });
  return ports;
}

std::vector<RemoteNeighbor> ReadNeighbors(ViewContext& context) {
  static const std::vector<Oid> kColumns =
      oids({"1.0.8802.1.1.2.1.4.1.1.5", "1.0.8802.1.1.2.1.4.1.1.7", "1.0.8802.1.1.2.1.4.1.1.8",
            "1.0.8802.1.1.2.1.4.1.1.9", "1.0.8802.1.1.2.1.4.1.1.10", "1.0.8802.1.1.2.1.4.1.1.11",
            "1.0.8802.1.1.2.1.4.1.1.12", "1.0.8802.1.1.2.1.5.4623.1.3.1.1.4", "1.0.8802.1.1.2.1.5.32962.1.3.1.1.1"});
  std::vector<RemoteNeighbor> neighbors;
  view_table(context, kColumns, kNeighbors, [&](const TableRow& row) {
    RemoteNeighbor n;
    // lldpRemTimeMark, lldpRemLocalPortNum, lldpRemIndex: the index's last arcs.
    const std::span<const uint32_t> ix = row.index;
    if (ix.size() >= 3) {
      n.time_mark = ix[ix.size() - 3];
      n.local_port = ix[ix.size() - 2];
      n.remote_index = ix[ix.size() - 1];
    }
    n.chassis_id = BytesOf(row.cell(0), 63);
    n.port_id = BytesOf(row.cell(1), 63);
    n.port_description = text_of(row.cell(2), 127);
    n.system_name = text_of(row.cell(3), 63);
    n.system_description = text_of(row.cell(4), 127);
    n.caps_supported = CapabilitiesOf(row.cell(5));
    n.caps_enabled = CapabilitiesOf(row.cell(6));
    n.mau_type = number_of(row.cell(7));
    n.vlan_id = number_of(row.cell(8));
    if (n.vlan_id > kVlanMax) n.vlan_id = 0;
    neighbors.push_back(std::move(n));
    return true;
  });
  return neighbors;
}

// lldpRemManAddrTable: the remote systems' index, then the address subtype and
// the address, four arcs for IPv4 without a length arc before them.
void ReadNeighborAddresses(ViewContext& context, std::vector<RemoteNeighbor>& neighbors) {
  static const std::vector<Oid> kColumns = oids({"1.0.8802.1.1.2.1.4.2.1.3", "1.0.8802.1.1.2.1.4.2.1.4"});
  view_table(context, kColumns, kNoRowLimit, [&](const TableRow& row) {
    const std::span<const uint32_t> ix = row.index;
    if (ix.size() != 8 || ix[3] != kIpv4Subtype) return true;
    // The time mark is not compared: it is the time the row changed last.
    auto n = std::find_if(neighbors.begin(), neighbors.end(), [&](const RemoteNeighbor& x) {
      return x.local_port == ix[1] && x.remote_index == ix[2];
    });
    if (n != neighbors.end())
      for (size_t i = 0; i < 4; ++i) n->address[i] = static_cast<uint8_t>(ix[4 + i]);
    return true;
  });
}

}  // namespace

int lldp_view(ViewContext& context) {
  if (!start_view(context, "LLDP discovered Neighbors", kViewColumns, 64)) return 0;
  const SystemGroup system = read_system_group(context);
  const std::map<uint32_t, LocalPort> ports = ReadLocalPorts(context);
  std::vector<RemoteNeighbor> neighbors = ReadNeighbors(context);
  ReadNeighborAddresses(context, neighbors);

  ReportModel& m = context.model;
  for (const RemoteNeighbor& n : neighbors) {
    auto port = ports.find(n.local_port);
    size_t r = m.add_row(port != ports.end() ? port->second.description : std::to_string(n.local_port));
    if (port != ports.end() && !is_zero(port->second.address)) m.set_cell(r, 1, ipv4_to_text(port->second.address));
    m.set_cell(r, 2, hex_joined(std::span<const uint8_t>(n.chassis_id).first(std::min<size_t>(n.chassis_id.size(), 8)), ""));
    m.set_cell(r, 3, n.system_name);
    m.set_cell(r, 4, hex_joined(std::span<const uint8_t>(n.port_id).first(std::min<size_t>(n.port_id.size(), 6)), ""));
    m.set_cell(r, 5, n.port_description);
    m.set_cell(r, 6, ipv4_to_text(n.address));
    m.set_cell(r, 7, capability_letters(n.caps_supported, n.caps_enabled));
    // The time mark is the agent's uptime when the neighbour was last changed.
    const int64_t ago = (int64_t{system.uptime} - int64_t{n.time_mark}) / 100;
    m.set_cell(r, 8, view_time_ago(context, ago, "%x %H:%M:%S"));
    m.set_cell(r, 9, n.system_description);
    m.set_cell(r, 10, mau_mode_text(n.mau_type));
    if (n.vlan_id) m.set_cell(r, 11, std::to_string(n.vlan_id));
  }
  m.set_counted_title("LLDP discovered Neighbors", m.row_count());
  return 12;
}

}  // namespace torvane::netpeek
