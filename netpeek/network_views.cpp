#include "netpeek/network_views.h"

#include <arpa/inet.h>

#include <cstring>

#include "common/text.h"
#include "netpeek/enum_texts.h"
#include "netpeek/name_lookup.h"
#include "netpeek/system_views.h"

namespace torvane::netpeek {

namespace {

constexpr size_t kIpAddressRows = 32;
constexpr size_t kPhysAddressMax = 16;

constexpr ViewColumn kInterfaceColumns[] = {
    {"Interface", 20},  {"MAC", 13},        {"IP-Address", 13}, {"MTU", 8, ColumnAlign::kRight},
    {"Speed", 8, ColumnAlign::kRight},      {"AdminStatus", 5}, {"OperStatus", 5},
    {"Type", 8},        {"LastChange", 20}};
constexpr ViewColumn kRouteColumns[] = {
    {"Net", 20}, {"Netmask", 20}, {"Gateway", 20}, {"Interface", 20}, {"Metric", 20, ColumnAlign::kRight}};
constexpr ViewColumn kArpColumns[] = {{"Interface", 25}, {"IP-Address", 25}, {"Hardware-Address", 25}, {"Type", 25}};

Ipv4 AddressOf(const VarBind* binding) {
  if (!binding || binding->octets.empty()) return {};
  return ipv4_from_bytes(binding->octets);
}

std::string PhysAddressText(const VarBind* binding) {
  if (!binding || binding->type != asn::kOctetString) return {};
  std::span<const uint8_t> bytes(binding->octets);
  return hex_joined(bytes.first(std::min(bytes.size(), kPhysAddressMax)), "-");
}

}  // namespace

IpAddressTable read_ip_address_table(ViewContext& context) {
  static const std::vector<Oid> kColumns =
      oids({"1.3.6.1.2.1.4.20.1.1", "1.3.6.1.2.1.4.20.1.2", "1.3.6.1.2.1.4.20.1.3"});
  IpAddressTable table;
  view_table(context, kColumns, kIpAddressRows, [&](const TableRow& row) {
    table.push_back({number_of(row.cell(1)), AddressOf(row.cell(0)), AddressOf(row.cell(2))});
    return true;
  });
  return table;
}

Ipv4 ip_address_for_interface(const IpAddressTable& table, uint32_t if_index) {
  for (const IpAddressRow& r : table)
    if (r.if_index == if_index) return r.address;
  return {};
}

int interfaces_view(ViewContext& context) {
  if (!start_view(context, "Interfaces", kInterfaceColumns, 64)) return 0;
  const SystemGroup system = read_system_group(context);
  const IpAddressTable addresses = read_ip_address_table(context);
  static const std::vector<Oid> kColumns =
      oids({"1.3.6.1.2.1.2.2.1.1", "1.3.6.1.2.1.2.2.1.2", "1.3.6.1.2.1.2.2.1.3", "1.3.6.1.2.1.2.2.1.4",
            "1.3.6.1.2.1.2.2.1.5", "1.3.6.1.2.1.2.2.1.6", "1.3.6.1.2.1.2.2.1.7", "1.3.6.1.2.1.2.2.1.8",
            "1.3.6.1.2.1.2.2.1.9"});
  ReportModel& m = context.model;
  view_table(context, kColumns, 32, [&](const TableRow& row) {
    size_t r = m.add_row(text_of(row.cell(1), 255));
    m.set_cell(r, 1, PhysAddressText(row.cell(5)));
    const Ipv4 address = ip_address_for_interface(addresses, number_of(row.cell(0)));
    if (!is_zero(address)) m.set_cell(r, 2, ipv4_to_text(address));
    m.set_cell(r, 3, FormatText("%-5u", number_of(row.cell(3))));
    m.set_cell(r, 4, speed_text(number_of(row.cell(4))));
    m.set_cell(r, 5, std::string(enum_text(EnumTable::kInterfaceStatus, number_of(row.cell(6)))));
    m.set_cell(r, 6, std::string(enum_text(EnumTable::kInterfaceStatus, number_of(row.cell(7)))));
    m.set_cell(r, 7, std::string(enum_text(EnumTable::kInterfaceType, number_of(row.cell(2)))));
    // ifLastChange is the agent's uptime at the change.
    const int64_t ago = (int64_t{system.uptime} - int64_t{number_of(row.cell(8))}) / 100;
    m.set_cell(r, 8, view_time_ago(context, ago, "%x  %H:%M:%S"));
    return true;
  });
  return 9;
}

int routes_view(ViewContext& context) {
  if (!start_view(context, "Routes", kRouteColumns, 64)) return 0;
  const IpAddressTable addresses = read_ip_address_table(context);
  static const std::vector<Oid> kColumns = oids({"1.3.6.1.2.1.4.21.1.1", "1.3.6.1.2.1.4.21.1.2",
                                                 "1.3.6.1.2.1.4.21.1.3", "1.3.6.1.2.1.4.21.1.7",
                                                 "1.3.6.1.2.1.4.21.1.11"});
  ReportModel& m = context.model;
  view_table(context, kColumns, 64, [&](const TableRow& row) {
    size_t r = m.add_row(ipv4_to_text(AddressOf(row.cell(0))));
    m.set_cell(r, 1, ipv4_to_text(AddressOf(row.cell(4))));
    m.set_cell(r, 2, ipv4_to_text(AddressOf(row.cell(3))));
    m.set_cell(r, 3, ipv4_to_text(ip_address_for_interface(addresses, number_of(row.cell(1)))));
    m.set_cell(r, 4, std::to_string(number_of(row.cell(2))));
    return true;
  });
  return 5;
}

int arp_view(ViewContext& context) {
  if (!start_view(context, "Address Resolution (ARP) Table", kArpColumns, 64)) return 0;
  const IpAddressTable addresses = read_ip_address_table(context);
  static const std::vector<Oid> kColumns = oids({"1.3.6.1.2.1.4.22.1.1", "1.3.6.1.2.1.4.22.1.2",
                                                 "1.3.6.1.2.1.4.22.1.3", "1.3.6.1.2.1.4.22.1.4"});
  ReportModel& m = context.model;
  view_table(context, kColumns, 256, [&](const TableRow& row) {
    size_t r = m.add_row(ipv4_to_text(ip_address_for_interface(addresses, number_of(row.cell(0)))));
    m.set_cell(r, 1, ipv4_to_text(AddressOf(row.cell(2))));
    m.set_cell(r, 2, PhysAddressText(row.cell(1)));
    m.set_cell(r, 3, std::string(enum_text(EnumTable::kArpType, number_of(row.cell(3)))));
    return true;
  });
  return 4;
}

namespace {

constexpr uint32_t kTcpListen = 2;

// An end point read from a row's index: four address arcs (their low bytes) and
// a port.
struct EndPoint {
  Ipv4 address{};
  uint32_t port = 0;
};

EndPoint EndPointAt(std::span<const uint32_t> arcs) {
  EndPoint e;
  for (size_t i = 0; i < 4; ++i) e.address[i] = static_cast<uint8_t>(arcs[i]);
  e.port = arcs[4];
  return e;
}

}  // namespace

int ports_view(ViewContext& context, PortsKind kind) {
  const bool tcp = kind == PortsKind::kTcp;
  const bool numeric = context.settings.numeric;
  const ColumnAlign portAlign = numeric ? ColumnAlign::kRight : ColumnAlign::kLeft;
  const ViewColumn columns[] = {{"Protocol", 16},       {"Local Address", 16},  {"Port", 16, portAlign},
                                {"Remote Address", 16}, {"Port", 16, portAlign}, {"State", 20}};
  if (!start_view(context, tcp ? "TCP Ports" : "UDP Ports", columns, 512)) return 0;
  // One column: the end points are the index. tcpConnState's index is the local
  // address and port, then the remote ones; udpLocalAddress's the local ones.
  static const std::vector<Oid> kTcp = oids({"1.3.6.1.2.1.6.13.1.1"});
  static const std::vector<Oid> kUdp = oids({"1.3.6.1.2.1.7.5.1.1"});
  const size_t indexLength = tcp ? 10 : 5;

  ReportModel& m = context.model;
  auto addressCell = [&](size_t r, size_t column, const Ipv4& address) {
    if (is_zero(address)) {
      m.set_cell(r, column, "*");
      return;
    }
    m.set_cell(r, column, ipv4_to_text(address));
    if (!numeric && context.lookups) {
      uint32_t networkOrder;
      std::memcpy(&networkOrder, address.data(), 4);
      context.lookups->request(context.generation, r, column, networkOrder);
    }
  };
  auto portCell = [&](size_t r, size_t column, uint32_t port) {
    std::string name = numeric || port > 0xFFFF ? std::string() : service_name(static_cast<uint16_t>(port));
    m.set_cell(r, column, name.empty() ? std::to_string(port) : name);
  };

  view_table(context, tcp ? kTcp : kUdp, 256, [&](const TableRow& row) {
    // A name of another length still makes a row, with nothing in it.
    EndPoint local, remote;
    if (row.index.size() == indexLength) {
      local = EndPointAt(row.index);
      if (tcp) remote = EndPointAt(row.index.subspan(5));
    }
    const uint32_t state = tcp ? number_of(row.cell(0)) : 0;
    size_t r = m.add_row(tcp ? "tcp" : "udp");
    addressCell(r, 1, local.address);
    portCell(r, 2, local.port);
    if (!tcp || (state == kTcpListen && is_zero(remote.address))) {
      m.set_cell(r, 3, "*");
      m.set_cell(r, 4, "*");
    } else {
      addressCell(r, 3, remote.address);
      portCell(r, 4, remote.port);
    }
    m.set_cell(r, 5, tcp ? std::string(enum_text(EnumTable::kTcpState, state)) : std::string());
    return true;
  });
  return 6;
}

}  // namespace torvane::netpeek
