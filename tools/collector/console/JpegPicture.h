#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace rivlo::collector {

// A decoded picture: rows of 3 × width bytes, red, green, blue.
struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;
};

// JPEG pictures (web tiles) read back with libjpeg.
class JpegPicture {
  public:
    // Decodes a JPEG file; nullopt (with the reason) when it cannot be read or decoded.
    static std::optional<RgbImage> decodeFile(const std::string& path, std::string& error);
};

}  // namespace rivlo::collector
