// The about box: the program's name and version, a legal notice, and a button that
// shows the maker's web address as a link and opens it.
#pragma once

#include <QDialog>
#include <QPushButton>
#include <functional>

class QLabel;
class QUrl;

namespace torvane::netpeek {

inline constexpr char kVersion[] = "2.2.0";
inline constexpr char kMakerAddress[] = "https://www.torvane.example/";
inline constexpr char kLegalNotice[] = "Copyright (C) Torvane. Provided as is, without any warranty.";

using OpenUrl = std::function<void(const QUrl&)>;

// Drawn as a link: blue text with a blue underline until it has been pressed once
// in this process, then in the ordinary text colour.
class LinkButton : public QPushButton {
  Q_OBJECT

 public:
  explicit LinkButton(const QString& text, QWidget* parent = nullptr);
  static bool visited();
  static void forget_visit();  // for tests
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

class AboutDialog : public QDialog {
  Q_OBJECT

 public:
  AboutDialog(QWidget* parent, OpenUrl open_url);

  QLabel* name_label() const { return name_; }
  QLabel* notice_label() const { return notice_; }
  LinkButton* link_button() const { return link_; }

 private:
  QLabel* name_;
  QLabel* notice_;
  LinkButton* link_;
};

}  // namespace torvane::netpeek
