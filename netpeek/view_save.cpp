#include "netpeek/view_save.h"

#include <cerrno>
#include <cstdio>

namespace torvane::netpeek {

namespace {
constexpr size_t kTitleMax = 63;
constexpr size_t kNameMax = 259;
}  // namespace

std::string proposed_file_name(std::string_view host, std::string_view title) {
  std::string name(host);
  name += " - ";
  name += title.substr(0, kTitleMax);
  if (name.size() > kNameMax) name.resize(kNameMax);
  return name;
}

std::string saved_cell_text(std::string_view cell) {
  std::string out(cell);
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  return out;
}

SaveResult save_view_to_path(const ReportModel& model, const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "w");
  if (!f) return {SaveStatus::kCannotOpen, errno};
  const size_t columns = model.save_column_count();
  std::string line;
  for (size_t row = 0; row < model.row_count(); ++row) {
    line.clear();
    for (size_t column = 0; column < columns; ++column) {
      if (column) line += '\t';
      line += saved_cell_text(model.cell(row, column));
    }
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), f);
  }
  int error = std::ferror(f) ? errno : 0;
  bool failed = std::ferror(f) != 0;
  if (std::fclose(f) != 0) {
    if (!failed) error = errno;
    failed = true;
  }
  if (failed) return {SaveStatus::kWriteFailed, error ? error : EIO};
  return {SaveStatus::kSaved, 0};
}

}  // namespace torvane::netpeek
