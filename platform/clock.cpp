#include "platform/clock.h"

#include <ctime>
#include <thread>

namespace torvane {

uint32_t SystemClock::Now() { return static_cast<uint32_t>(std::time(nullptr)); }

void SystemClock::Sleep(std::chrono::milliseconds d) { std::this_thread::sleep_for(d); }

}  // namespace torvane
