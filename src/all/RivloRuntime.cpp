#include "all/RivloRuntime.h"

#include "rivlo/Error.h"

#include "all/HeadlessLoader.h"
#include "all/OptionsData.h"
#include "all/RivloRecorders.h"
#include "core/CrashSignals.h"
#include "core/RVFacade.h"
#include "core/RVServiceConfig.h"
#include "core/RVUtil.h"
#include "core/RivloHandler.h"
#include "foundation/Log.h"
#include "foundation/PendingWork.h"
#include "foundation/RunLoop.h"
#include "foundation/Teardown.h"
#include "http/RVAFHTTPClient.h"
#include "http/RVAFURLConnectionOperation.h"
#include "platform/Platform.h"
#include "platform/linux/LinuxPlatform.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace rivlo {

namespace {

enum class Phase { NotStarted, Starting, Running, Closing, Closed };

std::atomic<Phase> gPhase{Phase::NotStarted};
std::atomic<int> gCalls{0};  // host calls admitted and not yet returned
std::mutex gMutex;           // guards the phase's transitions (nothing is called under it)

// After the limit, how long close gives the work it cancelled to end.
constexpr double kCancelGraceSeconds = 0.5;

std::condition_variable& callsDone() {
    static std::condition_variable cv;
    return cv;
}

// One log line for a refused call. A host's log handler that calls in again while the line is
// written is refused without a second line.
void refuse(const char* function, Phase phase) {
    thread_local bool refusing = false;
    if (refusing) return;
    struct Refusing {
        Refusing() { refusing = true; }
        ~Refusing() { refusing = false; }  // also when the log handler throws
    } scope;
    if (phase == Phase::Closing || phase == Phase::Closed) {
        RVLog("Rivlo: %s: the library is closed; ignored (rivlo_init starts it again)", function);
    } else {
        RVLog("Rivlo: %s: the library is not running; ignored (call rivlo_init first)", function);
    }
}

// Moves from one phase to another when the phase is `from`.
bool transition(Phase from, Phase to) {
    std::lock_guard lock(gMutex);
    if (gPhase.load() != from) return false;
    gPhase.store(to);
    return true;
}

// Waits until the library's pending work has ended or `seconds` passed, turning the main run
// loop (the caller is the main thread).
bool runUntilQuiet(double seconds) {
    if (seconds < 0) seconds = 0;
    return RunLoop::main().runUntil([] { return PendingWork::count() == 0; }, seconds);
}

// Cancels the requests still running: their items stay in the store.
void cancelRequests() {
    if (RivloHandler* handler = RivloHandler::rivlo()) {
        if (auto client = handler->httpClient()) client->operationQueue()->cancelAllOperations();
    }
}

}  // namespace

bool RivloRuntime::isRunning() {
    return gPhase.load() == Phase::Running;
}

int RivloRuntime::init(const Options::Data& settings, const char* function) {
    const bool scheduled = RunLoop::main().scheduler() != nullptr;
    const bool onMainThread = RunLoop::isMainThread();
    int refused = RIVLO_OK;
    Phase previous = Phase::NotStarted;
    {
        std::lock_guard lock(gMutex);
        previous = gPhase.load();
        if (previous != Phase::NotStarted && previous != Phase::Closed) {
            refused = RIVLO_ERROR_ALREADY_INITIALIZED;
        } else if (scheduled && !onMainThread) {
            refused = RIVLO_ERROR_WRONG_THREAD;
        } else {
            gPhase.store(Phase::Starting);
        }
    }
    if (refused == RIVLO_ERROR_ALREADY_INITIALIZED) {
        RVLog("Rivlo: %s: the library runs already; nothing changed (rivlo_close stops it)",
              function);
        return refused;
    }
    if (refused == RIVLO_ERROR_WRONG_THREAD) {
        RVLog("Rivlo: %s: called off the main thread of the host's scheduler; nothing changed",
              function);
        return refused;
    }
    if (!scheduled) RunLoop::main().setMainThread();
    Teardown::setCancelled(false);
    RVServiceConfig::configure(settings.serviceBaseURL, settings.caFile);
    RVAFURLConnectionOperation::setCertificateFile(settings.caFile);

    // The headless device first: the Linux defaults keep the seams it installed.
    if (settings.headlessPlatform) {
        if (const int rc = HeadlessLoader::install(function); rc != RIVLO_OK) {
            RVServiceConfig::forgetConfiguration();
            RVAFURLConnectionOperation::forgetCertificateFile();
            Platform::current().reset();
            Teardown::run();
            transition(Phase::Starting, previous);
            return rc;
        }
    }
    if (settings.linuxPlatform) LinuxPlatform::install(settings.device);
    RivloRecorders::registerAll();
    transition(Phase::Starting, Phase::Running);

    if (!settings.applicationKey.empty())
        RVFacade::startApplicationWithKey(settings.applicationKey);
    return RIVLO_OK;
}

bool RivloRuntime::ensureStarted(const char* function,
                                 const std::function<void(Options::Data&)>& adjust) {
    const Phase phase = gPhase.load();
    if (phase == Phase::Running) return true;
    if (phase != Phase::NotStarted) {
        refuse(function, phase);
        return false;
    }
    Options::Data settings = Options::Data::fromEnvironment();
    if (adjust) adjust(settings);
    init(settings, function);
    return isRunning();
}

int RivloRuntime::flush(double seconds, const char* function) {
    const Phase phase = gPhase.load();
    if (phase != Phase::Running) {
        refuse(function, phase);
        return RIVLO_ERROR_NOT_INITIALIZED;
    }
    if (!(seconds >= 0)) seconds = 0;
    const bool quiet =
        RunLoop::isMainThread() ? runUntilQuiet(seconds) : PendingWork::waitUntilIdle(seconds);
    return quiet ? RIVLO_OK : RIVLO_ERROR_TIMEOUT;
}

int RivloRuntime::close(double seconds, const char* function) {
    const bool onMainThread = RunLoop::isMainThread();
    Phase phase = Phase::NotStarted;
    {
        std::lock_guard lock(gMutex);
        phase = gPhase.load();
        if (phase == Phase::Running && onMainThread) gPhase.store(Phase::Closing);
    }
    if (phase != Phase::Running) {
        if (phase == Phase::Starting || phase == Phase::Closing) {
            RVLog("Rivlo: %s: the library is starting or closing; nothing changed", function);
        } else {
            refuse(function, phase);
        }
        return RIVLO_ERROR_NOT_INITIALIZED;
    }
    if (!onMainThread) {
        RVLog("Rivlo: %s: called off the main thread; nothing changed", function);
        return RIVLO_ERROR_WRONG_THREAD;
    }
    if (!(seconds >= 0)) seconds = 0;
    const auto start = std::chrono::steady_clock::now();
    auto left = [&] {
        const double spent =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        return seconds - spent;
    };

    // Calls under way on other threads end first (they are short); new ones are refused.
    {
        std::mutex mutex;
        std::unique_lock lock(mutex);
        while (gCalls.load() > 0)
            callsDone().wait_for(lock, std::chrono::milliseconds(10));
    }

    // The open session stops and its uploads begin, as when the application leaves; then the
    // work under way ends within the limit, the main-thread work running here meanwhile.
    RivloHandler::stopAndPostForClose();
    const bool quiet = runUntilQuiet(left());
    if (!quiet) {
        // Long waits of the library's threads end, and the requests still running are
        // cancelled: what they carried stays stored for the next start.
        Teardown::setCancelled(true);
        cancelRequests();
        if (!runUntilQuiet(kCancelGraceSeconds)) {
            RVLog(
                "Rivlo: %s: %lld pieces of work were still running after the limit; they end "
                "now",
                function, static_cast<long long>(PendingWork::count()));
        }
    }

    // The controller, the crash handlers and the platform go; then every shared object (its
    // threads joined first), and what is left on the main run loop.
    RivloHandler::shutdown();
    CrashSignals::uninstall();
    Platform::current().reset();
    Teardown::run();
    RunLoop::main().discardAll();
    RVUtil::forgetSession();
    RVServiceConfig::forgetConfiguration();
    RVAFURLConnectionOperation::forgetCertificateFile();
    PendingWork::reset();
    Teardown::setCancelled(false);
    transition(Phase::Closing, Phase::Closed);
    return quiet ? RIVLO_OK : RIVLO_ERROR_TIMEOUT;
}

RivloRuntime::Call::Call(const char* function) {
    gCalls.fetch_add(1);
    const Phase phase = gPhase.load();
    if (phase == Phase::Running) {
        admitted_ = true;
        return;
    }
    if (gCalls.fetch_sub(1) == 1) callsDone().notify_all();
    refuse(function, phase);
}

RivloRuntime::Call::~Call() {
    if (admitted_ && gCalls.fetch_sub(1) == 1) callsDone().notify_all();
}

}  // namespace rivlo
