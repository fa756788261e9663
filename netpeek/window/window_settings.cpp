#include "netpeek/window/window_settings.h"

#include <cstdint>

namespace torvane::netpeek {

int start_coordinate(int remembered, int screen_extent) {
  const uint32_t shifted = static_cast<uint32_t>(remembered) + 5u;
  if (screen_extent <= 0 || shifted >= static_cast<uint32_t>(screen_extent)) return 0;
  return remembered;
}

std::optional<int> parse_decimal(const QString& text) {
  qsizetype i = 0;
  const qsizetype n = text.size();
  while (i < n && text[i].isSpace()) ++i;
  bool negative = false;
  if (i < n && (text[i] == u'+' || text[i] == u'-')) {
    negative = text[i] == u'-';
    ++i;
  }
  if (i >= n || text[i] < u'0' || text[i] > u'9') return std::nullopt;
  int64_t value = 0;
  for (; i < n && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    value = value * 10 + (text[i].unicode() - u'0');
    if (value > int64_t{INT_MAX} + 1) value = int64_t{INT_MAX} + 1;
  }
  if (negative) value = -value;
  if (value > INT_MAX) value = INT_MAX;
  return static_cast<int>(value);
}

HostHistory::HostHistory(QStringList hosts) : hosts_(std::move(hosts)) {
  while (hosts_.size() > kHistorySlots) hosts_.removeLast();
}

int HostHistory::add(const QString& host) {
  for (const QString& known : hosts_)
    if (known.compare(host, Qt::CaseInsensitive) == 0) return -1;
  if (hosts_.size() >= kHistorySlots) return -1;
  hosts_.append(host);
  return static_cast<int>(hosts_.size() - 1);
}

WindowSettings::WindowSettings() : settings_(kSettingsOrganization, kSettingsApplication) {}

QString WindowSettings::read_text(const QString& name, const QString& fallback) const {
  const QVariant value = settings_.value(name);
  if (!value.isValid()) return fallback;
  return value.toString();
}

void WindowSettings::write_text(const QString& name, const std::optional<QString>& text) {
  if (text)
    settings_.setValue(name, *text);
  else
    settings_.remove(name);
}

int WindowSettings::read_int(const QString& name, int fallback) const {
  return parse_decimal(read_text(name, QString())).value_or(fallback);
}

void WindowSettings::write_int(const QString& name, int value, int fallback) {
  if (value == fallback)
    write_text(name, std::nullopt);
  else
    write_text(name, QString::number(value));
}

QStringList WindowSettings::load_history() const {
  QStringList hosts;
  for (int slot = 0; slot < kHistorySlots; ++slot) {
    QString host = read_text(QStringLiteral("Host%1").arg(slot), QString()).left(kHostTextMax);
    if (host.isEmpty()) break;
    hosts.append(host);
  }
  return hosts;
}

void WindowSettings::write_history_slot(int slot, const QString& host) {
  write_text(QStringLiteral("Host%1").arg(slot), host);
}

}  // namespace torvane::netpeek
