#pragma once

#include "platform/Geometry.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace rivlo {

// An immutable bitmap: 32-bit BGRA pixels (premultiplied alpha, byte order B, G, R, A), rows of
// exactly 4 x width bytes, top row first. `scale` is pixels per point. Any thread.
class Image {
  public:
    Image() = default;
    // Takes pixels of width x height x 4 bytes; an empty image when the sizes disagree.
    Image(int width, int height, double scale, std::vector<uint8_t> bgra);

    int width() const { return width_; }    // pixels
    int height() const { return height_; }  // pixels
    double scale() const { return scale_; }
    Size size() const;  // points
    size_t bytesPerRow() const { return static_cast<size_t>(width_) * 4; }
    const std::vector<uint8_t>& bytes() const { return bytes_; }
    bool isEmpty() const { return width_ <= 0 || height_ <= 0; }

    struct Pixel {
        uint8_t b = 0, g = 0, r = 0, a = 0;
        bool operator==(const Pixel&) const = default;
    };
    // The pixel at (x, y) in pixels; a transparent pixel outside the image.
    Pixel pixelAt(int x, int y) const;

    // A new image of the part of this image inside `rect`, in the image's own pixel
    // coordinates. The rectangle is made integral and limited to the image; nullopt when
    // nothing is left.
    std::optional<Image> cropped(const Rect& rect) const;

    // JPEG data at a quality in 0...1 (out-of-range values are clamped), or empty on failure.
    // Alpha is dropped: pixels are composited over black as stored (premultiplied).
    std::vector<uint8_t> jpegData(double quality) const;

  private:
    int width_ = 0;
    int height_ = 0;
    double scale_ = 1.0;
    std::vector<uint8_t> bytes_;
};

}  // namespace rivlo
