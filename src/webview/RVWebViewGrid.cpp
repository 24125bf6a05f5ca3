#include "webview/RVWebViewGrid.h"

#include "foundation/Log.h"

namespace rivlo {

std::string RVWebViewGrid::description() const {
    return format("Image Name:%s, Frame:%s, TagInfo: %s", imageName.c_str(),
                  stringFromRect(rect).c_str(), tagInfo.c_str());
}

}  // namespace rivlo
