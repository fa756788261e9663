// The walk view (commands 40013 "single get" and 40014 "walk"): reads the file that
// snmp_walk_to_file wrote back into the report list, three lines per row.
#pragma once

#include <cstdio>

#include "netpeek/report_model.h"

namespace torvane::netpeek {

inline constexpr size_t kWalkRowHint = 4096;

// Title "working..." while it runs, then the file's first line; columns "OID",
// "Type ID", "Value"; then name, type and value lines become the rows, and a last
// lone line (such as "end of MIB tree") a row of its own. Without a file the
// title is "...failed" and it returns 0; else 3 (its column count).
int walk_view(ReportModel& model, std::FILE* file);

}  // namespace torvane::netpeek
