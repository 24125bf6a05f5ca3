#pragma once

#include "foundation/Operation.h"
#include "foundation/URL.h"
#include "http/RVAFImageCache.h"
#include "http/RVAFImageRequestOperation.h"
#include "platform/ImageView.h"

#include <memory>

namespace rivlo {

// Loads remote images into image views: one current image operation per view, a shared queue
// and a shared image cache. Main thread only (image views are main-thread objects).
class RVAFImageViewLoader {
  public:
    using Success = std::function<void(const RVURLRequest&, const std::optional<RVHTTPURLResponse>&,
                                       const std::shared_ptr<const Image>&)>;
    using Failure = std::function<void(const RVURLRequest&, const std::optional<RVHTTPURLResponse>&,
                                       const Error&)>;

    static void setImageWithURL(const std::shared_ptr<ImageView>& view, const URL& url);
    static void setImageWithURL(const std::shared_ptr<ImageView>& view, const URL& url,
                                std::shared_ptr<const Image> placeholder);
    // A cached image is used at once (no request); otherwise the placeholder is shown and the
    // image requested; only the view's latest request may change it.
    static void setImageWithURLRequest(const std::shared_ptr<ImageView>& view,
                                       const RVURLRequest& request,
                                       std::shared_ptr<const Image> placeholder, Success success,
                                       Failure failure);
    static void cancelImageRequestOperation(const std::shared_ptr<ImageView>& view);
    static std::shared_ptr<RVAFImageRequestOperation> imageRequestOperation(
        const std::shared_ptr<ImageView>& view);

    static OperationQueue& sharedImageRequestOperationQueue();
    static RVAFImageCache& sharedImageCache();
};

}  // namespace rivlo
