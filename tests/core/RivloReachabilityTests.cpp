#include "core/RivloReachability.h"

#include "platform/Reachability.h"

#include <gtest/gtest.h>

namespace rivlo {
namespace {

using namespace ReachabilityFlag;

TEST(RivloReachability, StatusFromFlags) {
    EXPECT_EQ(RivloReachability::networkStatusForFlags(0), NotReachable);
    // Cellular wins over everything once reachable.
    EXPECT_EQ(RivloReachability::networkStatusForFlags(Reachable | IsWWAN), ReachableViaWWAN);
    EXPECT_EQ(RivloReachability::networkStatusForFlags(Reachable | ConnectionRequired | IsWWAN),
              ReachableViaWWAN);
    // A connection that comes up by itself on traffic counts as reachable.
    EXPECT_EQ(RivloReachability::networkStatusForFlags(Reachable | ConnectionRequired |
                                                       ConnectionOnTraffic),
              ReachableViaWiFi);
    EXPECT_EQ(RivloReachability::networkStatusForFlags(Reachable | ConnectionRequired |
                                                       ConnectionOnDemand),
              ReachableViaWiFi);
    // ... unless the user has to step in.
    EXPECT_EQ(RivloReachability::networkStatusForFlags(Reachable | ConnectionRequired |
                                                       ConnectionOnTraffic | InterventionRequired),
              NotReachable);
    EXPECT_EQ(RivloReachability::networkStatusForFlags(Reachable | ConnectionRequired),
              NotReachable);
    EXPECT_EQ(RivloReachability::networkStatusForFlags(Reachable), ReachableViaWiFi);
    EXPECT_EQ(RivloReachability::networkStatusForFlags(Reachable | InterventionRequired),
              ReachableViaWiFi);
    // Not reachable at all: no other bit matters.
    EXPECT_EQ(RivloReachability::networkStatusForFlags(IsWWAN | ConnectionOnTraffic), NotReachable);
}

TEST(RivloReachability, MonitorWithoutTargetReadsNotReachable) {
    RivloReachability monitor(nullptr);
    EXPECT_FALSE(monitor.startNotifier());
    EXPECT_EQ(monitor.currentReachabilityStatus(), NotReachable);
    EXPECT_FALSE(monitor.localWiFiRef());
}

}  // namespace
}  // namespace rivlo
