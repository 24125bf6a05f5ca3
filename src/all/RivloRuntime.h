#pragma once

#include "rivlo/Options.h"

#include <functional>

namespace rivlo {

// The library's life in the host: started (init, or the first call of an earlier release's
// entry point), running, closing, closed, and started again.
//
// init installs the platform the options ask for, registers the recorders and starts a session
// when a key is given. close stops the open session and starts its uploads, waits within its
// limit for the work under way (PendingWork) while running the main-thread work, cancels what
// is left (it stays in the store), then takes the controller, the crash handlers, the platform
// and every shared object down (Teardown): threads joined, memory freed.
//
// Host calls are admitted only while the library runs (Call); close waits for the ones under
// way on other threads and refuses new ones from its first moment.
class RivloRuntime {
  public:
    // Any thread for flush and the queries; init and close on the main thread (close refuses
    // another thread; init makes the calling thread the main thread unless a scheduler is set).
    static int init(const Options::Data& settings, const char* function = "rivlo_init");
    static int flush(double seconds, const char* function = "rivlo_flush");
    static int close(double seconds, const char* function = "rivlo_close");
    static bool isRunning();

    // An entry point of earlier releases (a platform installation, a start): starts the library
    // with the environment's settings, changed by `adjust`, when it never ran in this process.
    // True when the library runs afterwards; false (logged, naming `function`) after close or
    // when the start failed. The calling thread becomes the main thread on a first start.
    static bool ensureStarted(const char* function,
                              const std::function<void(Options::Data&)>& adjust = {});

    // A host's call into the library: admitted (true) while the library runs, counted until it
    // returns so that close waits for it; refused with one log line naming `function`
    // otherwise. Any thread.
    class Call {
      public:
        explicit Call(const char* function);
        ~Call();
        Call(const Call&) = delete;
        Call& operator=(const Call&) = delete;
        explicit operator bool() const { return admitted_; }

      private:
        bool admitted_ = false;
    };
};

}  // namespace rivlo
