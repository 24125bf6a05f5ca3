#include "platform/headless/TouchSynthesizer.h"

#include "foundation/Clock.h"
#include "foundation/RunLoop.h"
#include "platform/headless/HeadlessApplication.h"

#include <algorithm>
#include <memory>

namespace rivlo {

namespace {
Touch finger(int id, TouchPhase phase, Point p, Point previous) {
    Touch t;
    t.identifier = id;
    t.phase = phase;
    t.locationInWindow = p;
    t.previousLocationInWindow = previous;
    return t;
}

TouchSynthesizer::Step step(double at, std::vector<Touch> touches) {
    TouchSynthesizer::Step s;
    s.at = at;
    s.event.type = EventType::Touches;
    s.event.touches = std::move(touches);
    return s;
}

int nextFingerId() {
    static int next = 1;  // main thread
    next += 2;
    return next;
}
}  // namespace

TouchSynthesizer::Steps TouchSynthesizer::tap(Point p) {
    const int id = nextFingerId();
    return {step(0, {finger(id, TouchPhase::Began, p, p)}),
            step(0.08, {finger(id, TouchPhase::Ended, p, p)})};
}

TouchSynthesizer::Steps TouchSynthesizer::doubleTap(Point p) {
    Steps out = tap(p);
    for (Step s : tap(p)) {
        s.at += 0.15;
        out.push_back(s);
    }
    return out;
}

TouchSynthesizer::Steps TouchSynthesizer::swipe(Point from, Point to, double duration, int moves) {
    moves = std::clamp(moves, 1, 200);
    duration = std::clamp(duration, 0.01, 60.0);
    const int id = nextFingerId();
    Steps out{step(0, {finger(id, TouchPhase::Began, from, from)})};
    Point prev = from;
    for (int i = 1; i <= moves; ++i) {
        const double f = static_cast<double>(i) / moves;
        const Point p{from.x + (to.x - from.x) * f, from.y + (to.y - from.y) * f};
        out.push_back(step(duration * f, {finger(id, TouchPhase::Moved, p, prev)}));
        prev = p;
    }
    out.push_back(step(duration + 0.01, {finger(id, TouchPhase::Ended, to, to)}));
    return out;
}

TouchSynthesizer::Steps TouchSynthesizer::pinch(Point c, double d0, double d1, double duration,
                                                int moves, bool cancelAtEnd) {
    moves = std::clamp(moves, 1, 200);
    duration = std::clamp(duration, 0.01, 60.0);
    const int a = nextFingerId();
    const int b = a + 1;
    auto at = [&](double d) {
        return std::pair<Point, Point>{{c.x - d / 2, c.y}, {c.x + d / 2, c.y}};
    };
    auto [a0, b0] = at(d0);
    Steps out{step(0, {finger(a, TouchPhase::Began, a0, a0)}),
              step(0.01, {finger(a, TouchPhase::Stationary, a0, a0),
                          finger(b, TouchPhase::Began, b0, b0)})};
    Point pa = a0, pb = b0;
    for (int i = 1; i <= moves; ++i) {
        const double f = static_cast<double>(i) / moves;
        auto [na, nb] = at(d0 + (d1 - d0) * f);
        out.push_back(step(0.01 + duration * f, {finger(a, TouchPhase::Moved, na, pa),
                                                 finger(b, TouchPhase::Moved, nb, pb)}));
        pa = na;
        pb = nb;
    }
    const TouchPhase endPhase = cancelAtEnd ? TouchPhase::Cancelled : TouchPhase::Ended;
    out.push_back(
        step(duration + 0.02, {finger(a, endPhase, pa, pa), finger(b, endPhase, pb, pb)}));
    return out;
}

void TouchSynthesizer::deliverNow(HeadlessApplication& app, const Steps& steps, double base) {
    for (const Step& s : steps) {
        Event e = s.event;
        e.timestamp = base + s.at;
        for (Touch& t : e.touches)
            t.timestamp = e.timestamp;
        app.sendEvent(std::move(e));
    }
}

void TouchSynthesizer::play(HeadlessApplication& app, const Steps& steps,
                            std::function<void()> done) {
    auto remaining = std::make_shared<size_t>(steps.size());
    auto finish = std::make_shared<std::function<void()>>(std::move(done));
    if (steps.empty()) {
        if (*finish) RunLoop::main().post(*finish);
        return;
    }
    // The application may go away before the last step (a test or the demo ending early).
    std::weak_ptr<HeadlessApplication> weakApp = app.weak_from_this();
    // Events carry the times the user meant, not the times a busy run loop got to them, so a
    // loaded machine does not turn a quick swipe into a slow drag or a double tap into two taps.
    const double start = Clock::monotonic();
    for (const Step& s : steps) {
        RunLoop::main().postAfter(RunLoop::Duration(s.at), [weakApp, s, remaining, finish, start] {
            auto app = weakApp.lock();
            if (!app) return;
            Event e = s.event;
            e.timestamp = start + s.at;
            for (Touch& t : e.touches)
                t.timestamp = e.timestamp;
            app->sendEvent(std::move(e));
            if (--*remaining == 0 && *finish) (*finish)();
        });
    }
}

}  // namespace rivlo
