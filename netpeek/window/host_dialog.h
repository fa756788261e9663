// "Select Host": the agent's name (with the history to pick from), its community
// and the options field. The dialog only collects the texts; the window applies
// them.
#pragma once

#include <QDialog>
#include <QStringList>

class QComboBox;
class QLineEdit;

namespace torvane::netpeek {

class HostDialog : public QDialog {
  Q_OBJECT

 public:
  HostDialog(QWidget* parent, const QStringList& history, const QString& host, const QString& community);

  QString host() const;
  QString community() const;
  QString options() const;

  QComboBox* host_box() const { return host_; }
  QLineEdit* community_edit() const { return community_; }
  QLineEdit* options_edit() const { return options_; }

 private:
  QComboBox* host_;
  QLineEdit* community_;
  QLineEdit* options_;
};

}  // namespace torvane::netpeek
