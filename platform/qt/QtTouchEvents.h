#pragma once

#include "platform/Event.h"

#include <QPointF>

#include <functional>
#include <optional>

class QMouseEvent;
class QTouchEvent;

namespace rivlo {

// Qt's pointer events as the library's touch events, for the Qt bridges (widgets and Qt Quick):
// a left-button mouse press, move while down and release from a mouse are one finger; mouse
// events Qt made from touches are left to the touches themselves; each touch point is a finger
// of its own. Main thread only.
class QtTouchEvents {
  public:
    // The mouse finger's phase for this mouse event, or none when it is not the finger's (another
    // button, made from a touch, a press while down, a release or move while up).
    static std::optional<TouchPhase> mousePhase(const QMouseEvent& event, bool mouseDown);
    // The library's event for the mouse finger at `at` (the window's coordinates).
    static Event mouse(TouchPhase phase, Point at);
    // The library's event for a touch event's points; `place` maps a global position into the
    // window's coordinates. `began` tells whether a finger came down.
    static Event touches(const QTouchEvent& event, const std::function<Point(QPointF)>& place,
                         bool& began);
};

}  // namespace rivlo
