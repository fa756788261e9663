// The viewer's report list without any toolkit: a title, columns (header, width in
// percent of the list, alignment) and rows of texts. Views fill it; the window
// shows it and batch mode saves it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace torvane::netpeek {

enum class ColumnAlign : uint8_t { kLeft, kRight };

struct ReportColumn {
  std::string header;
  int width_percent = 0;
  ColumnAlign align = ColumnAlign::kLeft;
};

class ReportModel {
 public:
  void set_title(std::string_view title) { title_ = title; }
  // "%s: %u" of the title and a number of rows (the counted views).
  void set_counted_title(std::string_view title, size_t rows);
  const std::string& title() const { return title_; }

  // Replaces the column set; rows keep their cells.
  void set_columns(std::vector<ReportColumn> columns) { columns_ = std::move(columns); }
  void set_align(size_t column, ColumnAlign align);
  const std::vector<ReportColumn>& columns() const { return columns_; }

  // Drops every row; hint is the number of rows expected.
  void clear(size_t hint);
  // A new row with its first cell; returns its index.
  size_t add_row(std::string first_cell);
  // A new row placed by its first cell in ASCII order without regard to case,
  // after the rows whose first cell compares equal (the sorted views: the window
  // and the saved file show the same order); returns its index. Rows after it
  // move down by one.
  size_t insert_row_sorted(std::string first_cell);
  // Sets a cell of an existing row (the row grows to hold it); ignores a row that
  // does not exist.
  void set_cell(size_t row, size_t column, std::string text);
  size_t row_count() const { return rows_.size(); }
  // A cell's text, "" when the row or the cell does not exist.
  std::string_view cell(size_t row, size_t column) const;

  // The number of columns the last view reported; saving writes that many cells
  // per row.
  void set_save_column_count(size_t count) { save_column_count_ = count; }
  size_t save_column_count() const { return save_column_count_; }

 private:
  std::string title_;
  std::vector<ReportColumn> columns_;
  std::vector<std::vector<std::string>> rows_;
  size_t save_column_count_ = 0;
};

}  // namespace torvane::netpeek
