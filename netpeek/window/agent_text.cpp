#include "netpeek/window/agent_text.h"

#include <QStringDecoder>

namespace torvane::netpeek {

QString agent_text(std::string_view bytes) {
  const QByteArrayView view(bytes.data(), static_cast<qsizetype>(bytes.size()));
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString text = utf8.decode(view);
  if (!utf8.hasError()) return text;
  return QString::fromLatin1(view);
}

std::string typed_bytes(const QString& typed, std::string_view shown_from) {
  if (typed == agent_text(shown_from)) return std::string(shown_from);
  return typed.toStdString();
}

}  // namespace torvane::netpeek
