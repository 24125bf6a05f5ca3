#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace rivlo {

class ReachabilityTarget;

// Network statuses: not reachable, reachable through Wi-Fi (or any connection that is not
// cellular), reachable through the cellular network.
enum RVNetworkStatus : int32_t {
    NotReachable = 0,
    ReachableViaWiFi = 1,
    ReachableViaWWAN = 2,
};

// Posted (object: the monitor) on the default notification centre, on the main thread, when a
// started monitor sees its flags change.
inline constexpr const char* kNetworkReachabilityChangedNotification =
    "kNetworkReachabilityChangedNotification";

// Answers whether the internet can be reached, from the platform's reachability flags.
// A monitor is private to its user; create it, ask it, drop it. Any thread.
class RivloReachability {
  public:
    // A monitor of the zero IPv4 address ("is there any network"); null when the platform has
    // no reachability source or refuses the target.
    static std::unique_ptr<RivloReachability> reachabilityForInternetConnection();
    // A monitor of a dotted IPv4 address; null when refused.
    static std::unique_ptr<RivloReachability> reachabilityWithAddress(const std::string& ipv4);

    explicit RivloReachability(std::shared_ptr<ReachabilityTarget> target);
    ~RivloReachability();  // stops notifying
    RivloReachability(const RivloReachability&) = delete;
    RivloReachability& operator=(const RivloReachability&) = delete;

    // Starts posting kNetworkReachabilityChangedNotification on every change; false when the
    // platform cannot monitor.
    bool startNotifier();
    void stopNotifier();

    // The status now; NotReachable when the flags cannot be read.
    RVNetworkStatus currentReachabilityStatus() const;
    static RVNetworkStatus networkStatusForFlags(uint32_t flags);

    bool localWiFiRef() const { return false; }

  private:
    std::shared_ptr<ReachabilityTarget> reachabilityRef_;
    bool notifying_ = false;
};

}  // namespace rivlo
