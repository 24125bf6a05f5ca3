// rivlo/Platform.h and rivlo/Log.h: the platform installation, the main loop and the log sink
// as a program outside this build sees them.

#include "rivlo/Log.h"
#include "rivlo/Platform.h"

#include "foundation/Log.h"
#include "foundation/RunLoop.h"
#include "platform/headless/HeadlessPlatform.h"
#include "platform/linux/LinuxPlatform.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <mutex>

namespace rivlo {

void installLinuxPlatform(const ApplicationIdentity& identity) {
    RunLoop::main().setMainThread();
    // The platform registry holds the device from here on.
    LinuxPlatform::install(
        LinuxApplicationIdentity{identity.id, identity.displayName, identity.version});
}

void installHeadlessPlatform() {
    // The device and its window live for the process, as a toolkit's application would.
    static std::once_flag once;
    bool installed = false;
    std::call_once(once, [&installed] {
        RunLoop::main().setMainThread();
        static const auto* const device =
            new std::shared_ptr<HeadlessPlatform>(HeadlessPlatform::install());
        static const auto* const window = new std::shared_ptr<Window>((*device)->makeKeyWindow());
        (void)window;
        installed = true;
    });
    if (!installed)
        RVLog("Rivlo: installHeadlessPlatform: the headless device is already installed");
}

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
