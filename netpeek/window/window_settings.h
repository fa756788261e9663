// What the viewer remembers per user between runs: the host history, the grid
// flag and the window's place and size, under QSettings("Torvane", "netpeek").
// Every value is text; numbers are decimal, and a number written with its default
// value is deleted instead, so that an untouched setting leaves no trace.
#pragma once

#include <QSettings>
#include <QString>
#include <QStringList>
#include <climits>
#include <cstdint>
#include <optional>

namespace torvane::netpeek {

inline constexpr char kSettingsOrganization[] = "Torvane";
inline constexpr char kSettingsApplication[] = "netpeek";

inline constexpr int kHistorySlots = 10;
inline constexpr int kHostTextMax = 254;
// A position never written reads as this, which start_coordinate turns into 0.
inline constexpr int kPositionUnset = INT_MIN;
inline constexpr int kDefaultWidth = 700;
inline constexpr int kDefaultHeight = 220;

// Where the window opens along one axis: the remembered coordinate, unless that
// coordinate plus 5, taken as unsigned, is not below the screen's extent; then 0.
// The unset value and clearly negative ones thus give 0, while the few pixels a
// maximised frame sits off the screen's edge are kept.
int start_coordinate(int remembered, int screen_extent);

// Reads "%d" as sscanf does: blanks, an optional sign, at least one digit; the
// value saturates at the int range. Empty when there is no number.
std::optional<int> parse_decimal(const QString& text);

// The ten host slots: filled from the first, stopping at the first empty one.
class HostHistory {
 public:
  explicit HostHistory(QStringList hosts = {});
  // The slot a newly connected host goes into: -1 when a slot already holds it
  // (letter case aside) or every slot is taken; otherwise the host is stored.
  int add(const QString& host);
  const QStringList& hosts() const { return hosts_; }

 private:
  QStringList hosts_;
};

class WindowSettings {
 public:
  WindowSettings();

  // The value as text, or fallback when it is missing.
  QString read_text(const QString& name, const QString& fallback) const;
  // Stores text; without text, deletes the value.
  void write_text(const QString& name, const std::optional<QString>& text);
  // The value read as a decimal number; fallback when missing or not a number.
  int read_int(const QString& name, int fallback) const;
  // Stores the number as decimal text, or deletes it when it equals fallback.
  void write_int(const QString& name, int value, int fallback);

  // "Host0" to "Host9" in order, up to the first missing or empty one.
  QStringList load_history() const;
  void write_history_slot(int slot, const QString& host);

  void sync() { settings_.sync(); }

 private:
  QSettings settings_;
};

}  // namespace torvane::netpeek
