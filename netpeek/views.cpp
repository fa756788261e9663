#include "netpeek/views.h"

#include <time.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "netpeek/host_views.h"
#include "netpeek/lldp_view.h"
#include "netpeek/network_views.h"
#include "netpeek/snmp_text.h"
#include "netpeek/system_views.h"
#include "netpeek/view_formats.h"
#include "netpeek/walk_view.h"

namespace torvane::netpeek {

ViewClock::~ViewClock() = default;

namespace {

class SystemClock final : public ViewClock {
 public:
  int64_t now_seconds() override { return static_cast<int64_t>(std::time(nullptr)); }
  bool local_time(int64_t seconds, std::tm& out) override {
    const std::time_t t = static_cast<std::time_t>(seconds);
    return ::localtime_r(&t, &out) != nullptr;
  }
  void sleep_ms(uint32_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
  int64_t monotonic_ms() override {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
};

bool Silent(SnmpOutcome outcome) {
  return outcome == SnmpOutcome::kNoAnswer || outcome == SnmpOutcome::kSendFailed ||
         outcome == SnmpOutcome::kReceiveFailed;
}

// "get" and "dump": the engine writes what it fetches to a scratch file, which
// the walk view reads back into the list.
int GetOrWalkView(ViewContext& context, bool walk) {
  std::FILE* scratch = std::tmpfile();
  if (scratch) {
    snmp_walk_to_file(context.target, walk ? asn::kGetNextRequest : asn::kGetRequest,
                      context.settings.walk_oid_text, context.settings.numeric, scratch);
    if (std::fflush(scratch) != 0 || std::ferror(scratch)) context.scratch_failed = true;
    std::rewind(scratch);
  } else {
    context.scratch_failed = true;
  }
  int columns = walk_view(context.model, scratch);
  if (scratch) std::fclose(scratch);
  return columns;
}

}  // namespace

ViewClock& system_view_clock() {
  static SystemClock clock;
  return clock;
}

ViewClock& view_clock(ViewContext& context) { return context.clock ? *context.clock : system_view_clock(); }

std::vector<Oid> oids(std::initializer_list<const char*> texts) {
  std::vector<Oid> out;
  out.reserve(texts.size());
  for (const char* t : texts) out.push_back(oid_from_text(t));
  return out;
}

bool start_view(ViewContext& context, const char* title, std::span<const ViewColumn> columns, size_t row_hint) {
  ReportModel& model = context.model;
  model.set_title(title);
  std::vector<ReportColumn> set;
  set.reserve(columns.size());
  for (const ViewColumn& c : columns) set.push_back({c.header, c.width_percent, c.align});
  model.set_columns(std::move(set));
  model.clear(row_hint);
  return context.target.connected;
}

TableFetchResult view_table(ViewContext& context, std::span<const Oid> columns, size_t row_limit,
                            const TakeRow& take) {
  if (context.host_silent) return {.failed = true};
  TableFetchResult r = table_fetch(context.target, columns, row_limit, take);
  if (r.failed && Silent(context.target.last_outcome)) context.host_silent = true;
  return r;
}

GetResult view_get(ViewContext& context, std::span<const Oid> names,
                   const std::function<void(std::span<const VarBind> values)>& take) {
  if (context.host_silent) return {};
  GetResult r = get_objects(context.target, names, take);
  if (!r.answered && Silent(context.target.last_outcome)) context.host_silent = true;
  return r;
}

std::string view_time_ago(ViewContext& context, int64_t ago_seconds, const char* format) {
  ViewClock& clock = view_clock(context);
  std::tm local{};
  const bool converted = clock.local_time(clock.now_seconds() - ago_seconds, local);
  return local_time_text(converted ? &local : nullptr, format);
}

int show_view(uint32_t command, ViewContext& context) {
  context.scratch_failed = false;
  context.host_silent = false;
  int columns = 0;
  switch (command) {
    case view_id::kSystem: columns = system_view(context); break;
    case view_id::kInterfaces: columns = interfaces_view(context); break;
    case view_id::kRoutes: columns = routes_view(context); break;
    case view_id::kArp: columns = arp_view(context); break;
    case view_id::kTcp: columns = ports_view(context, PortsKind::kTcp); break;
    case view_id::kUdp: columns = ports_view(context, PortsKind::kUdp); break;
    case view_id::kDevices: columns = devices_view(context); break;
    case view_id::kStorage: columns = storage_view(context); break;
    case view_id::kTasks: columns = processes_view(context); break;
    case view_id::kInstalled: columns = installed_view(context); break;
    case view_id::kServices: columns = services_view(context); break;
    case view_id::kUsers: columns = accounts_view(context); break;
    case view_id::kLldp: columns = lldp_view(context); break;
    case view_id::kGet: columns = GetOrWalkView(context, false); break;
    case view_id::kWalk: columns = GetOrWalkView(context, true); break;
    default: break;
  }
  context.model.set_save_column_count(static_cast<size_t>(columns));
  return columns;
}

}  // namespace torvane::netpeek
