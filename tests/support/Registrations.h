#pragma once

// What the library's start (rivlo_init, RivloRecorders::registerAll) registers for each
// recorder, for suites and benchmarks that link some recorders' archives and drive the session
// controller without starting the library. A suite registers the recorders it links, once,
// before its first test:
//
//     const bool kRegistered = (test::registerScreenRecorder(), true);
//
// Only the functions a suite calls are linked, so a suite without the web view archive can
// include this header too.

#include "camera/RVCameraVideoHandler.h"
#include "interaction/RVGestureHandler.h"
#include "interaction/RVTouchHooks.h"
#include "screen/RVViewVideoHandler.h"
#include "timeline/RVHeatTimeHandler.h"
#include "timeline/RVViewControllerHooks.h"
#include "webview/RVWebViewHandler.h"
#include "webview/RVWebViewHooks.h"

namespace rivlo::test {

inline void registerScreenRecorder() {
    RVViewVideoHandler::registerSessionSteps();
}

inline void registerCameraRecorder() {
    RVCameraVideoHandler::registerSessionSteps();
}

// The touch and motion hooks and the gesture recorder.
inline void registerInteraction() {
    RVTouchHooks::install();
    RVGestureHandler::registerSessionSteps();
}

// The screen-naming hooks and the timeline.
inline void registerTimeline() {
    RVViewControllerHooks::install();
    RVHeatTimeHandler::registerSessionSteps();
}

// The web view hook and the web view registry.
inline void registerWebViews() {
    RVWebViewHooks::install();
    RVWebViewHandler::registerSessionSteps();
}

}  // namespace rivlo::test
