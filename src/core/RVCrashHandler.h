#pragma once

#include "core/CrashSignals.h"

namespace rivlo {

// Crash capture for the session controller. installHandlers() puts the uncaught-exception
// handler (through the platform's exception slot) and the six signal handlers in place, each
// chaining to what was there before; the first fatal event then runs RivloHandler::crash() on
// the crash thread (crash record, crash flag, stop with the session document saved) while the
// crashing thread waits for it with a bound, and the crash goes on as it would have without us.
class RVCrashHandler {
  public:
    // Registers installHandlers and saveCrashData as the controller's crash steps. Call once at
    // start-up, before the first start. Any thread.
    static void registerSteps();

    // Installs the handlers (only the first call in a process does anything). Called by the
    // controller's creation; any thread. The options are for tests and tools.
    static void installHandlers();
    static void installHandlers(CrashSignals::Options options);

    // Appends a crash record (run number, application device identifier, now) to the store's
    // crash list, written straight to the defaults file, and sets the session document's crash
    // flag. Called on the crash thread through RivloHandler::crash().
    static void saveCrashData();
};

}  // namespace rivlo
