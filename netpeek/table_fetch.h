// Reading MIB tables and groups of scalars for the views: one GetNext per row
// carrying every column the view shows, and one Get for a group of scalars.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "netpeek/snmp_engine.h"

namespace torvane::netpeek {

// Fetched rows beyond this number end any table, whatever the view's own limit:
// an agent that keeps inventing rows cannot keep the viewer asking for ever.
inline constexpr size_t kTableFetchMaxRows = 65536;
// No limit of the view's own.
inline constexpr size_t kNoRowLimit = kTableFetchMaxRows;

// One row as fetched: the first column's object and, per column, the binding
// that belongs to this row, or null where the agent has no object of that column
// with the first column's index (a sparse table).
struct TableRow {
  const Oid& first_name;
  std::span<const uint32_t> index;  // first_name after the first column's identifier
  std::span<const VarBind* const> cells;
  const VarBind* cell(size_t column) const { return column < cells.size() ? cells[column] : nullptr; }
};

// Called for each row in order; returns whether the row counts towards the row
// limit (the Devices view drops network devices without counting them).
using TakeRow = std::function<bool(const TableRow& row)>;

struct TableFetchResult {
  size_t rows = 0;          // rows that counted
  size_t fetched = 0;       // rows handed to take
  size_t requests = 0;      // exchanges that were answered
  bool failed = false;      // an exchange got no answer (status text and last_outcome tell why)
  int32_t error_status = 0; // the error status that ended the table, if one did
};

// Walks the table whose columns are given, first column first, until the first
// column leaves its identifier, an exchange fails or the agent answers with an
// error, or `row_limit` rows counted.
//
// Each request asks every column for the object after the previous row's index
// (the first request after the column identifiers themselves). Where the table
// is dense each answer is the next row, column by column. Where a column has no
// object for a row, the agent answers with a later row of that column (or an
// object of another column or table): that binding is not this row's, the cell
// stays empty and the next request asks that column again from this row's index,
// so that the column falls back in step. A column that the agent finds nothing
// after (noSuchName pointing at it) is empty from then on and no longer asked.
TableFetchResult table_fetch(SnmpTarget& target, std::span<const Oid> columns, size_t row_limit,
                             const TakeRow& take);

struct GetResult {
  bool answered = false;     // an answer came (failed == !answered)
  int32_t error_status = 0;  // of the last answer
  size_t values = 0;         // objects the agent has
};

// A GetRequest of the names. SNMPv1 fails a whole request for one object that
// the agent does not have (noSuchName, naming it): that object is left out and
// the rest asked again, so that an agent without, say, sysServices still shows
// the rest of the system group. take sees one binding per name, in the order
// asked, those the agent does not have with type NULL; it is called only when an
// answer with error status 0 carries at least one value.
GetResult get_objects(SnmpTarget& target, std::span<const Oid> names,
                      const std::function<void(std::span<const VarBind> values)>& take);

// Reading a binding that may be absent: its number (0 when absent or not a
// number) and its octets as text of at most max_chars characters ("" when absent
// or not an octet value).
uint32_t number_of(const VarBind* binding);
std::string text_of(const VarBind* binding, size_t max_chars);

}  // namespace torvane::netpeek
