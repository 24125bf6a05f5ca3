#pragma once

#include "foundation/Value.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace rivlo {

// A posted notification: a name, the sender (compared by identity only) and user info.
struct Notification {
    std::string name;
    const void* object = nullptr;
    Value userInfo;  // a dictionary, or null when there is none
};

// Observers by name, optionally only for one sender. Delivery is synchronous on the posting
// thread, in the order observers were added. A removed observer is never called afterwards:
// removal from another thread waits for a delivery to that observer in progress; removal from
// inside its own callback takes effect at once.
class NotificationCenter {
  public:
    using Callback = std::function<void(const Notification&)>;
    using Token = uint64_t;

    static NotificationCenter& defaultCenter();

    NotificationCenter() = default;

    // Any thread. A null object observes every sender.
    Token addObserver(const std::string& name, const void* object, Callback callback);
    void removeObserver(Token token);
    void post(const std::string& name, const void* object = nullptr, Value userInfo = nullptr);
    void post(const Notification& notification);

  private:
    struct Entry;
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<Entry>> entries_;
    Token nextToken_ = 1;
};

}  // namespace rivlo
