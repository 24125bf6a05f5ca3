#pragma once

#include "platform/Geometry.h"

#include <string>

namespace rivlo {

// One tile of a web page's grid: its area in the page's content view and, once captured, the
// name of its JPEG image in "/RivloWebViewImages". A plain value; the record that owns it
// guards it (RVWebView).
class RVWebViewGrid {
  public:
    static constexpr const char* kDefaultTagInfo = "Kehi pani chaina";

    std::string imageName;                  // "" until captured
    Rect rect;                              // content view coordinates
    std::string tagInfo = kDefaultTagInfo;  // kept in memory only

    // "Image Name:<name>, Frame:{{x, y}, {w, h}}, TagInfo: <tag>"
    std::string description() const;
};

}  // namespace rivlo
