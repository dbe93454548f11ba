// The host's clock and sleep service. The engine's waits and time stamps go
// through it, so that a test environment records waits instead of sleeping
// and sets the time it likes.
#pragma once

#include <cstdint>
#include <ctime>

class PzClock {
 public:
  // Microseconds since the epoch.
  static int64_t nowMicros();
  // Broken-down local time of `when`.
  static void localTime(std::time_t when, std::tm* out);
  // Waits `ms` milliseconds (nothing for ms <= 0). A cancelled job's waits
  // end at once.
  static void sleepMs(int64_t ms);
};
