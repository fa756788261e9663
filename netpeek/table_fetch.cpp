#include "netpeek/table_fetch.h"

#include <algorithm>

#include "netpeek/snmp_text.h"

namespace torvane::netpeek {

namespace {

constexpr int32_t kNoSuchName = 2;

// Whether name is column followed by exactly index.
bool IsColumnAt(const Oid& name, const Oid& column, std::span<const uint32_t> index) {
  return name.count() == column.count() + index.size() && oid_starts_with(name, column) &&
         std::equal(index.begin(), index.end(), name.subids.begin() + static_cast<std::ptrdiff_t>(column.count()));
}

// The bindings of a request: each name still asked, followed by suffix; whichOf
// tells the position in names of each binding.
void Ask(std::span<const Oid> names, const std::vector<bool>& asking, std::span<const uint32_t> suffix,
         std::vector<VarBind>& ask, std::vector<size_t>& whichOf) {
  ask.clear();
  whichOf.clear();
  for (size_t i = 0; i < names.size(); ++i) {
    if (!asking[i]) continue;
    VarBind b;
    b.name = names[i];
    b.name.subids.insert(b.name.subids.end(), suffix.begin(), suffix.end());
    ask.push_back(std::move(b));
    whichOf.push_back(i);
  }
}

}  // namespace

TableFetchResult table_fetch(SnmpTarget& target, std::span<const Oid> columns, size_t row_limit,
                             const TakeRow& take) {
  TableFetchResult result;
  if (columns.empty()) return result;
  const size_t n = columns.size();
  std::vector<bool> asking(n, true);
  std::vector<uint32_t> index;  // the last row's index; empty before the first row
  std::vector<VarBind> ask;
  std::vector<size_t> columnOf;  // the column of each binding asked
  std::vector<const VarBind*> cells(n);

  while (result.rows < row_limit && result.fetched < kTableFetchMaxRows) {
    Ask(columns, asking, index, ask, columnOf);
    std::span<VarBind> answer(ask);
    int32_t errorStatus = 0, errorIndex = 0;
    if (!snmp_request(target, asn::kGetNextRequest, answer, errorStatus, errorIndex)) {
      result.failed = true;
      break;
    }
    ++result.requests;
    if (errorStatus != 0) {
      // SNMPv1 has no end-of-view value: when one column has nothing after it the
      // whole request fails, naming that column. A later column is dropped and the
      // row asked again without it; the first column ends the table.
      if (errorStatus == kNoSuchName && errorIndex >= 2 && static_cast<size_t>(errorIndex) <= columnOf.size()) {
        asking[columnOf[static_cast<size_t>(errorIndex) - 1]] = false;
        continue;
      }
      result.error_status = errorStatus;
      break;
    }
    const Oid& first = answer[0].name;
    // Past the table, or an agent that does not move forward (which would keep
    // the table going for ever).
    if (!oid_starts_with(first, columns[0]) || oid_compare(first, ask[0].name) <= 0) break;
    std::span<const uint32_t> rowIndex(first.subids.data() + columns[0].count(), first.count() - columns[0].count());

    std::fill(cells.begin(), cells.end(), nullptr);
    for (size_t p = 0; p < columnOf.size(); ++p) {
      const size_t c = columnOf[p];
      if (IsColumnAt(answer[p].name, columns[c], rowIndex)) cells[c] = &answer[p];
    }
    ++result.fetched;
    if (take(TableRow{first, rowIndex, cells})) ++result.rows;
    index.assign(rowIndex.begin(), rowIndex.end());
  }
  return result;
}

GetResult get_objects(SnmpTarget& target, std::span<const Oid> names,
                      const std::function<void(std::span<const VarBind> values)>& take) {
  GetResult result;
  std::vector<bool> asking(names.size(), true);
  std::vector<VarBind> ask;
  std::vector<size_t> nameOf;  // the name of each binding asked
  // Each pass leaves one more name out: at most one pass per name.
  for (size_t pass = 0; pass < names.size(); ++pass) {
    Ask(names, asking, {}, ask, nameOf);
    std::span<VarBind> answer(ask);
    int32_t errorStatus = 0, errorIndex = 0;
    if (!snmp_request(target, asn::kGetRequest, answer, errorStatus, errorIndex)) {
      result.answered = false;
      return result;
    }
    result.answered = true;
    result.error_status = errorStatus;
    if (errorStatus == kNoSuchName && errorIndex >= 1 && static_cast<size_t>(errorIndex) <= nameOf.size()) {
      asking[nameOf[static_cast<size_t>(errorIndex) - 1]] = false;
      if (nameOf.size() > 1) continue;
      return result;  // the last one asked is missing too
    }
    if (errorStatus != 0) return result;
    std::vector<VarBind> values(names.size());
    for (size_t i = 0; i < names.size(); ++i) values[i].name = names[i];
    for (size_t p = 0; p < nameOf.size(); ++p) values[nameOf[p]] = std::move(answer[p]);
    result.values = nameOf.size();
    take(values);
    return result;
  }
  return result;
}

uint32_t number_of(const VarBind* binding) {
  uint32_t value = 0;
  if (binding) value_as_number(*binding, value, 0);
  return value;
}

std::string text_of(const VarBind* binding, size_t max_chars) {
  if (!binding) return {};
  std::string text = value_as_string(*binding, max_chars + 1);
  // Shown as the C string it would be: up to its first zero byte.
  text.resize(std::min(text.size(), text.find('\0')));
  return text;
}

}  // namespace torvane::netpeek
