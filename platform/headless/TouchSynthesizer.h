#pragma once

#include "platform/Event.h"

#include <functional>
#include <vector>

namespace rivlo {

class HeadlessApplication;

// Builds the touch events of a user's gesture. Each step carries its time in seconds from
// the gesture's start; every event lists all fingers down (and those lifting in it).
class TouchSynthesizer {
  public:
    struct Step {
        double at = 0;
        Event event;
    };
    using Steps = std::vector<Step>;

    static Steps tap(Point p);
    // Two taps 0.15 s apart.
    static Steps doubleTap(Point p);
    static Steps swipe(Point from, Point to, double duration = 0.2, int moves = 8);
    // Two fingers on a horizontal line through the centre, moving from one distance apart to
    // another.
    static Steps pinch(Point center, double fromDistance, double toDistance, double duration = 0.4,
                       int moves = 8, bool cancelAtEnd = false);

    // Delivers the steps at once, with timestamps `base` + step time. Main thread.
    static void deliverNow(HeadlessApplication& app, const Steps& steps, double base);
    // Delivers the steps in real time on the main run loop (timestamps: the steady clock at
    // the call plus each step's time),
    // then calls `done`. Any thread. Steps due after the application is gone are dropped
    // (and `done` is not called).
    static void play(HeadlessApplication& app, const Steps& steps, std::function<void()> done);
};

}  // namespace rivlo
