#include "core/CrashSignals.h"

#include "foundation/Log.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

namespace rivlo {
namespace {

constexpr std::array<int, 6> kTrappedSignals = {SIGABRT, SIGILL, SIGSEGV, SIGFPE, SIGBUS, SIGPIPE};
constexpr size_t kDescriptionSize = 1024;
constexpr size_t kAlternateStackSize = 256 * 1024;

// Everything the handlers read. Created at install and freed only by uninstall (the library
// closing), after the handlers were taken out, so a handler running while the process exits
// still finds it. The fields the handlers read are written before the handlers are installed,
// or are atomics.
struct CrashState {
    std::atomic<bool> handled{false};
    std::atomic<bool> quit{false};  // uninstall: the crash thread leaves without work
    std::atomic<int> inside{0};     // handlers (signal, exception) running now
    std::thread thread;
    // Set (release) by the crash thread before its done byte; a waiter that saw the byte reads
    // it (acquire), which orders the work before whatever the waiter does next.
    std::atomic<bool> workDone{false};
    std::atomic<long> crashingThread{0};
    std::atomic<long> crashThread{0};
    std::atomic<int> signal{0};
    char description[kDescriptionSize] = {};
    pid_t pid = 0;
    int wakeRead = -1;
    int wakeWrite = -1;
    int doneRead = -1;
    int doneWrite = -1;
    int waitMillis = 2000;
    double settleSeconds = 0.3;
    struct sigaction previous[NSIG] = {};
    std::atomic<bool> trapped[NSIG] = {};
    std::shared_ptr<ExceptionHandlerSlot> exceptionSlot;
    UncaughtExceptionHandler previousExceptionHandler = nullptr;
    CrashSignals::Work work;
};

std::atomic<CrashState*> gState{nullptr};
std::atomic<bool> gStarted{false};  // an install is done or under way

long currentThreadId() {
    return static_cast<long>(syscall(SYS_gettid));
}

long monotonicMillis() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Waits until fd is readable or the time is up; async-signal-safe. The done byte is never
// read, so every thread that waits sees it.
bool waitReadable(int fd, int millis) {
    const long deadline = monotonicMillis() + millis;
    for (;;) {
        long remaining = deadline - monotonicMillis();
        if (remaining < 0) remaining = 0;
        pollfd target{fd, POLLIN, 0};
        int ready = poll(&target, 1, static_cast<int>(remaining));
        if (ready > 0) return true;
        if (ready == 0) return false;
        if (errno != EINTR) return false;
    }
}

void writeByte(int fd) {
    const char byte = 'c';
    while (write(fd, &byte, 1) < 0 && errno == EINTR) {
    }
}

// The first fatal event: wake the crash thread and wait (bounded) until its work is done.
void runWork(CrashState& state) {
    writeByte(state.wakeWrite);
    if (waitReadable(state.doneRead, state.waitMillis)) {
        (void)state.workDone.load(std::memory_order_acquire);
    }
}

// A fatal event after the first: when the first one's work is still running on another
// thread, give it the same bounded time before this thread takes the process down.
void awaitWorkInProgress(CrashState& state) {
    const long self = currentThreadId();
    if (self == state.crashingThread.load() || self == state.crashThread.load()) return;
    if (waitReadable(state.doneRead, state.waitMillis)) {
        (void)state.workDone.load(std::memory_order_acquire);
    }
}

void setDefault(int sig) {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(sig, &action, nullptr);
}

// Hands the signal to what was installed before us. A handler is reinstalled and called once.
// A signal the kernel raised for a faulting instruction repeats when the handler returns, so
// the default disposition is set first: the repeat then ends the process by that signal
// instead of calling the previous handler a second time. A signal that was sent (raise, kill,
// abort, a broken pipe) stays with the previous handler, which decides what happens next, just
// as without us. With the default disposition the signal is raised again; it stays pending
// until this handler returns and then ends the process.
void passDown(CrashState& state, int sig, siginfo_t* info, void* context) {
    const struct sigaction previous = state.previous[sig];
    const bool wantsInfo = (previous.sa_flags & SA_SIGINFO) != 0;
    if (!wantsInfo && previous.sa_handler == SIG_IGN) {
        sigaction(sig, &previous, nullptr);
        return;
    }
    if (!wantsInfo && (previous.sa_handler == SIG_DFL || previous.sa_handler == SIG_ERR)) {
        setDefault(sig);
        raise(sig);
        return;
    }
    if ((previous.sa_flags & SA_RESETHAND) != 0) {
        setDefault(sig);
    } else {
        sigaction(sig, &previous, nullptr);
    }
    if (wantsInfo) {
        if (previous.sa_sigaction != nullptr) previous.sa_sigaction(sig, info, context);
    } else {
        previous.sa_handler(sig);
    }
    const bool fromKernel = info != nullptr && info->si_code > 0;
    if (fromKernel) setDefault(sig);
}

// Counts a handler running on the state, for uninstall.
struct Inside {
    explicit Inside(CrashState& state) : state_(state) { state_.inside.fetch_add(1); }
    ~Inside() { state_.inside.fetch_sub(1); }
    Inside(const Inside&) = delete;
    Inside& operator=(const Inside&) = delete;

  private:
    CrashState& state_;
};

void onSignal(int sig, siginfo_t* info, void* context) {
    const int savedErrno = errno;
    CrashState* state = gState.load();
    if (state == nullptr || sig <= 0 || sig >= NSIG) {
        setDefault(sig);
        errno = savedErrno;
        return;
    }
    const Inside inside(*state);
    if (getpid() != state->pid) {
        // A child forked after install has no crash thread; it only goes down the chain.
        passDown(*state, sig, info, context);
        errno = savedErrno;
        return;
    }
    bool expected = false;
    if (state->handled.compare_exchange_strong(expected, true)) {
        state->crashingThread.store(currentThreadId());
        state->signal.store(sig);
        runWork(*state);
    } else {
        awaitWorkInProgress(*state);
    }
    passDown(*state, sig, info, context);
    errno = savedErrno;
}

// The uncaught-exception handler, on the thread where the exception escaped. The slot's
// previous handler is put back first, and called once after the work.
void onUncaughtException(const ExceptionInfo& exception) {
    CrashState* state = gState.load();
    if (state == nullptr) return;
    const Inside inside(*state);
    UncaughtExceptionHandler previous = state->previousExceptionHandler;
    if (state->exceptionSlot) state->exceptionSlot->setHandler(previous);
    if (getpid() == state->pid) {
        bool expected = false;
        if (state->handled.compare_exchange_strong(expected, true)) {
            const std::string text = CrashSignals::describe(exception);
            std::strncpy(state->description, text.c_str(), kDescriptionSize - 1);
            state->crashingThread.store(currentThreadId());
            state->signal.store(0);
            runWork(*state);
        } else {
            awaitWorkInProgress(*state);
        }
    }
    if (previous != nullptr) previous(exception);
}

// The crash thread: started at install, blocked on the wake pipe until the first fatal event.
void crashThreadMain(CrashState* state) {
    state->crashThread.store(currentThreadId());
    // A broken pipe while the work writes must give an error here, not a second fatal event.
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &blocked, nullptr);
    CrashSignals::prepareCurrentThread();

    char byte = 0;
    for (;;) {
        ssize_t count = read(state->wakeRead, &byte, 1);
        if (count == 1) break;
        if (count < 0 && errno == EINTR) continue;
        return;
    }
    if (state->quit.load() && !state->handled.load()) return;
    CrashEvent event;
    event.signal = state->signal.load();
    if (event.signal != 0) {
        RVLog("Rivlo: Crash handler closing session. Signal # %d was raised.", event.signal);
    } else {
        event.description = state->description;
        RVLog("Rivlo: Crash handler closing session. Caught exception: %s. ",
              event.description.c_str());
    }
    try {
        if (state->work) state->work(event);
    } catch (const std::exception& error) {
        RVLog("Rivlo: Crash handler could not save the session: %s", error.what());
    } catch (...) {
        RVLog("Rivlo: Crash handler could not save the session.");
    }
    if (state->settleSeconds > 0) {
        std::this_thread::sleep_for(std::chrono::duration<double>(state->settleSeconds));
    }
    state->workDone.store(true, std::memory_order_release);
    writeByte(state->doneWrite);
}

bool makePipe(int& readEnd, int& writeEnd) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    readEnd = fds[0];
    writeEnd = fds[1];
    fcntl(writeEnd, F_SETFL, fcntl(writeEnd, F_GETFL) | O_NONBLOCK);
    return true;
}

// Unmaps the alternate stack of a thread when the thread ends.
struct AlternateStack {
    void* memory = nullptr;
    size_t length = 0;
    ~AlternateStack() {
        if (memory == nullptr) return;
        stack_t off{};
        off.ss_flags = SS_DISABLE;
        sigaltstack(&off, nullptr);
        munmap(memory, length);
    }
};

}  // namespace

const std::array<int, 6>& CrashSignals::trappedSignals() {
    return kTrappedSignals;
}

bool CrashSignals::install(Work work, Options options,
                           std::shared_ptr<ExceptionHandlerSlot> exceptionSlot) {
    std::atomic<bool>& started = gStarted;
    bool expected = false;
    if (!started.compare_exchange_strong(expected, true)) return false;

    auto* state = new CrashState;
    state->pid = getpid();
    state->work = std::move(work);
    state->waitMillis = options.waitSeconds > 0 ? static_cast<int>(options.waitSeconds * 1000) : 0;
    state->settleSeconds = options.settleSeconds > 0 ? options.settleSeconds : 0;
    if (!makePipe(state->wakeRead, state->wakeWrite) ||
        !makePipe(state->doneRead, state->doneWrite)) {
        RVLog("Rivlo: Crash handler not installed: no pipe (%s)", std::strerror(errno));
        delete state;
        started.store(false);
        return false;
    }
    try {
        state->thread = std::thread(crashThreadMain, state);
    } catch (const std::system_error& error) {
        RVLog("Rivlo: Crash handler not installed: no thread (%s)", error.what());
        for (int fd : {state->wakeRead, state->wakeWrite, state->doneRead, state->doneWrite})
            close(fd);
        delete state;
        started.store(false);
        return false;
    }
    prepareCurrentThread();

    state->exceptionSlot = std::move(exceptionSlot);
    gState.store(state);
    if (state->exceptionSlot) {
        state->previousExceptionHandler = state->exceptionSlot->handler();
        state->exceptionSlot->setHandler(onUncaughtException);
    }

    for (int sig : kTrappedSignals) {
        struct sigaction current {};
        if (sigaction(sig, nullptr, &current) != 0) continue;
        const bool isDefault =
            (current.sa_flags & SA_SIGINFO) == 0 && current.sa_handler == SIG_DFL;
        const bool ignored = (current.sa_flags & SA_SIGINFO) == 0 && current.sa_handler == SIG_IGN;
        // A signal the host ignores is no crash: leave it alone. So is a broken pipe the host
        // handles itself: a program with its own SIGPIPE handler lives through broken pipes.
        if (ignored || (sig == SIGPIPE && !isDefault)) continue;
        state->previous[sig] = current;
        struct sigaction ours {};
        ours.sa_sigaction = onSignal;
        ours.sa_flags = SA_SIGINFO | SA_ONSTACK;
        sigemptyset(&ours.sa_mask);
        if (sigaction(sig, &ours, nullptr) == 0) state->trapped[sig].store(true);
    }
    return true;
}

bool CrashSignals::uninstall() {
    CrashState* state = gState.load();
    if (state == nullptr) return false;
    // A fatal event under way keeps everything in place: the process is on its way down. One
    // the host chose to survive (its handler returned, the work is done, no handler runs any
    // more) is over: the handlers go as at any close, and the crash thread is joined.
    if (state->handled.load() &&
        (state->inside.load() > 0 || !state->workDone.load(std::memory_order_acquire)))
        return false;
    for (int sig : kTrappedSignals) {
        if (!state->trapped[sig].load()) continue;
        struct sigaction current {};
        if (sigaction(sig, nullptr, &current) != 0) continue;
        // A host that installed its own handler since keeps it.
        const bool ours = (current.sa_flags & SA_SIGINFO) != 0 && current.sa_sigaction == onSignal;
        if (ours) sigaction(sig, &state->previous[sig], nullptr);
        state->trapped[sig].store(false);
    }
    if (state->exceptionSlot && state->exceptionSlot->handler() == onUncaughtException) {
        state->exceptionSlot->setHandler(state->previousExceptionHandler);
    }
    gState.store(nullptr);
    state->quit.store(true);
    writeByte(state->wakeWrite);
    if (state->thread.joinable()) state->thread.join();
    for (int fd : {state->wakeRead, state->wakeWrite, state->doneRead, state->doneWrite})
        close(fd);
    delete state;
    gStarted.store(false);
    return true;
}

bool CrashSignals::isInstalled() {
    return gState.load() != nullptr;
}

bool CrashSignals::isHandled() {
    CrashState* state = gState.load();
    return state != nullptr && state->handled.load();
}

bool CrashSignals::isTrapped(int signal) {
    CrashState* state = gState.load();
    return state != nullptr && signal > 0 && signal < NSIG && state->trapped[signal].load();
}

void CrashSignals::prepareCurrentThread() {
    stack_t current{};
    if (sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_DISABLE) == 0) return;
    thread_local AlternateStack stack;
    if (stack.memory != nullptr) return;
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    size_t size = kAlternateStackSize;
    long minimum = sysconf(_SC_SIGSTKSZ);
    if (minimum > 0 && static_cast<size_t>(minimum) * 4 > size) size = minimum * 4;
    const size_t length = size + page;
    void* memory =
        mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) return;
    mprotect(memory, page, PROT_NONE);  // guard page below the stack
    stack_t alternate{};
    alternate.ss_sp = static_cast<char*>(memory) + page;
    alternate.ss_size = size;
    alternate.ss_flags = 0;
    if (sigaltstack(&alternate, nullptr) != 0) {
        munmap(memory, length);
        return;
    }
    stack.memory = memory;
    stack.length = length;
}

std::string CrashSignals::describe(const ExceptionInfo& exception) {
    return exception.reason.empty() ? exception.name : exception.reason;
}

}  // namespace rivlo
