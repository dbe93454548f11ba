// Fixed waits of the orchestration layer. They go through the host's sleep
// service so that a test environment records them instead of sleeping.
#pragma once

#include <cstdint>

#include "hostruntime/Env.h"

constexpr int64_t kMillisPerSecond = 1000;

inline void WaitSeconds(int seconds) {
  if (seconds > 0)
    hostrt::CurrentEnv()->SleepMs(int64_t(seconds) * kMillisPerSecond);
}
