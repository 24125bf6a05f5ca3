#include "all/RivloRecorders.h"

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

void RivloRecorders::registerAll() {
    RVViewVideoHandler::registerSessionSteps();
    RVCameraVideoHandler::registerSessionSteps();
    RVTouchHooks::install();
    RVGestureHandler::registerSessionSteps();
    RVViewControllerHooks::install();
    RVHeatTimeHandler::registerSessionSteps();
    RVWebViewHooks::install();
    RVWebViewHandler::registerSessionSteps();
    // Crash capture: the controller installs the signal and exception handlers at its first
    // start, and close takes them out again.
    RVCrashHandler::registerSteps();
}

}  // namespace rivlo
