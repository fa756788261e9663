#include "netpeek/window/report_table.h"

#include "netpeek/window/agent_text.h"

namespace torvane::netpeek {

namespace {

QVariant Alignment(ColumnAlign align) {
  const Qt::Alignment flags =
      (align == ColumnAlign::kRight ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter;
  return QVariant::fromValue(flags);
}

}  // namespace

ReportTable::ReportTable(const ReportModel& report, QObject* parent) : QAbstractTableModel(parent), report_(report) {}

int ReportTable::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(report_.row_count());
}

int ReportTable::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(report_.columns().size());
}

QVariant ReportTable::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  const size_t row = static_cast<size_t>(index.row());
  const size_t column = static_cast<size_t>(index.column());
  if (row >= report_.row_count() || column >= report_.columns().size()) return {};
  // No tool tips: Qt shows a tool tip as markup when it looks like markup, and
  // agents' texts must stay plain.
  switch (role) {
    case Qt::DisplayRole:
      return agent_text(report_.cell(row, column));
    case Qt::TextAlignmentRole:
      return Alignment(report_.columns()[column].align);
    default:
      return {};
  }
}

QVariant ReportTable::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || static_cast<size_t>(section) >= report_.columns().size())
    return {};
  const ReportColumn& column = report_.columns()[static_cast<size_t>(section)];
  if (role == Qt::DisplayRole) return agent_text(column.header);
  if (role == Qt::TextAlignmentRole) return Alignment(column.align);
  return {};
}

void ReportTable::begin_fill() { beginResetModel(); }

void ReportTable::end_fill() { endResetModel(); }

void ReportTable::cells_changed() {
  if (report_.row_count() == 0 || report_.columns().empty()) return;
  emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1), {Qt::DisplayRole});
}

}  // namespace torvane::netpeek
