#pragma once

// Installing a platform and naming the application: the first calls a host makes, before
// rivlo::Rivlo::startApplicationWithKey.
//
// On Linux, installLinuxPlatform gives the library this machine's facts, network state,
// folders, cameras and movie encoders. A host with a window toolkit then installs its toolkit
// bridge (for Qt: rivlo/qt/QtPlatform.h); a host without one (a daemon, a command-line tool)
// turns the library's main loop with runMainLoop instead, and its documents, tags and location
// upload as usual. installHeadlessPlatform adds the headless device, an in-process toolkit with
// one empty window, for programs that want a recorded screen without a display.

#include "rivlo/Version.h"

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

// Installs the Linux defaults for this application. Call once, on the thread that will turn
// the main loop (normally the program's main thread), before the library is used; after
// installHeadlessPlatform when both are wanted. The calling thread becomes the library's main
// thread.
RIVLO_API void installLinuxPlatform(const ApplicationIdentity& identity);

// Installs the headless device with a visible white key window. Call once, before
// installLinuxPlatform, on the thread that will turn the main loop; the device lives for the
// process.
RIVLO_API void installHeadlessPlatform();

// Turns the library's main run loop for `seconds`, for hosts without a toolkit event loop: 0
// runs what is due now and returns, infinity runs for good; a negative or not-a-number value is
// logged and treated as 0. Main thread only (the thread that installed the platform); a call
// from another thread is logged and ignored.
RIVLO_API void runMainLoop(double seconds);

}  // namespace rivlo
