#include "platform/ViewController.h"

#include "foundation/Log.h"
#include "platform/Platform.h"
#include "platform/Window.h"

#include <algorithm>

namespace rivlo {

namespace {
Rect screenBounds() {
    if (auto device = Platform::current().device()) return device->screenBounds();
    return Rect(0, 0, 320, 568);
}

// Shows `child`'s view filling `container`, replacing the container's other subviews.
void showChildView(View& container, ViewController& child) {
    auto subs = container.subviews();
    auto childView = child.view();
    for (auto& s : subs) {
        if (s != childView) s->removeFromSuperview();
    }
    childView->setFillsSuperview(true);
    container.addSubview(childView);
}
}  // namespace

ViewController::ViewController(ObjClass* cls) : Responder(cls) {}

std::shared_ptr<View> ViewController::view() {
    if (!view_) {
        loadView();
        if (!view_) view_ = std::make_shared<View>(screenBounds());
        view_->setFillsSuperview(true);
    }
    return view_;
}

void ViewController::loadView() {
    view_ = std::make_shared<View>(screenBounds());
    view_->setBackgroundColor(Color::white());
}

void ViewController::dispatchViewWillAppear(bool animated) {
    IMP imp = objClass()->lookup(Selector::viewWillAppear);
    invokeImplementation<AppearFn>(imp, Selector::viewWillAppear, *this, animated);
}

void ViewController::dispatchViewDidAppear(bool animated) {
    IMP imp = objClass()->lookup(Selector::viewDidAppear);
    invokeImplementation<AppearFn>(imp, Selector::viewDidAppear, *this, animated);
}

void ViewController::beginAppearance(bool appearing, bool animated) {
    if (appearing) {
        dispatchViewWillAppear(animated);
    } else {
        viewWillDisappear(animated);
    }
}

void ViewController::endAppearance(bool appearing, bool animated) {
    visible_ = appearing;
    if (appearing) {
        dispatchViewDidAppear(animated);
    } else {
        viewDidDisappear(animated);
    }
}

NavigationController* ViewController::navigationController() const {
    for (ViewController* p = parent_; p; p = p->parent_) {
        if (auto* nav = dynamic_cast<NavigationController*>(p)) return nav;
    }
    return nullptr;
}

TabBarController* ViewController::tabBarController() const {
    for (ViewController* p = parent_; p; p = p->parent_) {
        if (auto* tab = dynamic_cast<TabBarController*>(p)) return tab;
    }
    return nullptr;
}

void ViewController::presentViewController(const std::shared_ptr<ViewController>& controller,
                                           bool animated) {
    if (!controller || controller.get() == this) return;
    if (presented_) {
        RVLog("ViewController: %s already presents %s", className().c_str(),
              presented_->className().c_str());
        return;
    }
    Window* window = view()->window();
    if (!window) {
        RVLog("ViewController: %s is not in a window; cannot present %s", className().c_str(),
              controller->className().c_str());
        return;
    }
    presented_ = controller;
    controller->presenting_ = this;
    const bool onScreen = visible_;
    if (onScreen) beginAppearance(false, animated);
    controller->beginAppearance(true, animated);
    auto v = controller->view();
    v->setFillsSuperview(true);
    window->addSubview(v);
    if (onScreen) endAppearance(false, animated);
    controller->endAppearance(true, animated);
}

void ViewController::dismissViewController(bool animated) {
    if (!presented_) {
        if (presenting_) presenting_->dismissViewController(animated);
        return;
    }
    auto gone = presented_;
    if (gone->presented_) gone->dismissViewController(animated);
    gone->beginAppearance(false, animated);
    beginAppearance(true, animated);
    if (gone->isViewLoaded()) gone->view()->removeFromSuperview();
    presented_.reset();
    gone->presenting_ = nullptr;
    gone->endAppearance(false, animated);
    endAppearance(true, animated);
}

// Navigation.

NavigationController::NavigationController(std::shared_ptr<ViewController> root, ObjClass* cls)
    : ViewController(cls) {
    if (root) {
        root->setParent(this);
        stack_.push_back(std::move(root));
    }
}

void NavigationController::loadView() {
    ViewController::loadView();
    showTop();
}

std::shared_ptr<ViewController> NavigationController::topViewController() const {
    return stack_.empty() ? nullptr : stack_.back();
}

std::shared_ptr<ViewController> NavigationController::visibleViewController() const {
    auto top = topViewController();
    if (auto presented = presentedViewController()) return presented;
    return top;
}

void NavigationController::showTop() {
    if (!isViewLoaded() || stack_.empty()) return;
    showChildView(*view(), *stack_.back());
}

void NavigationController::pushViewController(const std::shared_ptr<ViewController>& controller,
                                              bool animated) {
    if (!controller) return;
    if (std::find(stack_.begin(), stack_.end(), controller) != stack_.end()) {
        RVLog("NavigationController: %s is already on the stack", controller->className().c_str());
        return;
    }
    auto old = topViewController();
    const bool onScreen = isVisible();
    controller->setParent(this);
    if (onScreen && old) old->beginAppearance(false, animated);
    if (onScreen) controller->beginAppearance(true, animated);
    stack_.push_back(controller);
    showTop();
    if (onScreen && old) old->endAppearance(false, animated);
    if (onScreen) controller->endAppearance(true, animated);
}

std::shared_ptr<ViewController> NavigationController::popViewController(bool animated) {
    if (stack_.size() < 2) return nullptr;
    auto gone = stack_.back();
    auto next = stack_[stack_.size() - 2];
    const bool onScreen = isVisible();
    if (onScreen) gone->beginAppearance(false, animated);
    if (onScreen) next->beginAppearance(true, animated);
    stack_.pop_back();
    if (gone->isViewLoaded()) gone->view()->removeFromSuperview();
    showTop();
    gone->setParent(nullptr);
    if (onScreen) gone->endAppearance(false, animated);
    if (onScreen) next->endAppearance(true, animated);
    return gone;
}

std::vector<std::shared_ptr<ViewController>> NavigationController::popToRootViewController(
    bool animated) {
    std::vector<std::shared_ptr<ViewController>> popped;
    if (stack_.size() < 2) return popped;
    auto gone = stack_.back();
    auto root = stack_.front();
    const bool onScreen = isVisible();
    if (onScreen) gone->beginAppearance(false, animated);
    if (onScreen) root->beginAppearance(true, animated);
    popped.assign(stack_.begin() + 1, stack_.end());
    stack_.resize(1);
    if (gone->isViewLoaded()) gone->view()->removeFromSuperview();
    showTop();
    for (auto& p : popped)
        p->setParent(nullptr);
    if (onScreen) gone->endAppearance(false, animated);
    if (onScreen) root->endAppearance(true, animated);
    return popped;
}

void NavigationController::beginAppearance(bool appearing, bool animated) {
    ViewController::beginAppearance(appearing, animated);
    if (auto top = topViewController()) top->beginAppearance(appearing, animated);
}

void NavigationController::endAppearance(bool appearing, bool animated) {
    ViewController::endAppearance(appearing, animated);
    if (auto top = topViewController()) top->endAppearance(appearing, animated);
}

// Tabs.

TabBarController::TabBarController(ObjClass* cls) : ViewController(cls) {}

void TabBarController::loadView() {
    ViewController::loadView();
    showSelected();
}

std::shared_ptr<ViewController> TabBarController::selectedViewController() const {
    return selected_ < tabs_.size() ? tabs_[selected_] : nullptr;
}

void TabBarController::showSelected() {
    if (!isViewLoaded()) return;
    if (auto sel = selectedViewController()) showChildView(*view(), *sel);
}

void TabBarController::setViewControllers(std::vector<std::shared_ptr<ViewController>> list) {
    auto old = selectedViewController();
    const bool onScreen = isVisible();
    list.erase(std::remove(list.begin(), list.end(), nullptr), list.end());
    auto next = list.empty() ? nullptr : list.front();
    if (onScreen && old && old != next) old->beginAppearance(false, false);
    if (onScreen && next && old != next) next->beginAppearance(true, false);
    for (auto& t : tabs_)
        t->setParent(nullptr);
    tabs_ = std::move(list);
    for (auto& t : tabs_)
        t->setParent(this);
    selected_ = 0;
    if (old && old != next && old->isViewLoaded()) old->view()->removeFromSuperview();
    showSelected();
    if (onScreen && old && old != next) old->endAppearance(false, false);
    if (onScreen && next && old != next) next->endAppearance(true, false);
}

void TabBarController::setSelectedIndex(size_t index) {
    if (index >= tabs_.size()) {
        RVLog("TabBarController: no tab %zu (of %zu)", index, tabs_.size());
        return;
    }
    if (index == selected_) return;
    auto old = selectedViewController();
    auto next = tabs_[index];
    const bool onScreen = isVisible();
    if (onScreen && old) old->beginAppearance(false, false);
    if (onScreen) next->beginAppearance(true, false);
    selected_ = index;
    if (old && old->isViewLoaded()) old->view()->removeFromSuperview();
    showSelected();
    if (onScreen && old) old->endAppearance(false, false);
    if (onScreen) next->endAppearance(true, false);
}

void TabBarController::beginAppearance(bool appearing, bool animated) {
    ViewController::beginAppearance(appearing, animated);
    if (auto sel = selectedViewController()) sel->beginAppearance(appearing, animated);
}

void TabBarController::endAppearance(bool appearing, bool animated) {
    ViewController::endAppearance(appearing, animated);
    if (auto sel = selectedViewController()) sel->endAppearance(appearing, animated);
}

}  // namespace rivlo
