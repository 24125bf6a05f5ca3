#include "platform/Window.h"

#include "foundation/Log.h"
#include "platform/Platform.h"
#include "platform/ViewController.h"

namespace rivlo {

Window::Window(Rect frame, ObjClass* cls) : View(frame, cls) {
    View::setHidden(true);
}

Window* Window::window() const {
    return const_cast<Window*>(this);
}

void Window::setHidden(bool hidden) {
    const bool was = isHidden();
    View::setHidden(hidden);
    if (was == hidden) return;
    auto app = Platform::current().application();
    auto self = sharedWindow();
    if (!app || !self) return;
    app->windowVisibilityChanged(self, !hidden);
    if (rootViewController_) {
        rootViewController_->beginAppearance(!hidden, false);
        rootViewController_->endAppearance(!hidden, false);
    }
}

bool Window::isKeyWindow() const {
    auto app = Platform::current().application();
    return app && app->keyWindow().get() == this;
}

void Window::makeKeyWindow() {
    auto app = Platform::current().application();
    auto self = sharedWindow();
    if (!app || !self) {
        RVLog("Window: no application (or the window is not shared) to make it key");
        return;
    }
    app->makeKeyWindow(self);
}

void Window::makeKeyAndVisible() {
    setHidden(false);
    makeKeyWindow();
}

void Window::setRootViewController(const std::shared_ptr<ViewController>& controller) {
    if (controller == rootViewController_) return;
    const bool visible = !isHidden();
    auto old = rootViewController_;
    if (old && visible) old->beginAppearance(false, false);
    if (controller && visible) controller->beginAppearance(true, false);
    if (old && old->isViewLoaded()) old->view()->removeFromSuperview();
    rootViewController_ = controller;
    if (controller) {
        auto v = controller->view();
        v->setFrame(bounds());
        addSubview(v);
    }
    if (old && visible) old->endAppearance(false, false);
    if (controller && visible) controller->endAppearance(true, false);
}

}  // namespace rivlo
