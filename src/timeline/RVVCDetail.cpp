#include "timeline/RVVCDetail.h"

#include "timeline/RVHeatTimeHandler.h"

namespace rivlo {

RVVCDetail::RVVCDetail()
    : willAppearVCName_("unknown"),
      didAppearVCName_("unknown"),
      willAppearTime_("0"),
      didAppearTime_("0") {}

std::string RVVCDetail::vcNameLocked() const {
    if (didAppearVCName_) return *didAppearVCName_;
    return willAppearVCName_.value_or("");
}

void RVVCDetail::resetCountersLocked() {
    totalGestures_ = 0;
    unresponsiveGestures_ = 0;
    isUnresponsiveGesture_ = false;
}

void RVVCDetail::setWillAppearVCName(const std::string& name) {
    // Read the clock before taking the lock: nothing is called out while it is held.
    std::string now = RVHeatTimeHandler::timeLineTimer();
    std::lock_guard<std::mutex> lock(mutex_);
    if (name == vcNameLocked()) return;
    willAppearVCName_ = name;
    didAppearVCName_.reset();
    resetCountersLocked();
    willAppearTime_ = now;
    didAppearTime_.reset();
}

void RVVCDetail::setDidAppearVCName(const std::string& name) {
    std::string now = RVHeatTimeHandler::timeLineTimer();
    std::lock_guard<std::mutex> lock(mutex_);
    if (name == vcNameLocked()) return;
    willAppearVCName_.reset();
    didAppearVCName_ = name;
    resetCountersLocked();
    willAppearTime_.reset();
    didAppearTime_ = now;
}

std::string RVVCDetail::vcName() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return vcNameLocked();
}

std::string RVVCDetail::appearTime() const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (willAppearTime_) return *willAppearTime_;
    return didAppearTime_.value_or("");
}

void RVVCDetail::resetAppearTime() {
    std::lock_guard<std::mutex> lock(mutex_);
    willAppearTime_.reset();
    didAppearTime_ = "0";
}

std::optional<std::string> RVVCDetail::willAppearVCName() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return willAppearVCName_;
}

std::optional<std::string> RVVCDetail::didAppearVCName() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return didAppearVCName_;
}

std::optional<std::string> RVVCDetail::willAppearTime() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return willAppearTime_;
}

std::optional<std::string> RVVCDetail::didAppearTime() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return didAppearTime_;
}

int32_t RVVCDetail::totalGestures() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return totalGestures_;
}

int32_t RVVCDetail::unresponsiveGestures() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return unresponsiveGestures_;
}

bool RVVCDetail::isUnresponsiveGesture() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return isUnresponsiveGesture_;
}

bool RVVCDetail::isVcNameIsUrl() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return isVcNameIsUrl_;
}

void RVVCDetail::setIsVcNameIsUrl(bool isUrl) {
    std::lock_guard<std::mutex> lock(mutex_);
    isVcNameIsUrl_ = isUrl;
}

std::string RVVCDetail::description() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return "willAppear VC Name:" + willAppearVCName_.value_or("(null)") +
           ", didAppear VC Name:" + didAppearVCName_.value_or("(null)");
}

}  // namespace rivlo
