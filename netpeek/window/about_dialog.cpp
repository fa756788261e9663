#include "netpeek/window/about_dialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QStyle>
#include <QUrl>
#include <QVBoxLayout>

#include "netpeek/command_line.h"

namespace torvane::netpeek {

namespace {
bool linkVisited = false;  // per process, as a browser remembers a visited link
}  // namespace

LinkButton::LinkButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {
  setCursor(Qt::PointingHandCursor);
  setFlat(true);
}

bool LinkButton::visited() { return linkVisited; }
void LinkButton::forget_visit() { linkVisited = false; }

QSize LinkButton::sizeHint() const {
  const QFontMetrics metrics(font());
  return {metrics.horizontalAdvance(text()) + 16, metrics.height() * 2};
}

void LinkButton::paintEvent(QPaintEvent*) {
  if (isDown()) linkVisited = true;
  QPainter painter(this);
  const QRect r = rect();
  const QFontMetrics metrics(font());
  const int textWidth = metrics.horizontalAdvance(text());
  const int textHeight = metrics.height();
  painter.setPen(linkVisited ? palette().color(QPalette::ButtonText) : QColor(0, 0, 255));
  // The text centred, its top a third of the way down; the underline a quarter of
  // the spare height above the bottom, as wide as the text.
  painter.drawText(QRect(r.left(), r.top() + r.height() / 3, r.width(), textHeight), Qt::AlignHCenter | Qt::AlignTop,
                   text());
  const int e = (r.width() - textWidth) / 2;
  const int d = (r.height() - textHeight) / 4;
  painter.drawLine(r.left() + e, r.bottom() - d, r.right() - e, r.bottom() - d);
  if (hasFocus()) {
    painter.setPen(QPen(palette().color(QPalette::WindowText), 1, Qt::DotLine));
    painter.drawRect(r.adjusted(1, 1, -2, -2));
  }
}

AboutDialog::AboutDialog(QWidget* parent, OpenUrl open_url) : QDialog(parent) {
  setWindowTitle(QString::fromLatin1(kProgramTitle));

  auto* icon = new QLabel(this);
  icon->setPixmap(style()->standardIcon(QStyle::SP_ComputerIcon).pixmap(32, 32));
  name_ = new QLabel(QStringLiteral("%1 %2").arg(QString::fromLatin1(kProgramTitle), QString::fromLatin1(kVersion)),
                     this);
  name_->setTextFormat(Qt::PlainText);
  name_->setAlignment(Qt::AlignCenter);
  notice_ = new QLabel(QString::fromLatin1(kLegalNotice), this);
  notice_->setTextFormat(Qt::PlainText);
  notice_->setAlignment(Qt::AlignCenter);
  link_ = new LinkButton(QString::fromLatin1(kMakerAddress), this);
  link_->setAutoDefault(false);
  // The dialog stays open: the browser comes up beside it.
  connect(link_, &QPushButton::clicked, this, [this, open_url] {
    linkVisited = true;
    link_->update();
    if (open_url) open_url(QUrl(QString::fromLatin1(kMakerAddress)));
  });

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

  auto* top = new QHBoxLayout;
  top->addWidget(icon, 0, Qt::AlignTop);
  auto* texts = new QVBoxLayout;
  texts->addWidget(name_);
  texts->addWidget(notice_);
  texts->addWidget(link_, 0, Qt::AlignHCenter);
  top->addLayout(texts, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(buttons);
}

}  // namespace torvane::netpeek
