#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace rivlo::demo {

// A decoded picture: rows of 3 × width bytes, red, green, blue.
struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;

    bool isRed(int x, int y) const;
};

// Decodes a JPEG file; nullopt (with the reason) when it cannot be read or decoded.
std::optional<RgbImage> decodeJpegFile(const std::string& path, std::string& error);

}  // namespace rivlo::demo
