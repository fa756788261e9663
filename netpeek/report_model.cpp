#include "netpeek/report_model.h"

#include <algorithm>

namespace torvane::netpeek {

namespace {

unsigned char FoldCase(unsigned char c) { return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c; }

// Whether a sorts before b, ASCII letters compared without regard to case and
// every other byte by its value.
bool BeforeNoCase(std::string_view a, std::string_view b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return FoldCase(static_cast<unsigned char>(x)) < FoldCase(static_cast<unsigned char>(y));
  });
}

}  // namespace

void ReportModel::set_counted_title(std::string_view title, size_t rows) {
  title_ = std::string(title) + ": " + std::to_string(static_cast<uint32_t>(rows));
}

void ReportModel::set_align(size_t column, ColumnAlign align) {
  if (column < columns_.size()) columns_[column].align = align;
}

void ReportModel::clear(size_t hint) {
  rows_.clear();
  rows_.reserve(hint);
}

size_t ReportModel::add_row(std::string first_cell) {
  rows_.emplace_back();
  rows_.back().push_back(std::move(first_cell));
  return rows_.size() - 1;
}

size_t ReportModel::insert_row_sorted(std::string first_cell) {
  auto at = std::upper_bound(rows_.begin(), rows_.end(), first_cell,
                             [](const std::string& text, const std::vector<std::string>& row) {
                               return BeforeNoCase(text, row.empty() ? std::string_view() : std::string_view(row[0]));
                             });
  auto row = rows_.insert(at, std::vector<std::string>{});
  row->push_back(std::move(first_cell));
  return static_cast<size_t>(row - rows_.begin());
}

void ReportModel::set_cell(size_t row, size_t column, std::string text) {
  if (row >= rows_.size()) return;
  auto& cells = rows_[row];
  if (cells.size() <= column) cells.resize(column + 1);
  cells[column] = std::move(text);
}

std::string_view ReportModel::cell(size_t row, size_t column) const {
  if (row >= rows_.size() || column >= rows_[row].size()) return {};
  return rows_[row][column];
}

}  // namespace torvane::netpeek
