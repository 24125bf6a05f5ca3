#include "platform/Image.h"

#include "foundation/Log.h"

#include <jpeglib.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>

namespace rivlo {

Image::Image(int width, int height, double scale, std::vector<uint8_t> bgra) {
    if (width <= 0 || height <= 0 ||
        bgra.size() != static_cast<size_t>(width) * static_cast<size_t>(height) * 4) {
        if (width != 0 || height != 0) {
            RVLog("Image: %zu bytes do not make a %dx%d BGRA image", bgra.size(), width, height);
        }
        return;
    }
    width_ = width;
    height_ = height;
    scale_ = scale > 0 && std::isfinite(scale) ? scale : 1.0;
    bytes_ = std::move(bgra);
}

Size Image::size() const {
    return {width_ / scale_, height_ / scale_};
}

Image::Pixel Image::pixelAt(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return {};
    const size_t i =
        (static_cast<size_t>(y) * static_cast<size_t>(width_) + static_cast<size_t>(x)) * 4;
    return {bytes_[i], bytes_[i + 1], bytes_[i + 2], bytes_[i + 3]};
}

std::optional<Image> Image::cropped(const Rect& rect) const {
    if (isEmpty()) return std::nullopt;
    if (!std::isfinite(rect.minX()) || !std::isfinite(rect.minY()) ||
        !std::isfinite(rect.width()) || !std::isfinite(rect.height())) {
        return std::nullopt;
    }
    const Rect r = rect.integral().intersection(Rect(0, 0, width_, height_));
    if (r.isEmpty()) return std::nullopt;
    const int x0 = static_cast<int>(r.minX());
    const int y0 = static_cast<int>(r.minY());
    const int w = static_cast<int>(r.width());
    const int h = static_cast<int>(r.height());
    std::vector<uint8_t> out(static_cast<size_t>(w) * static_cast<size_t>(h) * 4);
    for (int y = 0; y < h; ++y) {
        const uint8_t* src = bytes_.data() + (static_cast<size_t>(y0 + y) * bytesPerRow()) +
                             static_cast<size_t>(x0) * 4;
        std::copy(src, src + static_cast<size_t>(w) * 4,
                  out.data() + static_cast<size_t>(y) * w * 4);
    }
    return Image(w, h, scale_, std::move(out));
}

namespace {
struct JpegError {
    jpeg_error_mgr mgr;
    jmp_buf jump;
};

void onJpegError(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<JpegError*>(cinfo->err);
    char message[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, message);
    RVLog("Image: JPEG encoding failed: %s", message);
    longjmp(err->jump, 1);
}
}  // namespace

std::vector<uint8_t> Image::jpegData(double quality) const {
    if (isEmpty()) return {};
    if (!std::isfinite(quality)) quality = 0.5;
    const int q = static_cast<int>(std::lround(std::clamp(quality, 0.0, 1.0) * 100.0));

    // Convert to packed RGB first so the encoder needs no colour-space extension.
    std::vector<uint8_t> rgb(static_cast<size_t>(width_) * static_cast<size_t>(height_) * 3);
    for (size_t i = 0, j = 0; i < bytes_.size(); i += 4, j += 3) {
        rgb[j] = bytes_[i + 2];
        rgb[j + 1] = bytes_[i + 1];
        rgb[j + 2] = bytes_[i];
    }

    jpeg_compress_struct cinfo{};
    JpegError err{};
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = onJpegError;
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&cinfo);
        std::free(buffer);
        return {};
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(width_);
    cinfo.image_height = static_cast<JDIMENSION>(height_);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, std::max(1, q), TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = rgb.data() + static_cast<size_t>(cinfo.next_scanline) * width_ * 3;
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    std::vector<uint8_t> out(buffer, buffer + size);
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);
    return out;
}

}  // namespace rivlo
