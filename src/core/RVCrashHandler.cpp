#include "core/RVCrashHandler.h"

#include "core/RVCrash.h"
#include "core/RVSessionSteps.h"
#include "core/RivloHandler.h"
#include "platform/Platform.h"
#include "store/RVJSONDataHandler.h"
#include "store/RVPlistHandler.h"

namespace rivlo {

void RVCrashHandler::registerSteps() {
    RVCrashSteps steps;
    steps.installHandlers = [] { installHandlers(); };
    steps.saveCrashData = [] { saveCrashData(); };
    RVSessionSteps::registerCrashCapture(std::move(steps));
}

void RVCrashHandler::installHandlers() {
    installHandlers(CrashSignals::Options());
}

void RVCrashHandler::installHandlers(CrashSignals::Options options) {
    // The crash work runs on the crash thread: the controller saves the record and stops the
    // session (recorders told to stop, timeline, session document and web views saved).
    CrashSignals::install([](const CrashEvent&) { RivloHandler::crash(); }, options,
                          Platform::current().exceptionHandler());
}

void RVCrashHandler::saveCrashData() {
    RVCrash crash;
    RVJSONDataHandler::sharedHandler()->setIsCrash(true);
    RVPlistHandler::sharedHandler()->addCrash(crash.savedDictionary());
}

}  // namespace rivlo
