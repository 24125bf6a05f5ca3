#include "platform/qt/QtTouchEvents.h"

#include <QMouseEvent>
#include <QPointingDevice>
#include <QTouchEvent>

#include <chrono>

namespace rivlo {

namespace {

constexpr int kMouseFinger = 1;
constexpr int kTouchFingerBase = 100;  // Qt's point ids start at 0

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

TouchPhase phaseOf(QEventPoint::State state) {
    switch (state) {
        case QEventPoint::Pressed:
            return TouchPhase::Began;
        case QEventPoint::Released:
            return TouchPhase::Ended;
        case QEventPoint::Stationary:
            return TouchPhase::Stationary;
        default:
            return TouchPhase::Moved;
    }
}

}  // namespace

std::optional<TouchPhase> QtTouchEvents::mousePhase(const QMouseEvent& event, bool mouseDown) {
    const QPointingDevice* device = event.pointingDevice();
    if (device && device->type() == QInputDevice::DeviceType::TouchScreen) return std::nullopt;
    const QEvent::Type type = event.type();
    const bool press = type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick;
    if (type == QEvent::MouseMove) {
        if (!mouseDown) return std::nullopt;
        return TouchPhase::Moved;
    }
    if (!press && type != QEvent::MouseButtonRelease) return std::nullopt;
    if (event.button() != Qt::LeftButton || press == mouseDown) return std::nullopt;
    return press ? TouchPhase::Began : TouchPhase::Ended;
}

Event QtTouchEvents::mouse(TouchPhase phase, Point at) {
    Event e;
    e.type = EventType::Touches;
    e.timestamp = now();
    Touch touch;
    touch.identifier = kMouseFinger;
    touch.timestamp = e.timestamp;
    touch.phase = phase;
    touch.locationInWindow = at;
    touch.previousLocationInWindow = at;
    e.touches.push_back(touch);
    return e;
}

Event QtTouchEvents::touches(const QTouchEvent& event, const std::function<Point(QPointF)>& place,
                             bool& began) {
    Event e;
    e.type = EventType::Touches;
    e.timestamp = now();
    began = false;
    for (const QEventPoint& point : event.points()) {
        Touch touch;
        touch.identifier = kTouchFingerBase + point.id();
        touch.timestamp = e.timestamp;
        touch.phase =
            event.type() == QEvent::TouchCancel ? TouchPhase::Cancelled : phaseOf(point.state());
        began |= touch.phase == TouchPhase::Began;
        touch.locationInWindow = place(point.globalPosition());
        touch.previousLocationInWindow = place(point.globalLastPosition());
        e.touches.push_back(touch);
    }
    return e;
}

}  // namespace rivlo
