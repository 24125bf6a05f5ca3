// rivlo/Platform.h and rivlo/Log.h: installing a platform, the main thread and the log sink as
// a program outside this build sees them. The Linux defaults are part of this library; the
// headless device comes from librivlo-headless.so.1 (HeadlessLoader), a toolkit bridge from
// its own library.

#include "rivlo/Log.h"
#include "rivlo/Platform.h"

#include "all/CallGuard.h"
#include "all/HeadlessLoader.h"
#include "all/OptionsData.h"
#include "all/RivloRuntime.h"
#include "foundation/Log.h"
#include "foundation/MainThreadScheduler.h"
#include "foundation/RunLoop.h"
#include "platform/linux/LinuxPlatform.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <thread>
#include <utility>

namespace rivlo {

namespace {

constexpr int kOk = RIVLO_OK;

// A host's own event loop: told to call performMainThreadWork; the thread that set it is the
// main thread.
class HostScheduler final : public MainThreadScheduler {
  public:
    explicit HostScheduler(std::function<void()> notify)
        : notify_(std::move(notify)), thread_(std::this_thread::get_id()) {}
    void notify() override { notify_(); }
    bool isOnMainThread() const override { return std::this_thread::get_id() == thread_; }

  private:
    const std::function<void()> notify_;
    const std::thread::id thread_;
};

void applyIdentity(Options::Data& settings, const ApplicationIdentity& identity) {
    if (!identity.id.empty()) settings.device.applicationIdentifier = identity.id;
    if (!identity.displayName.empty()) settings.device.bundle.displayName = identity.displayName;
    if (!identity.version.empty()) settings.device.bundle.version = identity.version;
}

}  // namespace

void installLinuxPlatform(const ApplicationIdentity& identity) {
    const char* function = "installLinuxPlatform";
    CallGuard::run(function, [&] {
        bool startedHere = false;
        if (!RivloRuntime::ensureStarted(function, [&](Options::Data& settings) {
                applyIdentity(settings, identity);
                settings.linuxPlatform = true;
                startedHere = true;
            })) {
            return kOk;
        }
        if (startedHere) return kOk;
        // The library runs already (started by another platform or by init): the Linux
        // defaults are installed again, for this identity.
        RivloRuntime::Call call(function);
        if (!call) return kOk;
        RunLoop::main().setMainThread();
        LinuxPlatform::install(
            LinuxApplicationIdentity{identity.id, identity.displayName, identity.version});
        return kOk;
    });
}

void installHeadlessPlatform() {
    const char* function = "installHeadlessPlatform";
    CallGuard::run(function, [&] {
        bool startedHere = false;
        // The Linux defaults come with the host's next call (installLinuxPlatform), which
        // names the application.
        if (!RivloRuntime::ensureStarted(function, [&](Options::Data& settings) {
                settings.linuxPlatform = false;
                settings.headlessPlatform = true;
                startedHere = true;
            })) {
            return kOk;
        }
        if (startedHere) return kOk;
        RivloRuntime::Call call(function);
        if (!call) return kOk;
        return static_cast<int>(HeadlessLoader::install(function));
    });
}

void runMainLoop(double seconds) {
    const char* function = "runMainLoop";
    CallGuard::run(function, [&] {
        {
            // Only the check is a call: the loop itself may run for good.
            RivloRuntime::Call call(function);
            if (!call) return kOk;
        }
        if (!(seconds >= 0)) {
            RVLog("Rivlo: runMainLoop: %g is not a number of seconds; running what is due now",
                  seconds);
            seconds = 0;
        }
        if (!RunLoop::isMainThread()) {
            RVLog("Rivlo: runMainLoop: called off the main thread; ignored");
            return kOk;
        }
        if (seconds == 0) {
            RunLoop::main().runPending();
            return kOk;
        }
        // An hour at a time, so that an endless run (infinity) never overflows the clock. The
        // thread sleeps while nothing is due.
        constexpr double kTurn = 3600;
        while (seconds > 0 && RivloRuntime::isRunning()) {
            const double turn = std::min(seconds, kTurn);
            RunLoop::main().runFor(turn);
            if (!std::isinf(seconds)) seconds -= turn;
        }
        return kOk;
    });
}

int setMainThreadScheduler(std::function<void()> notify) {
    return CallGuard::run("setMainThreadScheduler", [&] {
        if (!notify) {
            RunLoop::main().setScheduler(nullptr);
            RunLoop::main().setMainThread();
            return kOk;
        }
        RunLoop::main().setMainThread();
        RunLoop::main().setScheduler(std::make_shared<HostScheduler>(std::move(notify)));
        return kOk;
    });
}

int performMainThreadWork(int* nextTimeoutMs) {
    const char* function = "performMainThreadWork";
    if (nextTimeoutMs) *nextTimeoutMs = -1;
    return CallGuard::run(function, [&] {
        RivloRuntime::Call call(function);
        if (!call) return static_cast<int>(RIVLO_ERROR_NOT_INITIALIZED);
        if (!RunLoop::isMainThread()) {
            RVLog("Rivlo: performMainThreadWork: called off the main thread; ignored");
            return static_cast<int>(RIVLO_ERROR_WRONG_THREAD);
        }
        const auto next = RunLoop::main().perform();
        if (nextTimeoutMs && next) {
            const double ms = std::ceil(next->count() * 1000.0);
            *nextTimeoutMs = ms >= INT_MAX ? INT_MAX : static_cast<int>(ms);
        }
        return static_cast<int>(RIVLO_OK);
    });
}

void setLogHandler(LogHandler handler) {
    CallGuard::run("setLogHandler", [&] {
        Log::setSink(std::move(handler));
        return kOk;
    });
}

}  // namespace rivlo
