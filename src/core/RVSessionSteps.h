#pragma once

#include "foundation/NotificationCenter.h"
#include "foundation/Value.h"

#include <functional>
#include <memory>
#include <string>

namespace rivlo {

class View;

// The recorders, trackers and uploaders the session controller drives register their steps
// here, each subsystem once, when the library starts (before the first start call); closing the
// library forgets them. The controller runs
// them in its own fixed order (see RivloHandler); a step nobody registered is skipped. Each
// step's comment names the thread it is called on.

// Screen recorder.
struct RVScreenRecorderSteps {
    std::function<void()> startScreenRecording;  // main thread
    std::function<void()> stopScreenRecording;   // a thread of its own, not waited for
    std::function<void()> postScreenVideo;       // stop-and-post (global queue)
    std::function<void()> resetSensitiveViews;   // thread of the session start
    std::function<void(const std::shared_ptr<View>&)> addSensitiveView;  // host's thread
};

// Front camera recorder. startCameraRecording settles the consent question and then starts
// the timeline clock and the screen recorder itself (RivloHandler::startTimelineAndScreen).
struct RVCameraRecorderSteps {
    std::function<void()> startCameraRecording;  // main thread
    std::function<void()> stopCameraRecording;   // a thread of its own, not waited for
    std::function<void()> postCameraVideo;       // stop-and-post (global queue)
};

// Screen-visit tracker and timeline.
struct RVTimelineSteps {
    std::function<void()> startTimer;        // main thread
    std::function<void()> resetTimer;        // main thread or the restarting thread
    std::function<void()> reset;             // thread of the session start
    std::function<void()> saveHeatMap;       // thread running stop
    std::function<void()> postHeatTimeData;  // stop-and-post (global queue)
    std::function<void(const std::string& name)> tagScreenName;  // host's thread
};

// Gesture recorder.
struct RVGestureSteps {
    std::function<void()> unregisterGestures;  // stop-and-post (global queue)
    // Delivered while a verified session runs (main thread).
    std::function<void(const Notification&)> deviceOrientationDidChange;
};

// Web view capture.
struct RVWebViewSteps {
    std::function<void()> saveWebViewData;  // thread running stop
    std::function<void()> postWebViewData;  // stop-and-post (global queue)
};

// Crash capture: installed once by the controller's creation; the save step runs on the crash
// path before the controller stops the session.
struct RVCrashSteps {
    std::function<void()> installHandlers;  // thread of the first start
    std::function<void()> saveCrashData;    // the crash handling thread
};

// The registry. Any thread: registration replaces the subsystem's steps as a whole; readers get
// a copy and call it outside the registry's lock.
class RVSessionSteps {
  public:
    static void registerScreenRecorder(RVScreenRecorderSteps steps);
    static void registerCameraRecorder(RVCameraRecorderSteps steps);
    static void registerTimeline(RVTimelineSteps steps);
    static void registerGestures(RVGestureSteps steps);
    static void registerWebViews(RVWebViewSteps steps);
    static void registerCrashCapture(RVCrashSteps steps);

    static RVScreenRecorderSteps screenRecorder();
    static RVCameraRecorderSteps cameraRecorder();
    static RVTimelineSteps timeline();
    static RVGestureSteps gestures();
    static RVWebViewSteps webViews();
    static RVCrashSteps crashCapture();

    // Forgets every registration (tests).
    static void clear();
};

// Runs fn when it is set.
template <class Fn, class... Args>
void runStep(const Fn& fn, Args&&... args) {
    if (fn) fn(std::forward<Args>(args)...);
}

}  // namespace rivlo
