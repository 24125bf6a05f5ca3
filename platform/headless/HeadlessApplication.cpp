#include "platform/headless/HeadlessApplication.h"

#include "foundation/Log.h"
#include "foundation/NotificationCenter.h"
#include "foundation/RunLoop.h"
#include "platform/AlertView.h"
#include "platform/ViewController.h"
#include "platform/Window.h"
#include "platform/headless/HeadlessDevice.h"

#include <algorithm>
#include <cmath>

namespace rivlo {

namespace {
bool isLandscape(int interfaceOrientation) {
    return interfaceOrientation == InterfaceOrientation::LandscapeRight ||
           interfaceOrientation == InterfaceOrientation::LandscapeLeft;
}

const char* stateName(ApplicationState s) {
    switch (s) {
        case ApplicationState::Active:
            return "active";
        case ApplicationState::Inactive:
            return "inactive";
        case ApplicationState::Background:
            return "background";
    }
    return "?";
}
}  // namespace

HeadlessApplication::HeadlessApplication(std::shared_ptr<HeadlessDevice> device,
                                         double backgroundTaskAllowance)
    : device_(std::move(device)),
      allowance_(backgroundTaskAllowance > 0 ? backgroundTaskAllowance : 180.0) {
    touches_.setHitObserver([this](Point point, const std::shared_ptr<View>& hit) {
        std::lock_guard lock(mutex_);
        hits_.push_back({point, hit});
    });
}

HeadlessApplication::~HeadlessApplication() {
    std::lock_guard lock(mutex_);
    expiry_.cancel();
}

void HeadlessApplication::runOnMain(std::function<void()> work) {
    RunLoop::main().runOrPost(std::move(work));
}

void HeadlessApplication::post(const char* name) {
    NotificationCenter::defaultCenter().post(name, static_cast<const Application*>(this));
}

// Lifecycle.

void HeadlessApplication::resignActive() {
    runOnMain([this] {
        if (state_ != ApplicationState::Active) {
            RVLog("HeadlessApplication: cannot resign active while %s", stateName(state_));
            return;
        }
        state_ = ApplicationState::Inactive;
        post(ApplicationNotification::WillResignActive);
    });
}

void HeadlessApplication::enterBackground() {
    runOnMain([this] {
        if (state_ != ApplicationState::Inactive) {
            RVLog("HeadlessApplication: cannot enter the background while %s", stateName(state_));
            return;
        }
        state_ = ApplicationState::Background;
        scheduleExpiry();
        post(ApplicationNotification::DidEnterBackground);
    });
}

void HeadlessApplication::enterForeground() {
    runOnMain([this] {
        if (state_ != ApplicationState::Background) {
            RVLog("HeadlessApplication: cannot enter the foreground while %s", stateName(state_));
            return;
        }
        {
            std::lock_guard lock(mutex_);
            expiry_.cancel();
            expiry_ = DelayedCall();
        }
        state_ = ApplicationState::Inactive;
        post(ApplicationNotification::WillEnterForeground);
    });
}

void HeadlessApplication::becomeActive() {
    runOnMain([this] {
        if (state_ != ApplicationState::Inactive) {
            RVLog("HeadlessApplication: cannot become active while %s", stateName(state_));
            return;
        }
        state_ = ApplicationState::Active;
        post(ApplicationNotification::DidBecomeActive);
    });
}

void HeadlessApplication::moveToBackground() {
    runOnMain([this] {
        if (state_ == ApplicationState::Active) resignActive();
        enterBackground();
    });
}

void HeadlessApplication::returnToForeground() {
    runOnMain([this] {
        enterForeground();
        becomeActive();
    });
}

void HeadlessApplication::receiveMemoryWarning() {
    runOnMain([this] { post(ApplicationNotification::DidReceiveMemoryWarning); });
}

void HeadlessApplication::setStatusBarOrientation(int orientation) {
    if (orientation < 1 || orientation > 4) {
        RVLog("HeadlessApplication: no status-bar orientation %d", orientation);
        return;
    }
    runOnMain([this, orientation] {
        const int previous = statusBarOrientation_.exchange(orientation);
        if (previous == orientation) return;
        if (isLandscape(previous) != isLandscape(orientation)) turnWindows(isLandscape(previous));
        post(ApplicationNotification::DidChangeStatusBarOrientation);
    });
}

void HeadlessApplication::turnWindows(bool wasLandscape) {
    if (!device_) return;
    // As a toolkit whose windows follow the interface: every visible window that covers the
    // screen swaps its width and height (its root view, which fills it, follows). Windows that
    // lay themselves out (the status overlay turns itself with a transform) are left alone.
    const Size screen = device_->screenBounds().size;
    const Size before = wasLandscape ? Size{screen.height, screen.width} : screen;
    auto near = [](double a, double b) { return std::fabs(a - b) < 0.5; };
    for (const auto& window : windows()) {
        if (!window->transform().isIdentity()) continue;
        const Rect frame = window->frame();
        if (!near(frame.width(), before.width) || !near(frame.height(), before.height)) continue;
        window->setFrame(Rect(frame.origin, Size{frame.height(), frame.width()}));
    }
}

void HeadlessApplication::rotate(int deviceOrientation) {
    if (deviceOrientation < 0 || deviceOrientation > 6) {
        RVLog("HeadlessApplication: no device orientation %d", deviceOrientation);
        return;
    }
    runOnMain([this, deviceOrientation] {
        if (device_) device_->setOrientation(deviceOrientation);
        if (deviceOrientation >= 1 && deviceOrientation <= 4)
            setStatusBarOrientation(deviceOrientation);
    });
}

// Background tasks.

BackgroundTaskIdentifier HeadlessApplication::beginBackgroundTask(std::function<void()> handler) {
    bool inBackground = state_ == ApplicationState::Background;
    BackgroundTaskIdentifier id;
    {
        std::lock_guard lock(mutex_);
        id = nextTask_++;
        tasks_.emplace(id, std::move(handler));
    }
    if (inBackground) scheduleExpiry();
    return id;
}

void HeadlessApplication::endBackgroundTask(BackgroundTaskIdentifier identifier) {
    std::lock_guard lock(mutex_);
    tasks_.erase(identifier);
}

size_t HeadlessApplication::openBackgroundTaskCount() const {
    std::lock_guard lock(mutex_);
    return tasks_.size();
}

void HeadlessApplication::scheduleExpiry() {
    std::lock_guard lock(mutex_);
    if (expiry_.valid() || tasks_.empty()) return;
    expiry_ = RunLoop::main().postAfter(RunLoop::Duration(allowance_), [this] {
        {
            std::lock_guard inner(mutex_);
            expiry_ = DelayedCall();
        }
        expireBackgroundTasks();
    });
}

void HeadlessApplication::expireBackgroundTasks() {
    std::vector<std::pair<BackgroundTaskIdentifier, std::function<void()>>> open;
    {
        std::lock_guard lock(mutex_);
        open.assign(tasks_.begin(), tasks_.end());
    }
    for (auto& [id, handler] : open) {
        if (handler) handler();
    }
    // A handler that did not end its task: the platform ends it (and would end the process).
    std::lock_guard lock(mutex_);
    for (auto& [id, handler] : open) {
        if (tasks_.erase(id)) {
            RVLog("HeadlessApplication: background task %llu expired without being ended",
                  static_cast<unsigned long long>(id));
        }
    }
}

// Windows.

std::shared_ptr<Window> HeadlessApplication::keyWindow() const {
    std::lock_guard lock(windowsMutex_);
    for (auto it = keyHistory_.rbegin(); it != keyHistory_.rend(); ++it) {
        auto w = it->lock();
        // A key window stays key while it is in the visible list.
        if (w && std::find(windows_.begin(), windows_.end(), w) != windows_.end()) return w;
    }
    return nullptr;
}

std::vector<std::shared_ptr<Window>> HeadlessApplication::windows() const {
    std::vector<std::shared_ptr<Window>> list;
    {
        std::lock_guard lock(windowsMutex_);
        list = windows_;
    }
    std::stable_sort(list.begin(), list.end(), [](const auto& a, const auto& b) {
        return a->windowLevel() < b->windowLevel();
    });
    return list;
}

void HeadlessApplication::windowVisibilityChanged(const std::shared_ptr<Window>& window,
                                                  bool visible) {
    std::shared_ptr<Window> released;  // dropped outside the lock
    std::lock_guard lock(windowsMutex_);
    auto it = std::find(windows_.begin(), windows_.end(), window);
    if (visible) {
        if (it == windows_.end()) windows_.push_back(window);
    } else if (it != windows_.end()) {
        released = std::move(*it);
        windows_.erase(it);
    }
}

void HeadlessApplication::makeKeyWindow(const std::shared_ptr<Window>& window) {
    if (!window) return;
    std::lock_guard lock(windowsMutex_);
    keyHistory_.erase(std::remove_if(keyHistory_.begin(), keyHistory_.end(),
                                     [&](const std::weak_ptr<Window>& w) {
                                         auto s = w.lock();
                                         return !s || s == window;
                                     }),
                      keyHistory_.end());
    keyHistory_.push_back(window);
}

// Alerts.

void HeadlessApplication::presentAlert(const std::shared_ptr<AlertView>& alert) {
    std::lock_guard lock(windowsMutex_);
    if (std::find(alerts_.begin(), alerts_.end(), alert) == alerts_.end()) alerts_.push_back(alert);
}

void HeadlessApplication::alertClosed(const AlertView& alert) {
    std::shared_ptr<AlertView> released;
    std::lock_guard lock(windowsMutex_);
    auto it = std::find_if(alerts_.begin(), alerts_.end(),
                           [&](const auto& a) { return a.get() == &alert; });
    if (it != alerts_.end()) {
        released = std::move(*it);
        alerts_.erase(it);
    }
}

std::vector<std::shared_ptr<AlertView>> HeadlessApplication::visibleAlerts() const {
    std::lock_guard lock(windowsMutex_);
    return alerts_;
}

// Events.

std::vector<HeadlessApplication::HitRecord> HeadlessApplication::hitHistory() const {
    std::lock_guard lock(mutex_);
    return hits_;
}

void HeadlessApplication::sendEvent(Event event) {
    if (event.type == EventType::Motion) {
        if (auto responder = firstResponder())
            responder->dispatchMotionEnded(event.subtype, &event);
        return;
    }
    auto window = keyWindow();
    if (!window) {
        RVLog("HeadlessApplication: touch dropped: there is no key window");
        return;
    }
    if (!visibleAlerts().empty()) {
        RVLog("HeadlessApplication: touch dropped: an alert is showing");
        return;
    }
    touches_.dispatch(event, window);
}

std::shared_ptr<Responder> HeadlessApplication::firstResponder() const {
    auto window = keyWindow();
    if (!window) return nullptr;
    std::shared_ptr<ViewController> vc = window->rootViewController();
    while (vc) {
        if (auto presented = vc->presentedViewController()) {
            vc = presented;
        } else if (auto* nav = dynamic_cast<NavigationController*>(vc.get());
                   nav && nav->topViewController()) {
            vc = nav->topViewController();
        } else if (auto* tab = dynamic_cast<TabBarController*>(vc.get());
                   tab && tab->selectedViewController()) {
            vc = tab->selectedViewController();
        } else {
            break;
        }
    }
    if (vc) return vc;
    return window;
}

void HeadlessApplication::shake() {
    runOnMain([this] {
        Event e;
        e.type = EventType::Motion;
        e.subtype = EventSubtypeMotionShake;
        sendEvent(e);
    });
}

}  // namespace rivlo
