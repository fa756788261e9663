#include "netpeek/walk_view.h"

#include <stdio.h>

#include <cstdlib>
#include <string>

namespace torvane::netpeek {

namespace {

// One line without its newline; false at the end of the file. Lines are read
// whole, however long, so that an overlong value cannot shift the rows after it.
bool ReadLine(std::FILE* file, std::string& line) {
  char* buffer = nullptr;
  size_t capacity = 0;
  ssize_t n = ::getline(&buffer, &capacity, file);
  if (n < 0) {
    std::free(buffer);
    return false;
  }
  size_t length = static_cast<size_t>(n);
  if (length > 0 && buffer[length - 1] == '\n') --length;
  line.assign(buffer, length);
  std::free(buffer);
  return true;
}

}  // namespace

int walk_view(ReportModel& model, std::FILE* file) {
  model.set_title("working...");
  model.set_columns({{"OID", 40, ColumnAlign::kLeft},
                     {"Type ID", 20, ColumnAlign::kLeft},
                     {"Value", 40, ColumnAlign::kLeft}});
  model.clear(kWalkRowHint);
  if (!file) {
    model.set_title("...failed");
    return 0;
  }
  std::string line;
  if (ReadLine(file, line)) model.set_title(line);
  while (ReadLine(file, line)) {
    size_t row = model.add_row(line);
    for (size_t column = 1; column < 3; ++column) {
      if (!ReadLine(file, line)) return 3;
      model.set_cell(row, column, line);
    }
  }
  return 3;
}

}  // namespace torvane::netpeek
