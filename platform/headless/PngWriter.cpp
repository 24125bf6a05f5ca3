#include "platform/headless/PngWriter.h"

#include "foundation/Log.h"

#include <cairo.h>

#include <vector>

namespace rivlo {

bool PngWriter::write(const Image& image, const std::string& path) {
    if (image.isEmpty()) {
        RVLog("PngWriter: empty image not written to %s", path.c_str());
        return false;
    }
    std::vector<uint8_t> copy = image.bytes();
    cairo_surface_t* s =
        cairo_image_surface_create_for_data(copy.data(), CAIRO_FORMAT_ARGB32, image.width(),
                                            image.height(), static_cast<int>(image.bytesPerRow()));
    const cairo_status_t status = cairo_surface_write_to_png(s, path.c_str());
    cairo_surface_destroy(s);
    if (status != CAIRO_STATUS_SUCCESS) {
        RVLog("PngWriter: cannot write %s: %s", path.c_str(), cairo_status_to_string(status));
        return false;
    }
    return true;
}

}  // namespace rivlo
