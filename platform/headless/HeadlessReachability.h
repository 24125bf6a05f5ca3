#pragma once

#include "platform/Reachability.h"
#include "platform/headless/HeadlessProfile.h"

#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace rivlo {

// Scripted reachability: one network status for the device (Wi-Fi, cellular or none), with
// optional per-host overrides. Changing the status calls every started target's callback on
// the main run loop. A source made "refusing" hands out no targets (the platform said no).
// Any thread.
class HeadlessReachability : public ReachabilitySource,
                             public std::enable_shared_from_this<HeadlessReachability> {
  public:
    explicit HeadlessReachability(NetworkStatus status);

    std::shared_ptr<ReachabilityTarget> targetForZeroAddress() override;
    std::shared_ptr<ReachabilityTarget> targetForAddress(const std::string& ipv4) override;
    std::shared_ptr<ReachabilityTarget> targetForHostName(const std::string& host) override;

    void setStatus(NetworkStatus status);
    NetworkStatus status() const;
    void setHostStatus(const std::string& host, NetworkStatus status);
    // When set, reading flags fails (nullopt) for every target.
    void setFlagsUnreadable(bool unreadable);
    void setRefusing(bool refusing);

    static uint32_t flagsFor(NetworkStatus status);

    // For targets.
    std::optional<uint32_t> flagsForHost(const std::string& host) const;
    void addWatcher(const std::shared_ptr<void>& token, std::string host,
                    std::function<void(uint32_t)> callback);
    void removeWatcher(const void* token);
    bool isWatching(const std::weak_ptr<void>& token) const;

  private:
    std::shared_ptr<ReachabilityTarget> makeTarget(std::string host);
    void notifyAll();

    struct Watcher {
        std::weak_ptr<void> token;
        std::string host;
        std::function<void(uint32_t)> callback;
    };
    mutable std::mutex mutex_;
    NetworkStatus status_;
    std::map<std::string, NetworkStatus> hosts_;
    bool unreadable_ = false;
    bool refusing_ = false;
    std::vector<Watcher> watchers_;
};

}  // namespace rivlo
