#pragma once

#include "http/RVURLRequest.h"
#include "platform/Image.h"

#include <map>
#include <memory>
#include <mutex>

namespace rivlo {

// Images keyed by the absolute URL text of their request. Bounded: the oldest entries go when
// more than `countLimit` are held. Any thread.
class RVAFImageCache {
  public:
    explicit RVAFImageCache(size_t countLimit = 256) : countLimit_(countLimit) {}

    // Nothing for a request whose cache policy ignores local data.
    std::shared_ptr<const Image> cachedImageForRequest(const RVURLRequest& request) const;
    void cacheImage(const std::shared_ptr<const Image>& image, const RVURLRequest& request);
    void removeAllObjects();
    size_t count() const;

  private:
    mutable std::mutex mutex_;
    size_t countLimit_;
    uint64_t nextStamp_ = 0;
    std::map<std::string, std::pair<uint64_t, std::shared_ptr<const Image>>> images_;
};

}  // namespace rivlo
