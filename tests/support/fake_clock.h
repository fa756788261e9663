// A clock for worker tests: time moves only when the code under test sleeps or
// waits, so a run of many 10-second passes takes milliseconds. Hooks let a test
// act at a given pass (request a stop, change an adapter, fake a received frame).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>

#include "platform/clock.h"

namespace torvane {

class FakeClock : public Clock {
 public:
  explicit FakeClock(uint32_t startSeconds = 1'700'000'000u) : startSeconds_(startSeconds) {}

  uint32_t Now() override;
  // Advances the time by d; calls onSleep first.
  void Sleep(std::chrono::milliseconds d) override;
  // Calls onWait with the number of this wait (1 for the first), advances the time
  // by d and returns whether the event was signalled (consuming the signal). With
  // realWait above zero it also blocks on the event for up to that long, so that
  // a worker on another thread does not spin.
  bool Wait(WakeEvent& event, std::chrono::milliseconds d) override;

  void Advance(std::chrono::milliseconds d) { elapsedMs_ += static_cast<uint64_t>(d.count()); }
  uint64_t ElapsedMs() const { return elapsedMs_; }
  // Waits begun so far; while the worker runs pass n, this is n - 1.
  uint32_t Waits() const { return waits_; }
  uint32_t Sleeps() const { return sleeps_; }
  uint32_t SignalledWaits() const { return signalled_; }

  // Hooks run on the thread that sleeps or waits. A hook that itself sleeps (for
  // instance through RequestStop) does not run the hooks again.
  std::function<void(uint32_t waitNumber)> onWait;
  std::function<void(std::chrono::milliseconds)> onSleep;
  std::chrono::milliseconds realWait{0};

 private:
  const uint32_t startSeconds_;
  std::atomic<uint64_t> elapsedMs_{0};
  std::atomic<uint32_t> waits_{0};
  std::atomic<uint32_t> sleeps_{0};
  std::atomic<uint32_t> signalled_{0};
  static thread_local bool inHook_;
};

}  // namespace torvane
