// The report list's Qt model over the toolkit-neutral ReportModel that the views
// fill: one row per report row, the view's columns with their headers and
// alignment, every cell as agent text.
#pragma once

#include <QAbstractTableModel>

#include "netpeek/report_model.h"

namespace torvane::netpeek {

class ReportTable : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit ReportTable(const ReportModel& report, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

  // A view is about to refill the report, and has refilled it. Nothing may read the
  // table in between: the report's rows change under it.
  void begin_fill();
  void end_fill();
  // Cells of the shown report changed (name lookups arriving).
  void cells_changed();

 private:
  const ReportModel& report_;
};

}  // namespace torvane::netpeek
