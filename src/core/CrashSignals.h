#pragma once

#include "platform/ExceptionHandler.h"

#include <array>
#include <functional>
#include <memory>
#include <string>

namespace rivlo {

// What the crash thread is told about the fatal event it handles.
struct CrashEvent {
    int signal = 0;           // the signal number; 0 for an uncaught C++ exception
    std::string description;  // the exception's what() or its type; empty for a signal
};

// Process-wide capture of fatal events: the six trapped signals (SIGABRT, SIGILL, SIGSEGV,
// SIGFPE, SIGBUS, SIGPIPE) and uncaught exceptions (the platform's uncaught-exception handler
// slot; on Linux the std::terminate chain).
//
// Nothing but async-signal-safe calls runs inside a signal handler. The work of a crash
// (allocation, locks, file writes, log lines) runs on a crash thread started at install and
// woken from the handler through a pipe; the crashing thread waits for it with a bound and then
// goes on down the chain, so a crash inside a lock the work needs cannot hang the process.
// Down the chain means: the disposition that was there before is reinstalled and, when it was
// a handler, called exactly once; when it was the default, the signal is raised again with the
// default disposition so that the process ends by that signal, as it would have without us.
// A signal that was ignored when the handlers were installed is left ignored and is no crash;
// so is SIGPIPE when the host had its own handler for it (it lives through broken pipes).
// The first fatal event of the process runs the work; any later one only goes down the chain.
class CrashSignals {
  public:
    // Runs on the crash thread, at most once per process, after the log line.
    using Work = std::function<void(const CrashEvent&)>;

    struct Options {
        // How long a crashing thread waits for the work before it goes on down the chain.
        double waitSeconds = 2.0;
        // Pause on the crash thread after the work, giving the threads the work started (for
        // example recorders told to stop) time to run before the process ends.
        double settleSeconds = 0.3;
    };

    // The trapped signals, in installation order.
    static const std::array<int, 6>& trappedSignals();

    // Remembers the uncaught-exception handler of the slot (when one is given) and the signal
    // dispositions, installs ours, starts the crash thread and gives the calling thread an
    // alternate signal stack. Only the first call installs; it returns true, later calls
    // return false and change nothing until uninstall(). Any thread.
    static bool install(Work work, Options options,
                        std::shared_ptr<ExceptionHandlerSlot> exceptionSlot);
    // The library closing: puts back the dispositions and the exception handler that were
    // there before (where ours is still the one installed; a host's later handler stays), ends
    // and joins the crash thread and frees its state. Does nothing once a fatal event was taken.
    // Returns true when it uninstalled. Any thread but the crash thread.
    static bool uninstall();
    static bool isInstalled();

    // True once a fatal event has been taken; never cleared. Any thread.
    static bool isHandled();

    // Whether the given signal is trapped (false for a signal that was ignored at install, for
    // SIGPIPE with a host handler, and before install). Any thread.
    static bool isTrapped(int signal);

    // Gives the calling thread an alternate signal stack (unless it has one), so that a stack
    // overflow on that thread reaches the handler. Threads the library starts for long work
    // call it once. Any thread.
    static void prepareCurrentThread();

    // The text an uncaught exception is reported with: its reason, or its name when it has
    // no reason.
    static std::string describe(const ExceptionInfo& exception);
};

}  // namespace rivlo
