// rivlo/Platform.h and rivlo/Log.h: the main loop and the log sink as a program outside this
// build sees them. Each platform implements its own install call (installLinuxPlatform in
// platform/linux, installHeadlessPlatform in platform/headless, QtPlatform::install in
// platform/qt); the shared object links them in from the platforms' archives.

#include "rivlo/Log.h"
#include "rivlo/Platform.h"

#include "foundation/Log.h"
#include "foundation/RunLoop.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <utility>

namespace rivlo {

void runMainLoop(double seconds) {
    if (!(seconds >= 0)) {
        RVLog("Rivlo: runMainLoop: %g is not a number of seconds; running what is due now",
              seconds);
        seconds = 0;
    }
    if (!RunLoop::isMainThread()) {
        RVLog("Rivlo: runMainLoop: called off the main thread; ignored");
        return;
    }
    if (seconds == 0) {
        RunLoop::main().runPending();
        return;
    }
    // An hour at a time, so that an endless run (infinity) never overflows the clock.
    constexpr double kTurn = 3600;
    while (seconds > 0) {
        const double turn = std::min(seconds, kTurn);
        RunLoop::main().runUntil([] { return false; }, std::chrono::duration<double>(turn));
        if (!std::isinf(seconds)) seconds -= turn;
    }
}

void setLogHandler(LogHandler handler) {
    Log::setSink(std::move(handler));
}

}  // namespace rivlo
