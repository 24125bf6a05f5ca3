#pragma once

#include "foundation/EventLoop.h"
#include "foundation/NotificationCenter.h"
#include "platform/Geometry.h"
#include "protocol/RVWireProtocol.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <mutex>
#include <vector>

namespace rivlo {

class GestureRecognizer;
class PinchGestureRecognizer;
class SwipeGestureRecognizer;
class TapGestureRecognizer;

// The process-wide gesture recorder. It owns seven recognisers (single tap, double tap, four
// swipes, pinch) that the window hit-test hook attaches to the key window on each new touch;
// each recognised gesture becomes one coordinate record on the current screen's timeline entry
// and a gesture code for the screen recorder. Device orientation changes (delivered while a
// verified session runs) become timeline records of their own, 0.1 s after the last change.
//
// The touch point is not taken from the recognisers: it is the heat-map point the hooks stored
// on RVHeatTimeHandler for the latest new touch.
//
// Threads: everything runs on the main thread (recogniser actions, orientation notifications,
// the delayed orientation record) except unregisterGestures, which the session controller calls
// on its stopping thread: it hands the detaching to the main thread, where views live.
class RVGestureHandler {
  public:
    // The shared recorder with its recognisers, created once (thread-safely), freed when the
    // library closes.
    static RVGestureHandler* sharedHandler();

    // Registers the recorder's steps with the session controller. Called when the library
    // starts (rivlo_init).
    static void registerSessionSteps();

    // Main thread. Attaches the seven recognisers, in list order, to the current key window
    // (moving them there from a previous window); nothing without a key window.
    void registerGesture();
    // Any thread. Detaches every recogniser from its view (on the main thread: at once when
    // called there, else posted to it), clears the registered flag and, after the detach, has
    // the window hook take the next touch as new.
    void unregisterGestures();
    bool gestureRecognizersRegistered() const { return registered_.load(); }

    // The recognisers, in the order single tap, double tap, left, right, up, down, pinch.
    const std::vector<std::shared_ptr<GestureRecognizer>>& gestureRecogniserList() const {
        return list_;
    }
    const std::shared_ptr<TapGestureRecognizer>& singleTapGesture() const { return singleTap_; }
    const std::shared_ptr<TapGestureRecognizer>& doubleTapGesture() const { return doubleTap_; }
    const std::shared_ptr<PinchGestureRecognizer>& pinchGesture() const { return pinch_; }

    // Recogniser actions (main thread).
    void singleTapRecognizer(GestureRecognizer& recognizer);
    void doubleTapRecognizer(GestureRecognizer& recognizer);
    // Maps the swipe's reported direction through the status-bar orientation, then calls the
    // matching per-direction operation. Unknown orientations and directions record nothing.
    void recognizeGesture(GestureRecognizer& recognizer);
    void swipeRecognizerLeft(GestureRecognizer& recognizer);
    void swipeRecognizerRight(GestureRecognizer& recognizer);
    void swipeRecognizerUp(GestureRecognizer& recognizer);
    void swipeRecognizerDown(GestureRecognizer& recognizer);
    // Records only an ended pinch: scale at least 1.0 is outwards, below 1.0 inwards.
    void pinchRecognizer(GestureRecognizer& recognizer);

    // The direction a swipe reported as `reported` (1 right, 2 left, 4 up, 8 down) means under
    // the status-bar orientation `interfaceOrientation`; 0 when either is unknown.
    static int mappedSwipeDirection(int interfaceOrientation, int reported);

    // Records one gesture: the gesture code to the screen recorder, and a coordinate record
    // (content or heat-map point, orientation code, event code, 1, timeline second, heat-map
    // point) merged into the timeline under the current screen. Nothing until the session's
    // verification has succeeded. Main thread. `at`: where the gesture happened (window
    // points) when that is not the last new touch's point (a pinch: the centre between its
    // fingers); the record's points are moved there.
    void recordGestureType(int32_t gesture, int32_t timelineConstant,
                           std::optional<Point> at = std::nullopt);

    // Observer of the device orientation notification (main thread): ignores unknown, face up,
    // face down and the orientation already accepted; otherwise accepts it and (re)schedules
    // orientationChanged 0.1 s later, so a burst of changes gives one record.
    void deviceOrientationDidChange(const Notification& notification);
    // Records one orientation change: (-999, -999, orientation code, 10, 1, second, -999, -999).
    void orientationChanged();
    int currentOrientation() const { return currentOrientation_.load(); }

  private:
    RVGestureHandler();
    void initializeGesture();

    class Delegate;
    std::shared_ptr<Delegate> delegate_;
    std::shared_ptr<TapGestureRecognizer> singleTap_;
    std::shared_ptr<TapGestureRecognizer> doubleTap_;
    std::shared_ptr<SwipeGestureRecognizer> swipeLeft_, swipeRight_, swipeUp_, swipeDown_;
    std::shared_ptr<PinchGestureRecognizer> pinch_;
    std::vector<std::shared_ptr<GestureRecognizer>> list_;

    std::atomic<bool> registered_{false};
    std::atomic<int> currentOrientation_{0};
    std::mutex pendingMutex_;  // the delayed orientation record
    DelayedCall pendingOrientation_;
};

}  // namespace rivlo
