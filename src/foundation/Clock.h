#pragma once

#include <cstdint>

namespace rivlo {

// Time sources. Any thread.
class Clock {
  public:
    // Wall-clock seconds since 1970-01-01 UTC, with fractions.
    static double now();
    // Monotonic seconds since an arbitrary origin; never goes back.
    static double monotonic();
    // Overrides the wall clock for tests (offset in seconds added to the real time).
    static void setWallOffsetForTesting(double offsetSeconds);
};

}  // namespace rivlo
