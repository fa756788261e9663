// The agent's console trace ("-debug" mode): whole lines written under the log
// lock, which also serialises the event log file, and only while tracing is on.
// The worker, link access and frame dispatch all write through it.
#pragma once

#include <atomic>
#include <mutex>
#include <string_view>

#include "platform/console.h"

namespace torvane {

class ConsoleTrace {
 public:
  ConsoleTrace(Console& console, std::mutex& logLock, const std::atomic<int>& debugLevel)
      : console_(console), logLock_(logLock), debugLevel_(debugLevel) {}

  bool Enabled() const { return debugLevel_.load(std::memory_order_relaxed) != 0; }
  // Writes the text when tracing is on.
  void Write(std::string_view text) {
    if (Enabled()) WriteAlways(text);
  }
  // Writes the text whatever the level (the caller has asked Enabled()).
  void WriteAlways(std::string_view text) {
    std::lock_guard<std::mutex> lock(logLock_);
    console_.Write(text);
  }

 private:
  Console& console_;
  std::mutex& logLock_;
  const std::atomic<int>& debugLevel_;
};

}  // namespace torvane
