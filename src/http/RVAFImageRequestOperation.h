#pragma once

#include "http/RVAFHTTPRequestOperation.h"
#include "platform/Image.h"

namespace rivlo {

// An HTTP request operation whose successful body is decoded (PNG, JPEG, GIF) into an image at
// imageScale (default: the main screen's scale) on the class's processing queue.
class RVAFImageRequestOperation : public RVAFHTTPRequestOperation {
  public:
    using ImageBlock = std::function<void(const std::shared_ptr<const Image>& image)>;
    using ImageProcessingBlock =
        std::function<std::shared_ptr<const Image>(const std::shared_ptr<const Image>& image)>;
    using ImageSuccessBlock =
        std::function<void(const RVURLRequest&, const std::optional<RVHTTPURLResponse>&,
                           const std::shared_ptr<const Image>& image)>;
    using ImageFailureBlock = std::function<void(
        const RVURLRequest&, const std::optional<RVHTTPURLResponse>&, const Error&)>;

    explicit RVAFImageRequestOperation(RVURLRequest request);

    static std::shared_ptr<RVAFImageRequestOperation> imageRequestOperationWithRequest(
        const RVURLRequest& request, ImageBlock success);
    static std::shared_ptr<RVAFImageRequestOperation> imageRequestOperationWithRequest(
        const RVURLRequest& request, ImageProcessingBlock processing, ImageSuccessBlock success,
        ImageFailureBlock failure);

    std::string className() const override { return "RVAFImageRequestOperation"; }

    // Decoded once when finished with a non-empty body; null when the bytes are no image.
    std::shared_ptr<const Image> responseImage();
    double imageScale() const;
    // A different scale discards the decoded image.
    void setImageScale(double scale);

    // Success gets a null value; the image is responseImage().
    void setCompletionBlockWithSuccess(SuccessBlock success, FailureBlock failure) override;

    static std::optional<std::set<std::string>> acceptableContentTypes();
    static void addAcceptableContentTypes(const std::set<std::string>& types);
    static bool canProcessRequest(const RVURLRequest& request);
    static DispatchQueue& processingQueue();

  protected:
    std::optional<std::set<std::string>> classAcceptableContentTypes() const override;

  private:
    double imageScale_ = 1.0;
    std::shared_ptr<const Image> responseImage_;
};

}  // namespace rivlo
