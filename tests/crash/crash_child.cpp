// A small host program for the crash tests: it installs the crash capture (optionally after a
// host's own signal and terminate handlers), then dies by the means named on its command line.
//
//   crash_child <mode> <dir> [host] [ignore-pipe] [block] [settle=<s>] [wait=<s>]
//
// Files written into <dir>:
//   work    one line per run of the crash work: "<signal> <description>"
//   host    one line per call of the host's previous handlers: "signal <n>", "exception" (its
//           uncaught-exception handler) or "terminate" (its std::terminate handler)
//   log     the library's log lines
//   status  "survived" when the program got past its crash and exits normally
//   trapped the signals the capture trapped, in order (and a line if a second install took)
#include "core/CrashSignals.h"
#include "foundation/Log.h"
#include "platform/linux/LinuxExceptionHandlerSlot.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

std::string gDir;
int gHostFd = -1;
std::mutex gHeldByCrasher;

int openAppend(const std::string& name) {
    return open((gDir + "/" + name).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
}

void appendLine(const std::string& name, const std::string& line) {
    int fd = openAppend(name);
    if (fd < 0) return;
    std::string text = line + "\n";
    (void)!write(fd, text.data(), text.size());
    fsync(fd);
    close(fd);
}

// Async-signal-safe: formats the number by hand and writes one line.
void hostSignal(int sig, siginfo_t*, void*) {
    char line[32] = "signal ";
    size_t at = std::strlen(line);
    char digits[12];
    size_t count = 0;
    unsigned value = static_cast<unsigned>(sig);
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (count > 0)
        line[at++] = digits[--count];
    line[at++] = '\n';
    (void)!write(gHostFd, line, at);
}

[[noreturn]] void hostTerminate() {
    const char line[] = "terminate\n";
    (void)!write(gHostFd, line, sizeof(line) - 1);
    std::abort();
}

void hostException(const rivlo::ExceptionInfo&) {
    const char line[] = "exception\n";
    (void)!write(gHostFd, line, sizeof(line) - 1);
}

void installHostHandlers() {
    for (int sig : rivlo::CrashSignals::trappedSignals()) {
        struct sigaction action {};
        action.sa_sigaction = hostSignal;
        action.sa_flags = SA_SIGINFO;
        sigemptyset(&action.sa_mask);
        sigaction(sig, &action, nullptr);
    }
    std::set_terminate(hostTerminate);
    rivlo::LinuxExceptionHandlerSlot::shared()->setHandler(hostException);
}

__attribute__((no_sanitize("undefined"), noinline)) void nullDereference() {
    volatile int* volatile pointer = nullptr;
    *pointer = 1;
}

__attribute__((no_sanitize("undefined"), noinline)) int divideByZero() {
    volatile int numerator = 1;
    volatile int denominator = 0;
    return numerator / denominator;
}

__attribute__((noinline)) void busError() {
    std::string path = gDir + "/truncated";
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) return;
    void* mapping = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (mapping == MAP_FAILED) return;
    // The file is empty: touching the mapped page is a bus error.
    static_cast<volatile char*>(mapping)[0] = 1;
}

__attribute__((noinline)) void illegalInstruction() {
#if defined(__x86_64__) || defined(__i386__)
    asm volatile("ud2");
#elif defined(__aarch64__)
    asm volatile(".inst 0x00000000");
#else
    raise(SIGILL);
#endif
}

__attribute__((noinline, no_sanitize("address"))) int recurse(int depth) {
    volatile char frame[512];
    frame[0] = static_cast<char>(depth);
    if (depth == -1) return frame[0];  // never true: keeps the compiler from ending it
    return recurse(depth + 1) + frame[0];
}

void brokenPipe() {
    int fds[2];
    if (pipe(fds) != 0) return;
    close(fds[0]);
    const char byte = 'x';
    (void)!write(fds[1], &byte, 1);
}

void crashBy(const std::string& mode) {
    if (mode == "segv") {
        nullDereference();
    } else if (mode == "abort") {
        std::abort();
    } else if (mode == "fpe") {
        std::printf("%d\n", divideByZero());
    } else if (mode == "fpe-raise") {
        raise(SIGFPE);
    } else if (mode == "bus") {
        busError();
    } else if (mode == "ill") {
        illegalInstruction();
    } else if (mode == "exception") {
        throw std::runtime_error("disk on fire");
    } else if (mode == "exception-int") {
        throw 42;
    } else if (mode == "recursion") {
        std::printf("%d\n", recurse(0));
    } else if (mode == "pipe") {
        brokenPipe();
    } else if (mode == "segv-thread") {
        std::thread([] { nullDereference(); }).join();
    } else if (mode == "exception-thread") {
        std::thread([] { throw std::logic_error("bad state on worker"); }).join();
    } else if (mode == "twice") {
        // Two threads fault at about the same time: the work still runs exactly once.
        std::thread other([] { nullDereference(); });
        nullDereference();
        other.join();
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: crash_child <mode> <dir> [options]\n");
        return 2;
    }
    const std::string mode = argv[1];
    gDir = argv[2];
    bool host = false;
    bool ignorePipe = false;
    bool block = false;
    rivlo::CrashSignals::Options options;
    for (int i = 3; i < argc; ++i) {
        std::string option = argv[i];
        if (option == "host") host = true;
        if (option == "ignore-pipe") ignorePipe = true;
        if (option == "block") block = true;
        if (option.rfind("settle=", 0) == 0) options.settleSeconds = std::atof(option.c_str() + 7);
        if (option.rfind("wait=", 0) == 0) options.waitSeconds = std::atof(option.c_str() + 5);
    }
    struct rlimit noCore {};
    setrlimit(RLIMIT_CORE, &noCore);

    gHostFd = openAppend("host");
    rivlo::Log::setSink([](const std::string& line) { appendLine("log", line); });
    if (host) installHostHandlers();
    if (ignorePipe) signal(SIGPIPE, SIG_IGN);

    rivlo::CrashSignals::install(
        [block](const rivlo::CrashEvent& event) {
            // Stands in for a work that needs a lock the crashed thread holds.
            if (block) std::lock_guard<std::mutex> wait(gHeldByCrasher);
            appendLine("work", std::to_string(event.signal) + " " + event.description);
        },
        options, rivlo::LinuxExceptionHandlerSlot::shared());
    std::string trapped;
    for (int sig : rivlo::CrashSignals::trappedSignals()) {
        if (rivlo::CrashSignals::isTrapped(sig)) trapped += std::to_string(sig) + " ";
    }
    appendLine("trapped", trapped);
    if (rivlo::CrashSignals::install([](const rivlo::CrashEvent&) {}, options, nullptr)) {
        appendLine("trapped", "installed twice");
    }

    std::unique_lock<std::mutex> held(gHeldByCrasher);
    crashBy(mode);
    held.unlock();
    appendLine("status", "survived");
    // The library closes: the handlers go, and can be installed again.
    appendLine("closed", rivlo::CrashSignals::uninstall() ? "handlers out" : "handlers kept");
    if (rivlo::CrashSignals::install([](const rivlo::CrashEvent&) {}, options, nullptr)) {
        appendLine("closed", "installed again");
        rivlo::CrashSignals::uninstall();
    }
    return 0;
}
