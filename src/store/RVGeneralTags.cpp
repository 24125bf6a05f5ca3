#include "store/RVGeneralTags.h"

#include "foundation/Clock.h"

namespace rivlo {

RVGeneralTags::RVGeneralTags() : startTime_(Clock::now()), startMonotonic_(Clock::monotonic()) {}

void RVGeneralTags::addTag(const std::string& tag) {
    // The time is taken under the lock so that entries stay in time order across threads.
    std::lock_guard<std::mutex> lock(mutex_);
    tagsList_.push_back({{"tag", tag}, {"time", Clock::monotonic() - startMonotonic_}});
}

Value RVGeneralTags::tags() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return tagsList_;
}

}  // namespace rivlo
