#include "http/RVAFNetworkActivityIndicatorManager.h"

#include "foundation/RunLoop.h"
#include "foundation/SharedInstance.h"
#include "http/RVAFNetworking.h"
#include "platform/Platform.h"

namespace rivlo {

struct RVAFNetworkActivityIndicatorManager::State {
    mutable std::mutex mutex;
    int64_t count = 0;
    bool enabled = false;
    DelayedCall timer;

    // Main thread: shows or hides the application's indicator from the current count.
    void update() {
        bool visible;
        {
            std::lock_guard<std::mutex> lock(mutex);
            visible = count > 0;
        }
        if (auto application = Platform::current().application()) {
            application->setNetworkActivityIndicatorVisible(visible);
        }
    }
};

RVAFNetworkActivityIndicatorManager& RVAFNetworkActivityIndicatorManager::sharedManager() {
    static SharedInstance<RVAFNetworkActivityIndicatorManager> manager;
    return manager.get([] { return new RVAFNetworkActivityIndicatorManager(); });
}

RVAFNetworkActivityIndicatorManager::RVAFNetworkActivityIndicatorManager()
    : state_(std::make_shared<State>()) {
    auto& center = NotificationCenter::defaultCenter();
    startToken_ = center.addObserver(RVAFNetworkingOperationDidStartNotification, nullptr,
                                     [this](const Notification&) { incrementActivityCount(); });
    finishToken_ = center.addObserver(RVAFNetworkingOperationDidFinishNotification, nullptr,
                                      [this](const Notification&) { decrementActivityCount(); });
}

RVAFNetworkActivityIndicatorManager::~RVAFNetworkActivityIndicatorManager() {
    auto& center = NotificationCenter::defaultCenter();
    center.removeObserver(startToken_);
    center.removeObserver(finishToken_);
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->timer.cancel();
}

bool RVAFNetworkActivityIndicatorManager::isEnabled() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->enabled;
}

void RVAFNetworkActivityIndicatorManager::setEnabled(bool enabled) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->enabled = enabled;
}

int64_t RVAFNetworkActivityIndicatorManager::activityCount() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->count;
}

bool RVAFNetworkActivityIndicatorManager::isNetworkActivityIndicatorVisible() const {
    return activityCount() > 0;
}

void RVAFNetworkActivityIndicatorManager::setActivityCount(int64_t count) {
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->count = std::max<int64_t>(count, 0);
    }
    changed();
}

void RVAFNetworkActivityIndicatorManager::incrementActivityCount() {
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        ++state_->count;
    }
    changed();
}

void RVAFNetworkActivityIndicatorManager::decrementActivityCount() {
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->count = std::max<int64_t>(state_->count - 1, 0);
    }
    changed();
}

void RVAFNetworkActivityIndicatorManager::changed() {
    std::weak_ptr<State> weak = state_;
    bool enabled;
    bool visible;
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        enabled = state_->enabled;
        visible = state_->count > 0;
        if (enabled && !visible) state_->timer.cancel();
    }
    if (!enabled) return;
    if (visible) {
        RunLoop::main().post([weak] {
            if (auto s = weak.lock()) s->update();
        });
        return;
    }
    DelayedCall timer =
        RunLoop::main().postAfter(std::chrono::duration<double>(kInvisibilityDelay), [weak] {
            if (auto s = weak.lock()) s->update();
        });
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->timer.cancel();
    state_->timer = timer;
}

}  // namespace rivlo
