#pragma once

#include "platform/Image.h"

#include <string>

namespace rivlo {

// Writes an image as a PNG file (through Cairo). Answers false, with a log line, on failure.
// Any thread.
class PngWriter {
  public:
    static bool write(const Image& image, const std::string& path);
};

}  // namespace rivlo
