#include "netpeek/system_views.h"

#include <vector>

#include "netpeek/view_formats.h"

namespace torvane::netpeek {

namespace {

constexpr size_t kSystemText = 255;
constexpr size_t kBootParameter = 127;
constexpr size_t kWorkgroup = 127;
// Two readings of the host's uptime about this far apart tell hundredths from
// milliseconds.
constexpr uint32_t kUptimeProbeMs = 20;

constexpr ViewColumn kViewColumns[] = {{"", 15}, {"", 85}};

struct HostSystemGroup {
  bool has_uptime = false;
  uint32_t uptime = 0;
  std::vector<uint8_t> date;  // its first 7 bytes
  uint32_t load_device = 0;
  std::string load_parameters;
  uint32_t users = 0, processes = 0, max_processes = 0;
};

bool ReadHostSystem(ViewContext& context, HostSystemGroup& out) {
  static const std::vector<Oid> kNames =
      oids({"1.3.6.1.2.1.25.1.1.0", "1.3.6.1.2.1.25.1.2.0", "1.3.6.1.2.1.25.1.3.0", "1.3.6.1.2.1.25.1.4.0",
            "1.3.6.1.2.1.25.1.5.0", "1.3.6.1.2.1.25.1.6.0", "1.3.6.1.2.1.25.1.7.0"});
  bool read = false;
  view_get(context, kNames, [&](std::span<const VarBind> v) {
    HostSystemGroup g;
    g.has_uptime = v[0].type != asn::kNull;
    g.uptime = number_of(&v[0]);
    if (v[1].type == asn::kOctetString) g.date.assign(v[1].octets.begin(), v[1].octets.begin() + std::min<size_t>(v[1].octets.size(), 7));
    g.load_device = number_of(&v[2]);
    g.load_parameters = text_of(&v[3], kBootParameter);
    g.users = number_of(&v[4]);
    g.processes = number_of(&v[5]);
    g.max_processes = number_of(&v[6]);
    out = std::move(g);
    read = true;
  });
  return read;
}

// "12h 3min 4sec ( 2024-05-06  07:08:09 )": how long, and since when.
std::string UptimeText(ViewContext& context, uint32_t ticks) {
  const uint32_t seconds = ticks / 100;
  std::string since = view_time_ago(context, seconds, " ( %Y-%m-%d  %H:%M:%S )");
  if (since.empty()) return {};
  return duration_text(seconds) + since;
}

}  // namespace

SystemGroup read_system_group(ViewContext& context) {
  static const std::vector<Oid> kNames = oids({"1.3.6.1.2.1.1.1.0", "1.3.6.1.2.1.1.3.0", "1.3.6.1.2.1.1.4.0",
                                               "1.3.6.1.2.1.1.5.0", "1.3.6.1.2.1.1.6.0", "1.3.6.1.2.1.1.7.0"});
  SystemGroup g;
  view_get(context, kNames, [&](std::span<const VarBind> v) {
    g.descr = text_of(&v[0], kSystemText);
    g.uptime = number_of(&v[1]);
    g.contact = text_of(&v[2], kSystemText);
    g.name = text_of(&v[3], kSystemText);
    g.location = text_of(&v[4], kSystemText);
    g.services = number_of(&v[5]);
  });
  return g;
}

int system_view(ViewContext& context) {
  if (!start_view(context, "System Information", kViewColumns, 32)) return 0;
  const SystemGroup system = read_system_group(context);

  // Some agents count the host's uptime in milliseconds, not in hundredths. Two
  // readings tell: the time between them is taken from the middle of one
  // exchange to the middle of the other, not as the pause alone, because on a
  // slow link or a busy host the exchanges themselves take longer than the pause.
  // An agent counting milliseconds moves ten times as far as one counting
  // hundredths; the bar lies between the two.
  ViewClock& clock = view_clock(context);
  HostSystemGroup host;
  HostSystemGroup second;
  const int64_t a = clock.monotonic_ms();
  const bool first = ReadHostSystem(context, host);
  const int64_t b = clock.monotonic_ms();
  clock.sleep_ms(kUptimeProbeMs);
  const int64_t c = clock.monotonic_ms();
  if (ReadHostSystem(context, second)) {
    const int64_t d = clock.monotonic_ms();
    const int64_t elapsedMs = ((c + d) - (a + b)) / 2;
    const int64_t moved = int64_t{second.uptime} - int64_t{host.uptime};
    if (first && host.has_uptime && second.has_uptime && moved > 0 && moved * 3 > elapsedMs) second.uptime /= 10;
    host = std::move(second);
  }

  ReportModel& m = context.model;
  auto row = [&m](const char* label, std::string value) {
    size_t r = m.add_row(label);
    m.set_cell(r, 1, std::move(value));
  };
  row("Name", system.name);
  row("Description", system.descr);
  row("SNMP UpTime", UptimeText(context, system.uptime));
  row("Services", services_text(system.services));
  row("Contact", system.contact);
  row("Location", system.location);
  row("", "");
  row("UpTime", UptimeText(context, host.uptime));
  row("Current Time", date_and_time_text(host.date));
  row("Current Users", std::to_string(host.users));
  row("Processes", std::to_string(host.processes));
  row("Process limit", host.max_processes ? std::to_string(host.max_processes) : "not restricted");
  row("LoadDevice Index", std::to_string(host.load_device));
  row("Boot Parameter", host.load_parameters);

  // The workgroup from the LAN Manager MIB, else from a vendor's.
  static const std::vector<Oid> kDomain = oids({"1.3.6.1.4.1.77.1.4.1.0"});
  static const std::vector<Oid> kVendorDomain = oids({"1.3.6.1.4.1.1248.1.1.3.1.1.32.0"});
  std::string workgroup;
  bool found = false;
  auto take = [&](std::span<const VarBind> v) {
    workgroup = text_of(&v[0], kWorkgroup);
    found = v[0].type != asn::kNull;
  };
  view_get(context, kDomain, take);
  if (!found) view_get(context, kVendorDomain, take);
  if (found) {
    row("", "");
    row("Workgroup", workgroup);
  }
  return 2;
}

}  // namespace torvane::netpeek
