#include "core/RivloReachability.h"

#include "foundation/NotificationCenter.h"
#include "platform/Platform.h"
#include "platform/Reachability.h"

namespace rivlo {

std::unique_ptr<RivloReachability> RivloReachability::reachabilityForInternetConnection() {
    auto source = Platform::current().reachability();
    if (!source) return nullptr;
    auto target = source->targetForZeroAddress();
    if (!target) return nullptr;
    return std::make_unique<RivloReachability>(std::move(target));
}

std::unique_ptr<RivloReachability> RivloReachability::reachabilityWithAddress(
    const std::string& ipv4) {
    auto source = Platform::current().reachability();
    if (!source) return nullptr;
    auto target = source->targetForAddress(ipv4);
    if (!target) return nullptr;
    return std::make_unique<RivloReachability>(std::move(target));
}

RivloReachability::RivloReachability(std::shared_ptr<ReachabilityTarget> target)
    : reachabilityRef_(std::move(target)) {}

RivloReachability::~RivloReachability() {
    stopNotifier();
}

bool RivloReachability::startNotifier() {
    if (!reachabilityRef_) return false;
    // The target stops calling back once stopped, which the destructor does before `this`
    // goes away.
    const void* sender = this;
    notifying_ = reachabilityRef_->start([sender](uint32_t) {
        NotificationCenter::defaultCenter().post(kNetworkReachabilityChangedNotification, sender);
    });
    return notifying_;
}

void RivloReachability::stopNotifier() {
    if (reachabilityRef_ && notifying_) reachabilityRef_->stop();
    notifying_ = false;
}

RVNetworkStatus RivloReachability::currentReachabilityStatus() const {
    if (!reachabilityRef_) return NotReachable;
    const auto flags = reachabilityRef_->flags();
    if (!flags) return NotReachable;
    return networkStatusForFlags(*flags);
}

RVNetworkStatus RivloReachability::networkStatusForFlags(uint32_t flags) {
    if ((flags & ReachabilityFlag::Reachable) == 0) return NotReachable;
    RVNetworkStatus status = NotReachable;
    // Reachable without first having to bring a connection up: Wi-Fi, or at least not cellular.
    if ((flags & ReachabilityFlag::ConnectionRequired) == 0) status = ReachableViaWiFi;
    // A connection that comes up on demand or on traffic, without the user stepping in.
    if ((flags & (ReachabilityFlag::ConnectionOnDemand | ReachabilityFlag::ConnectionOnTraffic)) !=
            0 &&
        (flags & ReachabilityFlag::InterventionRequired) == 0) {
        status = ReachableViaWiFi;
    }
    if ((flags & ReachabilityFlag::IsWWAN) != 0) status = ReachableViaWWAN;
    return status;
}

}  // namespace rivlo
