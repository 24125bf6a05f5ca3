#include "platform/View.h"

#include "foundation/Log.h"
#include "foundation/RunLoop.h"
#include "platform/GestureRecognizer.h"
#include "platform/Window.h"

#include <algorithm>
#include <cmath>

namespace rivlo {

View::View(Rect frame, ObjClass* cls) : Responder(cls) {
    setFrame(frame);
}

View::~View() {
    for (auto& sub : subviews_) {
        if (sub->superview_ == this) sub->superview_ = nullptr;
    }
    for (auto& r : recognizers_) {
        if (r->view_ == this) r->view_ = nullptr;
    }
}

Rect View::frame() const {
    const double w = bounds_.size.width;
    const double h = bounds_.size.height;
    if (transform_.isIdentity()) {
        return Rect(center_.x - w / 2, center_.y - h / 2, w, h);
    }
    const Point corners[4] = {toSuperview(bounds_.origin),
                              toSuperview({bounds_.origin.x + w, bounds_.origin.y}),
                              toSuperview({bounds_.origin.x, bounds_.origin.y + h}),
                              toSuperview({bounds_.origin.x + w, bounds_.origin.y + h})};
    double x0 = corners[0].x, x1 = x0, y0 = corners[0].y, y1 = y0;
    for (const Point& c : corners) {
        x0 = std::min(x0, c.x);
        x1 = std::max(x1, c.x);
        y0 = std::min(y0, c.y);
        y1 = std::max(y1, c.y);
    }
    return Rect(x0, y0, x1 - x0, y1 - y0);
}

void View::setFrame(const Rect& f) {
    const double w = std::max(0.0, f.size.width);
    const double h = std::max(0.0, f.size.height);
    Rect b = bounds_;
    b.size = {w, h};
    setBounds(b);
    center_ = {f.origin.x + w / 2, f.origin.y + h / 2};
}

void View::setBounds(const Rect& b) {
    const Size old = bounds_.size;
    bounds_ = b;
    bounds_.size.width = std::max(0.0, b.size.width);
    bounds_.size.height = std::max(0.0, b.size.height);
    if (bounds_.size == old) return;
    for (auto& sub : subviews_) {
        if (sub->fillsSuperview_) sub->setFrame(Rect({0, 0}, bounds_.size));
    }
}

void View::setAlpha(double alpha) {
    if (std::isnan(alpha)) alpha = 1.0;
    alpha_ = std::clamp(alpha, 0.0, 1.0);
}

Window* View::window() const {
    const View* v = this;
    while (v->superview_)
        v = v->superview_;
    return dynamic_cast<Window*>(const_cast<View*>(v));
}

void View::addSubview(const std::shared_ptr<View>& view) {
    insertSubview(view, subviews_.size() + 1);
}

void View::insertSubview(const std::shared_ptr<View>& view, size_t index) {
    if (!view) return;
    if (view.get() == this || isDescendantOfView(view.get())) {
        RVLog("View: refusing to add a view into its own subtree");
        return;
    }
    std::shared_ptr<View> keep = view;
    Window* oldWindow = view->window();
    if (view->superview_ == this) {
        auto it = std::find(subviews_.begin(), subviews_.end(), view);
        if (it != subviews_.end()) subviews_.erase(it);
    } else if (view->superview_) {
        view->removeFromSuperview();
    }
    index = std::min(index, subviews_.size());
    subviews_.insert(subviews_.begin() + static_cast<std::ptrdiff_t>(index), keep);
    keep->superview_ = this;
    if (keep->fillsSuperview_) keep->setFrame(Rect({0, 0}, bounds_.size));
    if (keep->window() != oldWindow) keep->notifyMovedToWindow();
}

void View::removeFromSuperview() {
    View* parent = superview_;
    if (!parent) return;
    std::shared_ptr<View> keep = sharedView();  // the parent may hold the only reference
    Window* oldWindow = window();
    auto& list = parent->subviews_;
    auto it = std::find_if(list.begin(), list.end(), [this](auto& v) { return v.get() == this; });
    superview_ = nullptr;
    std::shared_ptr<View> held;
    if (it != list.end()) {
        held = std::move(*it);
        list.erase(it);
    }
    if (oldWindow) notifyMovedToWindow();
}

bool View::isDescendantOfView(const View* view) const {
    for (const View* v = this; v; v = v->superview_) {
        if (v == view) return true;
    }
    return false;
}

std::shared_ptr<View> View::findViewWithIdentifier(const std::string& id) {
    if (identifier_ == id) return sharedView();
    for (auto& sub : subviews_) {
        if (auto found = sub->findViewWithIdentifier(id)) return found;
    }
    return nullptr;
}

void View::notifyMovedToWindow() {
    didMoveToWindow();
    auto subs = subviews_;
    for (auto& sub : subs)
        sub->notifyMovedToWindow();
}

Point View::toSuperview(Point p) const {
    const Point local{p.x - bounds_.origin.x - bounds_.size.width / 2,
                      p.y - bounds_.origin.y - bounds_.size.height / 2};
    const Point t = transform_.apply(local);
    return {center_.x + t.x, center_.y + t.y};
}

Point View::fromSuperview(Point p) const {
    Point rel{p.x - center_.x, p.y - center_.y};
    if (!transform_.isIdentity()) {
        auto inv = transform_.inverted();
        if (!inv) return {NAN, NAN};
        rel = inv->apply(rel);
    }
    return {rel.x + bounds_.origin.x + bounds_.size.width / 2,
            rel.y + bounds_.origin.y + bounds_.size.height / 2};
}

Point View::convertPointToView(Point p, const View* target) const {
    // Up to the root of this tree.
    const View* v = this;
    while (v->superview_) {
        p = v->toSuperview(p);
        v = v->superview_;
    }
    const View* root = v;
    if (!target) return p;  // the root's (the window's) coordinates
    std::vector<const View*> chain;
    for (const View* t = target; t; t = t->superview_)
        chain.push_back(t);
    const View* targetRoot = chain.back();
    if (targetRoot != root) {
        // Different windows: through the screen, where each window's frame places it.
        p = root->toSuperview(p);
        p = targetRoot->fromSuperview(p);
    }
    // Down from the target's root to the target.
    for (auto it = chain.rbegin() + 1; it != chain.rend(); ++it)
        p = (*it)->fromSuperview(p);
    return p;
}

Point View::convertPointFromView(Point p, const View* source) const {
    if (source) return source->convertPointToView(p, this);
    // From the window's (root's) coordinates to this view.
    std::vector<const View*> chain;
    for (const View* t = this; t; t = t->superview_)
        chain.push_back(t);
    for (auto it = chain.rbegin() + 1; it != chain.rend(); ++it)
        p = (*it)->fromSuperview(p);
    return p;
}

namespace {
Rect boundingRect(const Point (&c)[4]) {
    double x0 = c[0].x, x1 = x0, y0 = c[0].y, y1 = y0;
    for (const Point& p : c) {
        x0 = std::min(x0, p.x);
        x1 = std::max(x1, p.x);
        y0 = std::min(y0, p.y);
        y1 = std::max(y1, p.y);
    }
    return Rect(x0, y0, x1 - x0, y1 - y0);
}
}  // namespace

Rect View::convertRectToView(const Rect& r, const View* view) const {
    const Point c[4] = {convertPointToView(r.origin, view),
                        convertPointToView({r.maxX(), r.minY()}, view),
                        convertPointToView({r.minX(), r.maxY()}, view),
                        convertPointToView({r.maxX(), r.maxY()}, view)};
    return boundingRect(c);
}

Rect View::convertRectFromView(const Rect& r, const View* view) const {
    const Point c[4] = {convertPointFromView(r.origin, view),
                        convertPointFromView({r.maxX(), r.minY()}, view),
                        convertPointFromView({r.minX(), r.maxY()}, view),
                        convertPointFromView({r.maxX(), r.maxY()}, view)};
    return boundingRect(c);
}

std::shared_ptr<View> View::hitTest(Point p, const Event* event) {
    IMP imp = objClass()->lookup(Selector::hitTestWithEvent);
    return invokeImplementation<HitTestFn>(imp, Selector::hitTestWithEvent, *this, p, event);
}

std::shared_ptr<View> View::defaultHitTest(Point p, const Event* event) {
    if (hidden_ || !userInteractionEnabled_ || alpha_ < 0.01) return nullptr;
    if (!pointInside(p, event)) return nullptr;
    // The subviews to ask, front to back. A subview whose class answers with the toolkit's own
    // entry, and which that entry would turn away (hidden, transparent, not interactive, the
    // point outside), is passed over without a dispatch: nothing would run for it. That keeps
    // a touch on a window of hundreds of views cheap. The others are held, since a hook may
    // change the tree while they are asked.
    std::vector<std::pair<std::shared_ptr<View>, Point>> asked;
    for (auto it = subviews_.rbegin(); it != subviews_.rend(); ++it) {
        View& sub = **it;
        const Point q = sub.fromSuperview(p);
        const bool turnedAway = sub.hidden_ || !sub.userInteractionEnabled_ || sub.alpha_ < 0.01 ||
                                !sub.pointInside(q, event);
        if (turnedAway && sub.objClass()->usesToolkitHitTest()) continue;
        asked.emplace_back(*it, q);
    }
    for (const auto& [sub, q] : asked) {
        if (auto hit = sub->hitTest(q, event)) return hit;
    }
    return sharedView();
}

bool View::pointInside(Point p, const Event*) const {
    return bounds_.contains(p);
}

void View::addGestureRecognizer(const std::shared_ptr<GestureRecognizer>& r) {
    if (!r) return;
    if (r->view_ == this) return;
    if (r->view_) {
        // Moving: detach from the old view first.
        View* old = r->view_;
        auto keep = r;
        old->removeGestureRecognizer(keep);
    }
    recognizers_.push_back(r);
    r->view_ = this;
    r->setState(GestureState::Possible);
}

void View::removeGestureRecognizer(const std::shared_ptr<GestureRecognizer>& r) {
    if (!r) return;
    auto it = std::find(recognizers_.begin(), recognizers_.end(), r);
    if (it == recognizers_.end()) return;
    auto keep = *it;
    recognizers_.erase(it);
    if (keep->view_ == this) keep->view_ = nullptr;
}

void View::animate(double duration, const std::function<void()>& animations,
                   std::function<void(bool finished)> completion) {
    if (animations) animations();
    if (completion) {
        RunLoop::main().postAfter(RunLoop::Duration(std::max(0.0, duration)),
                                  [completion = std::move(completion)] { completion(true); });
    }
}

}  // namespace rivlo
