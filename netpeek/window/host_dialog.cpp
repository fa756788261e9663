#include "netpeek/window/host_dialog.h"

#include <QComboBox>
#include <QCompleter>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>

#include "netpeek/ber_codec.h"
#include "netpeek/window/host_options.h"
#include "netpeek/window/window_settings.h"

namespace torvane::netpeek {

HostDialog::HostDialog(QWidget* parent, const QStringList& history, const QString& host, const QString& community)
    : QDialog(parent) {
  setWindowTitle(QStringLiteral("Select Host"));

  host_ = new QComboBox(this);
  host_->setEditable(true);
  host_->setInsertPolicy(QComboBox::NoInsert);
  host_->lineEdit()->setMaxLength(kHostTextMax);
  // The list is sorted without regard to case, as a person reads it; completion
  // keeps the case that was typed, so that a typed name reaches the agent as typed.
  QStringList sorted = history;
  std::sort(sorted.begin(), sorted.end(),
            [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
  host_->addItems(sorted);
  host_->completer()->setCaseSensitivity(Qt::CaseSensitive);
  host_->setEditText(host);
  // The name comes up selected, so that typing replaces it.
  host_->lineEdit()->selectAll();
  host_->setFocus();

  community_ = new QLineEdit(community, this);
  community_->setMaxLength(static_cast<int>(kCommunityMax));
  options_ = new QLineEdit(this);
  options_->setMaxLength(static_cast<int>(kHostOptionsMax));
  options_->setPlaceholderText(QStringLiteral("numeric, get [OID], dump [lldp|OID]"));

  auto* form = new QFormLayout;
  auto addRow = [form, this](const char* label, QWidget* field) {
    auto* text = new QLabel(QString::fromLatin1(label), this);
    text->setBuddy(field);
    form->addRow(text, field);
  };
  addRow("&Name:", host_);
  addRow("&Community:", community_);
  addRow("O&ptions:", options_);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(buttons);
  setMinimumWidth(360);
}

QString HostDialog::host() const { return host_->currentText(); }
QString HostDialog::community() const { return community_->text(); }
QString HostDialog::options() const { return options_->text(); }

}  // namespace torvane::netpeek
