#pragma once

#include "foundation/EventLoop.h"
#include "foundation/NotificationCenter.h"

#include <cstdint>
#include <memory>
#include <mutex>

namespace rivlo {

// Counts running connection operations (from their start and finish notifications) and,
// when enabled, shows the application's network activity indicator while any runs. The
// indicator is hidden 0.17 seconds after the count drops to zero, so short gaps between
// requests do not make it flicker. Off by default. Any thread; the indicator is updated on
// the main run loop.
class RVAFNetworkActivityIndicatorManager {
  public:
    static RVAFNetworkActivityIndicatorManager& sharedManager();

    RVAFNetworkActivityIndicatorManager();
    ~RVAFNetworkActivityIndicatorManager();
    RVAFNetworkActivityIndicatorManager(const RVAFNetworkActivityIndicatorManager&) = delete;
    RVAFNetworkActivityIndicatorManager& operator=(const RVAFNetworkActivityIndicatorManager&) =
        delete;

    bool isEnabled() const;
    void setEnabled(bool enabled);
    int64_t activityCount() const;
    void setActivityCount(int64_t count);
    void incrementActivityCount();
    // Never goes below zero.
    void decrementActivityCount();
    bool isNetworkActivityIndicatorVisible() const;

    static constexpr double kInvisibilityDelay = 0.17;

  private:
    struct State;
    void changed();

    std::shared_ptr<State> state_;
    NotificationCenter::Token startToken_ = 0;
    NotificationCenter::Token finishToken_ = 0;
};

}  // namespace rivlo
