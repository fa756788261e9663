// The views: each fills the report model with one picture of the agent (its
// system data, devices, storage, processes, software, services, accounts,
// interfaces, routes, ARP table, TCP and UDP end points, LLDP neighbours, or a
// get or walk) and reports how many columns to save. The window and batch mode
// both call show_view; the views reach the agent only through the request engine
// and touch nothing but the model, so they run without any toolkit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "netpeek/command_line.h"
#include "netpeek/name_lookup.h"
#include "netpeek/report_model.h"
#include "netpeek/snmp_engine.h"
#include "netpeek/table_fetch.h"

namespace torvane::netpeek {

// Time for the views: the clock that dates uptimes and changes, its conversion to
// local time, and the short pause of the System Information view.
class ViewClock {
 public:
  virtual ~ViewClock();
  // Seconds since 1970-01-01 UTC.
  virtual int64_t now_seconds() = 0;
  // Local time of seconds since 1970; false when it cannot be converted.
  virtual bool local_time(int64_t seconds, std::tm& out) = 0;
  virtual void sleep_ms(uint32_t ms) = 0;
  // A monotonic clock in milliseconds.
  virtual int64_t monotonic_ms() = 0;
};
// time(), localtime_r, a real sleep and the steady clock.
ViewClock& system_view_clock();

struct ViewContext {
  SnmpTarget& target;
  const ViewerSettings& settings;  // numeric display, the walk's identifier text
  ReportModel& model;
  NameLookups* lookups;  // null: addresses stay as they are
  uint64_t generation;   // the fill that name lookups are asked for
  ViewClock* clock = nullptr;  // null: the system's
  // Set by the walk views when their scratch file could not be written.
  bool scratch_failed = false;
  // Set once an exchange of the view got no answer: the view's later reads are
  // not tried, each would wait out the same time-outs again.
  bool host_silent = false;
};

// Fills the model with the view of a command identifier (40001 to 40014, 40018)
// and returns its column count, also stored as the model's save column count (0
// when nothing was shown: not connected, a walk without its scratch file, an
// unknown command).
int show_view(uint32_t command, ViewContext& context);

// ---- for the views themselves ----

struct ViewColumn {
  const char* header;
  int width_percent;
  ColumnAlign align = ColumnAlign::kLeft;
};

// The common start of a view: title, columns, the model emptied with the row
// hint as its reserve. Returns whether the target is connected (else the view
// shows only its headers and returns 0).
bool start_view(ViewContext& context, const char* title, std::span<const ViewColumn> columns, size_t row_hint);

// The engine's reads, skipped once the host was found silent in this view.
TableFetchResult view_table(ViewContext& context, std::span<const Oid> columns, size_t row_limit,
                            const TakeRow& take);
GetResult view_get(ViewContext& context, std::span<const Oid> names,
                   const std::function<void(std::span<const VarBind> values)>& take);

// A local time text of now - ago_seconds; "" when it cannot be converted.
std::string view_time_ago(ViewContext& context, int64_t ago_seconds, const char* format);

ViewClock& view_clock(ViewContext& context);

// Identifiers from dotted text, for the tables of the views.
std::vector<Oid> oids(std::initializer_list<const char*> texts);

}  // namespace torvane::netpeek
