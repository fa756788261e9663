// The agent's settings as its threads share them: the record that the pipe
// carries, and the few settings kept beside it that never leave the process.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "records/agent_settings.h"

namespace torvane {

// Settings kept outside the record (the pipe does not carry them).
struct OutsideSettings {
  uint32_t BugFilter = 1;
  uint32_t nameFormat = 0;
  char LogName[32] = {};
  char osVersionText[32] = {};   // CDP platform text, "Linux %u.%u" here
  char moduleDirectory[260] = {};
  uint32_t MaxNeighbors = 1024;  // per port; a new sender on a full port is dropped
};

// The settings block shared by the worker, the receive threads and the pipe.
// Readers take a consistent copy; writers go through Update. The lock is
// innermost: nothing else is locked while it is held. The remote-table counters
// live with the neighbour table, not here: Get() returns them as zero.
class SettingsStore {
 public:
  AgentSettings Get() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return settings_;
  }
  OutsideSettings GetOutside() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return outside_;
  }
  template <class F>
  void Update(F&& change) {
    std::lock_guard<std::mutex> lock(mutex_);
    change(settings_, outside_);
  }
  std::atomic<bool> chassisIdPending{false};

 private:
  mutable std::mutex mutex_;
  AgentSettings settings_{};
  OutsideSettings outside_{};
};

}  // namespace torvane
