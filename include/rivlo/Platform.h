#pragma once

// The platform and the main thread: installing a platform, naming the application, and running
// the library's main-thread work.
//
// rivlo::Rivlo::init (rivlo/Rivlo.h) installs what its options ask for. Hosts of earlier
// releases call the install functions below instead, before startApplicationWithKey; the first
// of them starts the library with the environment's settings.
//
// On Linux, installLinuxPlatform gives the library this machine's facts, network state,
// folders, cameras and movie encoders. A host with a window toolkit then installs its toolkit
// bridge (for Qt: rivlo/qt/QtPlatform.h), which runs the library's main-thread work in the
// toolkit's event loop. A host with an event loop of its own plugs it in with
// setMainThreadScheduler and performMainThreadWork; a host without one (a daemon, a
// command-line tool) turns the library's main loop with runMainLoop. installHeadlessPlatform
// adds the headless device (librivlo-headless.so.1), an in-process toolkit with one empty
// window, for programs that want a recorded screen without a display.

#include "rivlo/Error.h"
#include "rivlo/Version.h"

#include <functional>
#include <string>

namespace rivlo {

// Who the application is. Empty fields fall back: the identifier to RIVLO_APP_ID, the display
// name to RIVLO_APP_NAME, the version to RIVLO_APP_VERSION, then the program's name and "1.0".
struct ApplicationIdentity {
    // Reverse-DNS identifier, e.g. "com.example.notes". Names the application's caches and
    // defaults folders ($XDG_CACHE_HOME/<id>, $XDG_CONFIG_HOME/<id>), so two applications never
    // share a store. A '/' or control character in it becomes '_' in the folder names.
    std::string id;
    // The name people see ("Notes").
    std::string displayName;
    // The application's own version ("2.3.1").
    std::string version;
};

// Installs the Linux defaults for this application (starting the library with the
// environment's settings when it does not run yet; after close it only logs). Call on the
// thread that will turn the main loop (normally the program's main thread), before the library
// is used; after installHeadlessPlatform when both are wanted. The calling thread becomes the
// library's main thread.
RIVLO_API void installLinuxPlatform(const ApplicationIdentity& identity);

// Installs the headless device with a visible white key window, from librivlo-headless.so.1
// (loaded when the program did not link it; a log line says so when it is missing). Starts the
// library as installLinuxPlatform does. Call once, before installLinuxPlatform, on the thread
// that will turn the main loop; the device lives until close.
RIVLO_API void installHeadlessPlatform();

// Turns the library's main run loop for `seconds`, for hosts without a toolkit event loop: 0
// runs what is due now and returns, infinity runs for good; a negative or not-a-number value is
// logged and treated as 0. The thread sleeps while nothing is due. Main thread only (the thread
// that started the library); a call from another thread, or while the library does not run,
// is logged and ignored.
RIVLO_API void runMainLoop(double seconds);

// Hands the library's main-thread work to the host's own event loop. `notify` is called, on any
// thread and never under a lock of the library, when work arrives or timed work moves earlier:
// the host then calls performMainThreadWork on its main thread soon (not from inside notify).
// Nothing to do means no call. An empty function hands the loop back (runMainLoop). The
// calling thread becomes the main thread; call it before init, or on the main thread. It stays
// set across close. Returns 0. Any thread.
RIVLO_API int setMainThreadScheduler(std::function<void()> notify);

// Runs the library's main-thread work that is due now. When nextTimeoutMs is given it receives
// the milliseconds until timed work is next due (the host calls again by then, unless notify
// asks sooner), or -1 when none waits. Returns 0, RIVLO_ERROR_WRONG_THREAD off the main thread,
// RIVLO_ERROR_NOT_INITIALIZED while the library does not run (nextTimeoutMs gets -1). Main
// thread.
RIVLO_API int performMainThreadWork(int* nextTimeoutMs = nullptr);

}  // namespace rivlo
