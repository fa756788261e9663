// Time and waiting, injected so that the worker's 10-second passes and its
// start-up and stop delays run in microseconds under test.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace torvane {

// An auto-reset event: Set wakes one waiter (or the next one to wait).
class WakeEvent {
 public:
  void Set() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      signalled_ = true;
    }
    cv_.notify_one();
  }
  // True when the event was signalled within `timeout`; the signal is consumed.
  bool Wait(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    bool got = cv_.wait_for(lock, timeout, [&] { return signalled_; });
    signalled_ = false;
    return got;
  }
  // Consumes a pending signal without waiting.
  bool TryTake() {
    std::lock_guard<std::mutex> lock(mutex_);
    bool got = signalled_;
    signalled_ = false;
    return got;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool signalled_ = false;
};

class Clock {
 public:
  virtual ~Clock() = default;
  virtual uint32_t Now() = 0;  // seconds since 1970-01-01 UTC
  virtual void Sleep(std::chrono::milliseconds d) = 0;
  // Waits on the event for at most d; true when it was signalled.
  virtual bool Wait(WakeEvent& event, std::chrono::milliseconds d) = 0;
};

class SystemClock : public Clock {
 public:
  uint32_t Now() override;
  void Sleep(std::chrono::milliseconds d) override;
  bool Wait(WakeEvent& event, std::chrono::milliseconds d) override { return event.Wait(d); }
};

}  // namespace torvane
