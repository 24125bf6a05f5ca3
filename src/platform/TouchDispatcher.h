#pragma once

#include "platform/Event.h"
#include "platform/GestureEngine.h"

#include <functional>
#include <map>
#include <memory>

namespace rivlo {

class View;
class Window;

// The touch path every platform shares, from a window's touch events to its recognisers:
// each new finger gets its tap count (a tap soon after and near the previous single-finger tap
// counts on from it) and is hit-tested through the window's method table ("hitTest:withEvent:",
// so hooks installed there see the touch), then the event goes to the gesture engine with the
// hit views. Main thread only.
class TouchDispatcher {
  public:
    // Called for every hit test made for a new finger, with the point and the view found.
    using HitObserver = std::function<void(Point point, const std::shared_ptr<View>& hit)>;
    void setHitObserver(HitObserver observer) { hitObserver_ = std::move(observer); }

    // Delivers one touch event to the window: fills in each touch's window, hit view and tap
    // count, then recognises.
    void dispatch(Event& event, const std::shared_ptr<Window>& window);
    // Drops the running sequence (the window went away, or the platform cancelled it).
    void reset();
    // True while at least one finger is down.
    bool inSequence() const { return !fingers_.empty(); }

  private:
    struct FingerInfo {
        int tapCount = 1;
        Point start;
    };
    GestureEngine gestures_;
    std::map<int, FingerInfo> fingers_;
    double lastTapTime_ = -1;
    Point lastTapPoint_;
    int lastTapCount_ = 0;
    HitObserver hitObserver_;
};

}  // namespace rivlo
