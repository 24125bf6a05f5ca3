#include "http/RVAFImageCache.h"

namespace rivlo {

std::shared_ptr<const Image> RVAFImageCache::cachedImageForRequest(
    const RVURLRequest& request) const {
    if (request.cachePolicy == RVURLRequest::ReloadIgnoringLocalCacheData ||
        request.cachePolicy == RVURLRequest::ReloadIgnoringLocalAndRemoteCacheData) {
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = images_.find(request.absoluteURLString());
    return it == images_.end() ? nullptr : it->second.second;
}

void RVAFImageCache::cacheImage(const std::shared_ptr<const Image>& image,
                                const RVURLRequest& request) {
    if (!image || !request.url) return;
    std::lock_guard<std::mutex> lock(mutex_);
    images_[request.absoluteURLString()] = {nextStamp_++, image};
    while (images_.size() > countLimit_ && countLimit_ > 0) {
        auto oldest = images_.begin();
        for (auto it = images_.begin(); it != images_.end(); ++it) {
            if (it->second.first < oldest->second.first) oldest = it;
        }
        images_.erase(oldest);
    }
}

void RVAFImageCache::removeAllObjects() {
    std::lock_guard<std::mutex> lock(mutex_);
    images_.clear();
}

size_t RVAFImageCache::count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return images_.size();
}

}  // namespace rivlo
