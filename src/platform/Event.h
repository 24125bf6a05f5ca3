#pragma once

#include "platform/Geometry.h"

#include <memory>
#include <vector>

namespace rivlo {

class View;
class Window;

enum class TouchPhase { Began = 0, Moved = 1, Stationary = 2, Ended = 3, Cancelled = 4 };

// One finger of a touch event. Locations are in the window's coordinates.
struct Touch {
    int identifier = 0;  // stays the same for one finger from began to ended
    TouchPhase phase = TouchPhase::Began;
    Point locationInWindow;
    Point previousLocationInWindow;
    int tapCount = 1;
    double timestamp = 0;  // seconds, steady clock
    std::weak_ptr<Window> window;
    std::weak_ptr<View> view;  // the view the hit test found when the touch began
};

enum class EventType { Touches = 0, Motion = 1 };
// Motion subtypes: 0 none, 1 shake.
inline constexpr int EventSubtypeMotionShake = 1;

struct Event {
    EventType type = EventType::Touches;
    int subtype = 0;
    double timestamp = 0;
    std::vector<Touch> touches;  // every finger currently down or just lifted
};

}  // namespace rivlo
