#include "platform/GestureEngine.h"

#include "platform/View.h"
#include "platform/Window.h"

#include <algorithm>
#include <cmath>

namespace rivlo {

namespace {
constexpr double kTapSlop = 10.0;
constexpr double kTapMaxDuration = 0.75;
constexpr double kSwipeMinTravel = 50.0;
constexpr double kSwipeMaxDuration = 1.0;
constexpr double kSwipeMinSpeed = 150.0;  // points per second
constexpr double kPinchSlop = 4.0;

double distance(Point a, Point b) {
    return std::hypot(a.x - b.x, a.y - b.y);
}
}  // namespace

void GestureEngine::reset() {
    for (auto& per : recognizers_)
        per.recognizer->setState(GestureState::Possible);
    active_ = false;
    tracks_.clear();
    maxFingers_ = 0;
    recognizers_.clear();
    recognized_.clear();
}

void GestureEngine::addRecognizersFor(View* view, const Touch& touch) {
    for (View* v = view; v; v = v->superview()) {
        for (const auto& r : v->gestureRecognizers()) {
            if (!r->isEnabled()) continue;
            const bool known =
                std::any_of(recognizers_.begin(), recognizers_.end(),
                            [&](const PerRecognizer& p) { return p.recognizer == r; });
            if (known) continue;
            if (auto d = r->delegate().lock()) {
                if (!d->shouldReceiveTouch(*r, touch)) continue;
            }
            r->setState(GestureState::Possible);
            recognizers_.push_back({r});
        }
    }
}

bool GestureEngine::tryRecognize(PerRecognizer& per, GestureState state, Point location) {
    GestureRecognizer& r = *per.recognizer;
    if (auto d = r.delegate().lock()) {
        if (!d->gestureRecognizerShouldBegin(r)) {
            per.failed = true;
            r.setState(GestureState::Failed);
            return false;
        }
    }
    for (GestureRecognizer* other : recognized_) {
        if (other == &r) continue;
        bool allowed = false;
        if (auto d = r.delegate().lock()) allowed = d->shouldRecognizeSimultaneously(r, *other);
        if (!allowed) {
            if (auto d = other->delegate().lock())
                allowed = d->shouldRecognizeSimultaneously(*other, r);
        }
        if (!allowed) {
            per.failed = true;
            r.setState(GestureState::Failed);
            return false;
        }
    }
    recognized_.push_back(&r);
    r.setLocationInWindow(location);
    r.setState(state);
    auto keep = per.recognizer;  // an action may detach it
    keep->sendActions();
    return true;
}

void GestureEngine::evaluate(PerRecognizer& per, const Event& event) {
    if (per.failed || per.done) return;
    GestureRecognizer& r = *per.recognizer;
    const bool allUp =
        std::none_of(tracks_.begin(), tracks_.end(), [](const auto& t) { return t.second.down; });
    switch (r.kind()) {
        case GestureRecognizer::Kind::Tap: {
            auto& tap = static_cast<TapGestureRecognizer&>(r);
            if (maxFingers_ > 1) {
                per.failed = true;
                return;
            }
            for (const Touch& t : event.touches) {
                auto it = tracks_.find(t.identifier);
                if (it == tracks_.end()) continue;
                if (distance(t.locationInWindow, it->second.start) > kTapSlop ||
                    t.timestamp - it->second.startTime > kTapMaxDuration) {
                    per.failed = true;
                    return;
                }
                if (t.phase == TouchPhase::Cancelled) {
                    per.failed = true;
                    return;
                }
                if (t.phase == TouchPhase::Ended && allUp) {
                    if (t.tapCount % tap.numberOfTapsRequired() == 0) {
                        per.done = tryRecognize(per, GestureState::Ended, t.locationInWindow);
                    } else {
                        per.failed = true;
                    }
                }
            }
            return;
        }
        case GestureRecognizer::Kind::Swipe: {
            auto& swipe = static_cast<SwipeGestureRecognizer&>(r);
            if (maxFingers_ > 1) {
                per.failed = true;
                return;
            }
            for (const Touch& t : event.touches) {
                auto it = tracks_.find(t.identifier);
                if (it == tracks_.end() || t.phase == TouchPhase::Began) continue;
                if (t.phase == TouchPhase::Cancelled) {
                    per.failed = true;
                    return;
                }
                const double dx = t.locationInWindow.x - it->second.start.x;
                const double dy = t.locationInWindow.y - it->second.start.y;
                const bool horizontal = std::fabs(dx) >= std::fabs(dy);
                const double travel = horizontal ? std::fabs(dx) : std::fabs(dy);
                const double drift = horizontal ? std::fabs(dy) : std::fabs(dx);
                if (t.timestamp - it->second.startTime > kSwipeMaxDuration) {
                    per.failed = true;
                    return;
                }
                if (travel >= kSwipeMinTravel) {
                    const double elapsed = std::max(1e-3, t.timestamp - it->second.startTime);
                    if (drift > travel * 0.5 || travel / elapsed < kSwipeMinSpeed) {
                        per.failed = true;
                        return;
                    }
                    const int dir = horizontal
                                        ? (dx > 0 ? SwipeDirection::Right : SwipeDirection::Left)
                                        : (dy > 0 ? SwipeDirection::Down : SwipeDirection::Up);
                    if ((swipe.direction() & dir) == 0) {
                        per.failed = true;
                        return;
                    }
                    per.done = tryRecognize(per, GestureState::Ended, it->second.start);
                    return;
                }
                if (t.phase == TouchPhase::Ended) {
                    per.failed = true;
                    return;
                }
            }
            return;
        }
        case GestureRecognizer::Kind::Pinch: {
            auto& pinch = static_cast<PinchGestureRecognizer&>(r);
            // The first two fingers of the sequence.
            std::vector<const Touch*> two;
            for (const Touch& t : event.touches) {
                if (tracks_.count(t.identifier) && two.size() < 2) two.push_back(&t);
            }
            const bool cancelled =
                std::any_of(event.touches.begin(), event.touches.end(),
                            [](const Touch& t) { return t.phase == TouchPhase::Cancelled; });
            if (two.size() < 2) {
                if (per.began) {
                    r.setState(cancelled ? GestureState::Cancelled : GestureState::Ended);
                    per.done = true;
                    auto keep = per.recognizer;
                    keep->sendActions();
                } else if (allUp) {
                    per.failed = true;
                }
                return;
            }
            const double d = distance(two[0]->locationInWindow, two[1]->locationInWindow);
            const Point mid{(two[0]->locationInWindow.x + two[1]->locationInWindow.x) / 2,
                            (two[0]->locationInWindow.y + two[1]->locationInWindow.y) / 2};
            if (per.startDistance <= 0) {
                // The second finger just came down: the reference distance.
                per.startDistance = d > 0 ? d : 1;
                return;
            }
            const bool lifting = two[0]->phase == TouchPhase::Ended ||
                                 two[1]->phase == TouchPhase::Ended || cancelled;
            pinch.setScale(d / per.startDistance);
            if (!per.began) {
                if (lifting) {
                    per.failed = true;
                    return;
                }
                if (std::fabs(d - per.startDistance) >= kPinchSlop) {
                    per.began = tryRecognize(per, GestureState::Began, mid);
                }
                return;
            }
            r.setLocationInWindow(mid);
            if (lifting) {
                r.setState(cancelled ? GestureState::Cancelled : GestureState::Ended);
                per.done = true;
            } else {
                r.setState(GestureState::Changed);
            }
            auto keep = per.recognizer;
            keep->sendActions();
            return;
        }
    }
}

void GestureEngine::handle(const Event& event, Window& window,
                           const std::map<int, std::shared_ptr<View>>& hitViews) {
    if (event.type != EventType::Touches) return;
    for (const Touch& t : event.touches) {
        if (t.phase == TouchPhase::Began) {
            if (!active_) {
                active_ = true;
                recognized_.clear();
            }
            tracks_[t.identifier] = {t.locationInWindow, t.timestamp, t.locationInWindow, true};
            maxFingers_ =
                std::max(maxFingers_,
                         static_cast<int>(std::count_if(tracks_.begin(), tracks_.end(),
                                                        [](auto& tr) { return tr.second.down; })));
            auto hv = hitViews.find(t.identifier);
            View* start = hv != hitViews.end() && hv->second ? hv->second.get() : &window;
            addRecognizersFor(start, t);
        }
    }
    if (!active_) return;
    // Fingers that lift in this event still count for it; they are marked up first so the
    // recognisers can tell the last finger from the others.
    for (const Touch& t : event.touches) {
        auto it = tracks_.find(t.identifier);
        if (it == tracks_.end()) continue;
        it->second.last = t.locationInWindow;
        if (t.phase == TouchPhase::Ended || t.phase == TouchPhase::Cancelled)
            it->second.down = false;
    }
    auto list = recognizers_;  // actions may attach or detach recognisers
    for (size_t i = 0; i < list.size(); ++i) {
        evaluate(recognizers_[i], event);
    }
    const bool allUp =
        std::none_of(tracks_.begin(), tracks_.end(), [](const auto& t) { return t.second.down; });
    if (allUp) finishSequence();
}

void GestureEngine::finishSequence() {
    for (auto& per : recognizers_)
        per.recognizer->setState(GestureState::Possible);
    active_ = false;
    tracks_.clear();
    maxFingers_ = 0;
    recognizers_.clear();
    recognized_.clear();
}

}  // namespace rivlo
