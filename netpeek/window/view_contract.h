// What the window hands a view: the agent, the viewer's flags, the report to fill,
// the name lookups of this fill and its generation. show_view fills the report
// with the view of a command and returns its column count (what saving writes).
//
// The views themselves are being built on their own branch; until they arrive,
// this header declares their entry with the same shape, and interim_views.cpp
// serves the single get and the walk from what the core already has.
#pragma once

#include <cstdint>

#include "netpeek/command_line.h"
#include "netpeek/report_model.h"
#include "netpeek/snmp_engine.h"

namespace torvane::netpeek {

class NameLookups {
 public:
  virtual ~NameLookups() = default;
};

struct ViewContext {
  SnmpTarget& target;
  const ViewerSettings& settings;
  ReportModel& model;
  NameLookups* lookups;
  uint64_t generation;
};

int show_view(uint32_t command, ViewContext& context);

}  // namespace torvane::netpeek
