#pragma once

#include "foundation/Value.h"

#include <mutex>
#include <string>

namespace rivlo {

// The user's free tags of one session, oldest first, each with the seconds since the list
// was created. Any thread: the facade adds tags on the host's thread while the stopping
// thread reads them.
class RVGeneralTags {
  public:
    RVGeneralTags();

    // Appends {"tag": text unchanged, "time": seconds since startTime (a double)}.
    void addTag(const std::string& tag);
    // A copy of the entries, oldest first.
    Value tags() const;
    // Wall-clock seconds since 1970 when the list was created.
    double startTime() const { return startTime_; }

  private:
    const double startTime_;
    const double startMonotonic_;  // "time" is measured on the monotonic clock: never negative
    mutable std::mutex mutex_;
    Value tagsList_ = Value::array();
};

}  // namespace rivlo
