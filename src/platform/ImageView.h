#pragma once

#include "platform/Image.h"
#include "platform/View.h"

#include <memory>

namespace rivlo {

// A view showing an image stretched to its bounds. Main thread only.
class ImageView : public View {
  public:
    static ObjClass* classObject();  // "UIImageView"
    explicit ImageView(Rect frame = {}, ObjClass* cls = classObject());

    std::shared_ptr<const Image> image() const { return image_; }
    void setImage(std::shared_ptr<const Image> image) { image_ = std::move(image); }

  private:
    std::shared_ptr<const Image> image_;
};

}  // namespace rivlo
