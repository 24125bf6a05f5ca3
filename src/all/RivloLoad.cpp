// The shared object's one load-time entry point. When librivlo is loaded (by the dynamic
// linker for a program linked against it, or by dlopen) every recorder registers its session
// steps and every hook is installed, before the host's own code runs, as a category's load
// method would. The host needs no special linker flags: the calls below are what pull each
// recorder into the shared object.
//
// Programs inside this build that link the component archives statically get the same
// registrations from each component's load archive (rivlo_load_archive); registering twice
// replaces a subsystem's steps with the same steps and installs each hook once.

#include "camera/RVCameraVideoHandler.h"
#include "core/RVCrashHandler.h"
#include "interaction/RVGestureHandler.h"
#include "interaction/RVTouchHooks.h"
#include "screen/RVViewVideoHandler.h"
#include "timeline/RVHeatTimeHandler.h"
#include "timeline/RVViewControllerHooks.h"
#include "webview/RVWebViewHandler.h"
#include "webview/RVWebViewHooks.h"

namespace rivlo {
namespace {

struct RivloLoad {
    RivloLoad() {
        RVViewVideoHandler::registerSessionSteps();
        RVCameraVideoHandler::registerSessionSteps();
        RVTouchHooks::install();
        RVGestureHandler::registerSessionSteps();
        RVViewControllerHooks::install();
        RVHeatTimeHandler::registerSessionSteps();
        RVWebViewHooks::install();
        RVWebViewHandler::registerSessionSteps();
        // Crash capture: the controller installs the signal and exception handlers at its
        // first start.
        RVCrashHandler::registerSteps();
    }
};

const RivloLoad gLoad;

}  // namespace
}  // namespace rivlo
