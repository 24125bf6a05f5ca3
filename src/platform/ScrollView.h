#pragma once

#include "platform/View.h"

namespace rivlo {

// A view whose bounds origin is the content offset: scrolling moves the content under it.
// Main thread only.
class ScrollView : public View {
  public:
    static ObjClass* classObject();  // "UIScrollView"
    explicit ScrollView(Rect frame = {}, ObjClass* cls = classObject());

    Point contentOffset() const { return bounds().origin; }
    // Limited to 0...max(0, content - bounds) on each axis.
    void setContentOffset(Point offset);
    Size contentSize() const { return contentSize_; }
    void setContentSize(Size size) { contentSize_ = size; }

  private:
    Size contentSize_;
};

}  // namespace rivlo
