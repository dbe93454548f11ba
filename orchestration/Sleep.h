// Fixed waits of the orchestration layer. They go through the host's sleep
// service so that a test environment records them instead of sleeping.
#pragma once

#include <cstdint>

#include "host/PzClock.h"

constexpr int64_t kMillisPerSecond = 1000;

inline void WaitSeconds(int seconds) {
  if (seconds > 0) PzClock::sleepMs(int64_t(seconds) * kMillisPerSecond);
}

inline void WaitMillis(int64_t ms) {
  PzClock::sleepMs(ms);
}
