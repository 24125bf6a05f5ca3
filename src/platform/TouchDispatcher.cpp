#include "platform/TouchDispatcher.h"

#include "platform/View.h"
#include "platform/Window.h"

#include <cmath>

namespace rivlo {

namespace {
constexpr double kMultiTapInterval = 0.35;  // seconds between one tap's end and the next's start
constexpr double kMultiTapDistance = 40.0;  // points between the two taps
constexpr double kStillSlop = 10.0;         // a finger that moved less ended a tap
}  // namespace

void TouchDispatcher::reset() {
    gestures_.reset();
    fingers_.clear();
    lastTapTime_ = -1;
    lastTapCount_ = 0;
}

void TouchDispatcher::dispatch(Event& event, const std::shared_ptr<Window>& window) {
    if (!window || event.type != EventType::Touches) return;
    std::map<int, std::shared_ptr<View>> hitViews;
    for (Touch& t : event.touches) {
        t.window = window;
        if (t.phase == TouchPhase::Began) {
            FingerInfo info;
            info.start = t.locationInWindow;
            const bool near =
                std::hypot(t.locationInWindow.x - lastTapPoint_.x,
                           t.locationInWindow.y - lastTapPoint_.y) <= kMultiTapDistance;
            info.tapCount =
                (lastTapTime_ >= 0 && t.timestamp - lastTapTime_ <= kMultiTapInterval && near)
                    ? lastTapCount_ + 1
                    : 1;
            fingers_[t.identifier] = info;
            auto hit = window->hitTest(t.locationInWindow, &event);
            if (hitObserver_) hitObserver_(t.locationInWindow, hit);
            hitViews[t.identifier] = hit;
            t.view = hit;
        }
        auto f = fingers_.find(t.identifier);
        if (f != fingers_.end()) t.tapCount = f->second.tapCount;
    }
    gestures_.handle(event, *window, hitViews);
    for (const Touch& t : event.touches) {
        if (t.phase != TouchPhase::Ended && t.phase != TouchPhase::Cancelled) continue;
        auto f = fingers_.find(t.identifier);
        if (f == fingers_.end()) continue;
        const bool still = std::hypot(t.locationInWindow.x - f->second.start.x,
                                      t.locationInWindow.y - f->second.start.y) <= kStillSlop;
        if (t.phase == TouchPhase::Ended && still && fingers_.size() == 1) {
            lastTapTime_ = t.timestamp;
            lastTapPoint_ = t.locationInWindow;
            lastTapCount_ = f->second.tapCount;
        } else {
            lastTapTime_ = -1;
            lastTapCount_ = 0;
        }
        fingers_.erase(f);
    }
}

}  // namespace rivlo
