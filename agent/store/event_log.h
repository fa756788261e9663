// The event log: one line per neighbour event (start, first heard by LLDP or CDP,
// removed) appended to a file whose name changes every month. The file is opened
// and closed for every line, so a new month starts a new file and another program
// may move the file away between lines.
#pragma once

#include <cstdint>
#include <ctime>
#include <mutex>
#include <string>
#include <string_view>

#include "agent/state/settings_store.h"
#include "records/neighbor.h"
#include "platform/clock.h"
#include "platform/system_facts.h"

namespace torvane {

enum LogKind : int { kLogExpired = 0, kLogLldp = 1, kLogCdp = 2 };

// The longest file name the log name pattern may expand to.
constexpr size_t kMaxLogNameLength = 31;

// Directory (taken as it stands; on Linux it ends with '/') followed by the
// pattern expanded for `local`. Empty when the pattern expands to nothing or to
// more than 31 characters: no usable file name, so the line is lost.
std::string LogFileName(std::string_view directory, std::string_view logName,
                        const std::tm& local);

// One whole line, line end included; record null gives the start line. Text
// values from the neighbour have their control characters replaced.
std::string FormatLogLine(SystemFacts& facts, time_t now, const Neighbor* record, int kind);

class EventLog {
 public:
  // logLock serialises the file and every console trace line of the agent.
  EventLog(const SettingsStore& settings, SystemFacts& facts, Clock& clock, std::mutex& logLock)
      : settings_(settings), facts_(facts), clock_(clock), logLock_(logLock) {}

  // record null: the start line; otherwise kind kLogExpired, kLogLldp or kLogCdp.
  // Takes logLock; may be called with tableLock held. Failures lose the line
  // silently.
  void LogEvent(const Neighbor* record, int kind);

  std::mutex& logLock() { return logLock_; }

 private:
  const SettingsStore& settings_;
  SystemFacts& facts_;
  Clock& clock_;
  std::mutex& logLock_;
};

}  // namespace torvane
