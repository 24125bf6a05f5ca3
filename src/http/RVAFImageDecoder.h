#pragma once

#include "platform/Image.h"

#include <optional>
#include <string>

namespace rivlo {

// Decodes PNG, JPEG or GIF bytes (the first frame of a GIF) into a BGRA premultiplied image
// with the given scale. std::nullopt when the bytes are none of these or are damaged. Any
// thread.
std::optional<Image> RVAFDecodeImage(const std::string& bytes, double scale);

}  // namespace rivlo
