#include "tests/support/fake_clock.h"

namespace torvane {

thread_local bool FakeClock::inHook_ = false;

uint32_t FakeClock::Now() { return startSeconds_ + static_cast<uint32_t>(elapsedMs_ / 1000); }

void FakeClock::Sleep(std::chrono::milliseconds d) {
  ++sleeps_;
  if (onSleep && !inHook_) {
    inHook_ = true;
    onSleep(d);
    inHook_ = false;
  }
  Advance(d);
}

bool FakeClock::Wait(WakeEvent& event, std::chrono::milliseconds d) {
  uint32_t n = ++waits_;
  if (onWait && !inHook_) {
    inHook_ = true;
    onWait(n);
    inHook_ = false;
  }
  Advance(d);
  bool got = realWait.count() > 0 ? event.Wait(realWait) : event.TryTake();
  if (got) ++signalled_;
  return got;
}

}  // namespace torvane
