#include "foundation/Clock.h"

#include <atomic>
#include <chrono>

namespace rivlo {
namespace {
std::atomic<double> wallOffset{0.0};
}

double Clock::now() {
    using namespace std::chrono;
    auto t = system_clock::now().time_since_epoch();
    return duration_cast<duration<double>>(t).count() + wallOffset.load();
}

double Clock::monotonic() {
    using namespace std::chrono;
    return duration_cast<duration<double>>(steady_clock::now().time_since_epoch()).count();
}

void Clock::setWallOffsetForTesting(double offsetSeconds) {
    wallOffset.store(offsetSeconds);
}

}  // namespace rivlo
