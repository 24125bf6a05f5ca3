#include "http/RVAFImageViewLoader.h"
#include "foundation/SharedInstance.h"

#include <map>

namespace rivlo {

namespace {

// The current image operation of each view (main thread only).
std::map<const ImageView*, std::shared_ptr<RVAFImageRequestOperation>>& currentOperations() {
    static auto* const ops =
        new std::map<const ImageView*, std::shared_ptr<RVAFImageRequestOperation>>;
    return *ops;
}

bool isCurrent(const ImageView* view, const RVURLRequest& finished) {
    const auto it = currentOperations().find(view);
    return it != currentOperations().end() &&
           it->second->request().absoluteURLString() == finished.absoluteURLString();
}

}  // namespace

OperationQueue& RVAFImageViewLoader::sharedImageRequestOperationQueue() {
    static SharedInstance<OperationQueue> queue;
    return queue.get([] { return new OperationQueue("com.rivlo.networking.image-views"); },
                     [](OperationQueue& q) { q.cancelAllOperations(); });
}

RVAFImageCache& RVAFImageViewLoader::sharedImageCache() {
    static SharedInstance<RVAFImageCache> cache;
    return cache.get([] { return new RVAFImageCache(); });
}

std::shared_ptr<RVAFImageRequestOperation> RVAFImageViewLoader::imageRequestOperation(
    const std::shared_ptr<ImageView>& view) {
    const auto it = currentOperations().find(view.get());
    return it == currentOperations().end() ? nullptr : it->second;
}

void RVAFImageViewLoader::cancelImageRequestOperation(const std::shared_ptr<ImageView>& view) {
    const auto it = currentOperations().find(view.get());
    if (it == currentOperations().end()) return;
    it->second->cancel();
    currentOperations().erase(it);
}

void RVAFImageViewLoader::setImageWithURL(const std::shared_ptr<ImageView>& view, const URL& url) {
    setImageWithURL(view, url, nullptr);
}

void RVAFImageViewLoader::setImageWithURL(const std::shared_ptr<ImageView>& view, const URL& url,
                                          std::shared_ptr<const Image> placeholder) {
    RVURLRequest request(url);
    request.HTTPShouldHandleCookies = false;
    request.setValue("image/*", "Accept");
    setImageWithURLRequest(view, request, std::move(placeholder), nullptr, nullptr);
}

void RVAFImageViewLoader::setImageWithURLRequest(const std::shared_ptr<ImageView>& view,
                                                 const RVURLRequest& request,
                                                 std::shared_ptr<const Image> placeholder,
                                                 Success success, Failure failure) {
    if (!view) return;
    cancelImageRequestOperation(view);
    if (auto cached = sharedImageCache().cachedImageForRequest(request)) {
        if (success) {
            success(request, std::nullopt, cached);
        } else {
            view->setImage(cached);
        }
        return;
    }
    if (placeholder) view->setImage(placeholder);
    std::weak_ptr<ImageView> weakView = view;
    const ImageView* key = view.get();
    auto op = RVAFImageRequestOperation::imageRequestOperationWithRequest(
        request, nullptr,
        [weakView, key, success](const RVURLRequest& req,
                                 const std::optional<RVHTTPURLResponse>& resp,
                                 const std::shared_ptr<const Image>& image) {
            auto v = weakView.lock();
            if (isCurrent(key, req)) {
                currentOperations().erase(key);
                if (v && success) {
                    success(req, resp, image);
                } else if (v && image) {
                    v->setImage(image);
                }
            }
            sharedImageCache().cacheImage(image, req);
        },
        [weakView, key, failure](const RVURLRequest& req,
                                 const std::optional<RVHTTPURLResponse>& resp, const Error& error) {
            auto v = weakView.lock();
            if (isCurrent(key, req)) {
                currentOperations().erase(key);
                if (v && failure) failure(req, resp, error);
            }
        });
    currentOperations()[key] = op;
    sharedImageRequestOperationQueue().addOperation(op);
}

}  // namespace rivlo
