#include "platform/headless/HeadlessReachability.h"

#include "foundation/RunLoop.h"

#include <algorithm>

namespace rivlo {

namespace {
class HeadlessTarget : public ReachabilityTarget {
  public:
    HeadlessTarget(std::weak_ptr<HeadlessReachability> source, std::string host)
        : source_(std::move(source)), host_(std::move(host)), token_(std::make_shared<int>(0)) {}
    ~HeadlessTarget() override { stop(); }

    std::optional<uint32_t> flags() const override {
        auto s = source_.lock();
        if (!s) return std::nullopt;
        return s->flagsForHost(host_);
    }
    bool start(std::function<void(uint32_t)> onChange) override {
        auto s = source_.lock();
        if (!s || !onChange) return false;
        s->addWatcher(token_, host_, std::move(onChange));
        return true;
    }
    void stop() override {
        if (auto s = source_.lock()) s->removeWatcher(token_.get());
    }

  private:
    std::weak_ptr<HeadlessReachability> source_;
    std::string host_;
    std::shared_ptr<int> token_;
};
}  // namespace

HeadlessReachability::HeadlessReachability(NetworkStatus status) : status_(status) {}

uint32_t HeadlessReachability::flagsFor(NetworkStatus status) {
    switch (status) {
        case NetworkStatus::None:
            return 0;
        case NetworkStatus::WiFi:
            return ReachabilityFlag::Reachable;
        case NetworkStatus::Cellular:
            return ReachabilityFlag::Reachable | ReachabilityFlag::IsWWAN |
                   ReachabilityFlag::TransientConnection;
    }
    return 0;
}

std::shared_ptr<ReachabilityTarget> HeadlessReachability::makeTarget(std::string host) {
    {
        std::lock_guard lock(mutex_);
        if (refusing_) return nullptr;
    }
    return std::make_shared<HeadlessTarget>(weak_from_this(), std::move(host));
}

std::shared_ptr<ReachabilityTarget> HeadlessReachability::targetForZeroAddress() {
    return makeTarget("");
}
std::shared_ptr<ReachabilityTarget> HeadlessReachability::targetForAddress(const std::string& ip) {
    return makeTarget(ip == "0.0.0.0" ? "" : ip);
}
std::shared_ptr<ReachabilityTarget> HeadlessReachability::targetForHostName(const std::string& h) {
    return makeTarget(h);
}

std::optional<uint32_t> HeadlessReachability::flagsForHost(const std::string& host) const {
    std::lock_guard lock(mutex_);
    if (unreadable_) return std::nullopt;
    auto it = hosts_.find(host);
    return flagsFor(it != hosts_.end() ? it->second : status_);
}

void HeadlessReachability::addWatcher(const std::shared_ptr<void>& token, std::string host,
                                      std::function<void(uint32_t)> callback) {
    std::lock_guard lock(mutex_);
    watchers_.push_back({token, std::move(host), std::move(callback)});
}

void HeadlessReachability::removeWatcher(const void* token) {
    std::lock_guard lock(mutex_);
    watchers_.erase(std::remove_if(watchers_.begin(), watchers_.end(),
                                   [token](const Watcher& w) {
                                       auto t = w.token.lock();
                                       return !t || t.get() == token;
                                   }),
                    watchers_.end());
}

bool HeadlessReachability::isWatching(const std::weak_ptr<void>& token) const {
    auto t = token.lock();
    if (!t) return false;
    std::lock_guard lock(mutex_);
    return std::any_of(watchers_.begin(), watchers_.end(),
                       [&](const Watcher& w) { return w.token.lock() == t; });
}

void HeadlessReachability::notifyAll() {
    std::vector<Watcher> watchers;
    {
        std::lock_guard lock(mutex_);
        watchers = watchers_;
    }
    for (auto& w : watchers) {
        std::weak_ptr<HeadlessReachability> self = weak_from_this();
        RunLoop::main().post([self, w] {
            auto s = self.lock();
            if (!s || !s->isWatching(w.token)) return;  // stopped meanwhile
            auto flags = s->flagsForHost(w.host);
            w.callback(flags.value_or(0));
        });
    }
}

void HeadlessReachability::setStatus(NetworkStatus status) {
    {
        std::lock_guard lock(mutex_);
        if (status_ == status) return;
        status_ = status;
    }
    notifyAll();
}

NetworkStatus HeadlessReachability::status() const {
    std::lock_guard lock(mutex_);
    return status_;
}

void HeadlessReachability::setHostStatus(const std::string& host, NetworkStatus status) {
    {
        std::lock_guard lock(mutex_);
        hosts_[host] = status;
    }
    notifyAll();
}

void HeadlessReachability::setFlagsUnreadable(bool unreadable) {
    std::lock_guard lock(mutex_);
    unreadable_ = unreadable;
}

void HeadlessReachability::setRefusing(bool refusing) {
    std::lock_guard lock(mutex_);
    refusing_ = refusing;
}

}  // namespace rivlo
