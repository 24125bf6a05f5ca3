#include "http/RVAFImageRequestOperation.h"

#include "foundation/Log.h"
#include "foundation/SharedInstance.h"
#include "http/RVAFImageDecoder.h"
#include "http/RVAFJSONRequestOperation.h"
#include "platform/Platform.h"

namespace rivlo {

namespace {

std::mutex& typesMutex() {
    static std::mutex m;
    return m;
}
std::set<std::string>& types() {
    static SharedInstance<std::set<std::string>> t;
    return t.get([] {
        return new std::set<std::string>{
            "image/tiff",   "image/jpeg", "image/gif",   "image/png",       "image/ico",
            "image/x-icon", "image/bmp",  "image/x-bmp", "image/x-xbitmap", "image/x-win-bitmap"};
    });
}

}  // namespace

RVAFImageRequestOperation::RVAFImageRequestOperation(RVURLRequest request)
    : RVAFHTTPRequestOperation(std::move(request)) {
    if (auto device = Platform::current().device()) {
        if (device->screenScale() > 0) imageScale_ = device->screenScale();
    }
}

std::shared_ptr<RVAFImageRequestOperation>
RVAFImageRequestOperation::imageRequestOperationWithRequest(const RVURLRequest& request,
                                                            ImageBlock success) {
    return imageRequestOperationWithRequest(
        request, nullptr,
        [success](const RVURLRequest&, const std::optional<RVHTTPURLResponse>&,
                  const std::shared_ptr<const Image>& image) {
            if (success) success(image);
        },
        nullptr);
}

std::shared_ptr<RVAFImageRequestOperation>
RVAFImageRequestOperation::imageRequestOperationWithRequest(const RVURLRequest& request,
                                                            ImageProcessingBlock processing,
                                                            ImageSuccessBlock success,
                                                            ImageFailureBlock failure) {
    auto op = std::make_shared<RVAFImageRequestOperation>(request);
    op->setCompletionBlockWithSuccess(
        [processing, success](const std::shared_ptr<RVAFHTTPRequestOperation>& o, const Value&) {
            auto* imageOp = static_cast<RVAFImageRequestOperation*>(o.get());
            std::shared_ptr<const Image> image = imageOp->responseImage();
            if (!success) return;
            if (!processing) {
                success(o->request(), o->response(), image);
                return;
            }
            processingQueue().async([o, processing, success, image] {
                auto processed = processing(image);
                auto* imageOp = static_cast<RVAFImageRequestOperation*>(o.get());
                dispatchTo(imageOp->successCallbackQueue(), [o, success, processed] {
                    success(o->request(), o->response(), processed);
                });
            });
        },
        [failure](const std::shared_ptr<RVAFHTTPRequestOperation>& o, const Error& error) {
            if (failure) failure(o->request(), o->response(), error);
        });
    return op;
}

DispatchQueue& RVAFImageRequestOperation::processingQueue() {
    static SharedInstance<DispatchQueue> queue;
    return sharedQueue(queue, "com.rivlo.networking.image-request.processing");
}

std::optional<std::set<std::string>> RVAFImageRequestOperation::acceptableContentTypes() {
    std::lock_guard<std::mutex> lock(typesMutex());
    return types();
}

void RVAFImageRequestOperation::addAcceptableContentTypes(const std::set<std::string>& added) {
    std::lock_guard<std::mutex> lock(typesMutex());
    types().insert(added.begin(), added.end());
}

std::optional<std::set<std::string>> RVAFImageRequestOperation::classAcceptableContentTypes()
    const {
    return acceptableContentTypes();
}

bool RVAFImageRequestOperation::canProcessRequest(const RVURLRequest& request) {
    return RVAFRequestMatches(request,
                              {"tif", "tiff", "jpg", "jpeg", "gif", "png", "ico", "bmp", "cur"},
                              acceptableContentTypes());
}

double RVAFImageRequestOperation::imageScale() const {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    return imageScale_;
}

void RVAFImageRequestOperation::setImageScale(double scale) {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    if (scale == imageScale_) return;
    imageScale_ = scale;
    responseImage_.reset();
}

std::shared_ptr<const Image> RVAFImageRequestOperation::responseImage() {
    size_t undecodable = 0;
    std::shared_ptr<const Image> result;
    {
        std::lock_guard<std::recursive_mutex> lock(lock_);
        if (!responseImage_ && isFinished()) {
            const auto data = responseData();
            if (data && !data->empty()) {
                if (auto image = RVAFDecodeImage(*data, imageScale_)) {
                    responseImage_ = std::make_shared<const Image>(std::move(*image));
                } else {
                    undecodable = data->size();
                }
            }
        }
        result = responseImage_;
    }
    if (undecodable > 0) {
        RVLog("Rivlo: image response of %zu bytes could not be decoded", undecodable);
    }
    return result;
}

void RVAFImageRequestOperation::setCompletionBlockWithSuccess(SuccessBlock success,
                                                              FailureBlock failure) {
    // The image is decoded on the processing queue; the callbacks read it from the operation.
    setCallbackRoutine(std::move(success), std::move(failure), false, &processingQueue(),
                       [](RVAFHTTPRequestOperation& op) {
                           auto& self = static_cast<RVAFImageRequestOperation&>(op);
                           self.responseImage();
                           return Decoded{Value(), self.error()};
                       });
}

}  // namespace rivlo
