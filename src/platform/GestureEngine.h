#pragma once

#include "platform/Event.h"
#include "platform/GestureRecognizer.h"

#include <map>
#include <memory>
#include <vector>

namespace rivlo {

class Window;

// Recognises gestures from touch sequences for the recognisers attached along the hit view's
// chain (the hit view, its superviews, the window). One sequence runs from the first finger
// down to the last finger up. Rules:
//  - tap: one finger, moved at most 10 points, down at most 0.75 s; a recogniser requiring n
//    taps fires when the touch's tap count is a multiple of n (so a double tap fires the
//    single-tap recogniser on both taps and the double-tap recogniser on the second);
//  - swipe: one finger that travels at least 50 points within 1 s, mostly along one axis
//    (sideways drift at most half the travel); fires once, when the travel is reached, for
//    recognisers whose direction mask holds that direction;
//  - pinch: two fingers; begins when their distance changed by 4 points, reports changes,
//    and ends when a finger lifts (cancelled when the touches are cancelled); scale is the
//    distance relative to the distance when the second finger came down.
// Before recognising, the delegate's should-begin is asked; a recogniser may recognise in the
// same sequence as another only when one of the two delegates allows it. Actions run at once,
// on the calling (main) thread.
class GestureEngine {
  public:
    // Main thread. `hitView` is the view hit-tested for each new finger (indexed by touch id).
    void handle(const Event& event, Window& window,
                const std::map<int, std::shared_ptr<View>>& hitViews);
    // Drops the running sequence (for example when the window goes away).
    void reset();

  private:
    struct Track {
        Point start;
        double startTime = 0;
        Point last;
        bool down = true;
    };
    struct PerRecognizer {
        std::shared_ptr<GestureRecognizer> recognizer;
        bool failed = false;
        bool done = false;
        bool began = false;
        double startDistance = 0;
    };

    void addRecognizersFor(View* view, const Touch& touch);
    bool tryRecognize(PerRecognizer& per, GestureState state, Point location);
    void finishSequence();
    void evaluate(PerRecognizer& per, const Event& event);

    bool active_ = false;
    std::map<int, Track> tracks_;
    int maxFingers_ = 0;
    std::vector<PerRecognizer> recognizers_;
    std::vector<GestureRecognizer*> recognized_;
};

}  // namespace rivlo
