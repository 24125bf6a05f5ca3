// Load-time registration of crash capture for programs that link the whole library (the
// `rivlo` target): the controller installs the signal and exception handlers at its first
// start. Kept out of the core library itself, so that programs linking only pieces of it (the
// suites among them) install no handlers unless they ask for them.

#include "core/RVCrashHandler.h"

namespace rivlo {
namespace {

struct RVCrashLoad {
    RVCrashLoad() { RVCrashHandler::registerSteps(); }
};

const RVCrashLoad gLoad;

}  // namespace
}  // namespace rivlo
