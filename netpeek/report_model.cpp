#include "netpeek/report_model.h"

namespace torvane::netpeek {

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
