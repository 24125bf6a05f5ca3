#pragma once

#include "platform/MovieWriter.h"

#include <memory>
#include <optional>
#include <string>

namespace rivlo {

// Reads the duration of a finished movie file. Any thread. Installed with
// Platform::current().setService<MovieDurationReader>(...).
class MovieDurationReader {
  public:
    virtual ~MovieDurationReader() = default;
    // The movie's duration, or std::nullopt when the file cannot be read as a movie.
    virtual std::optional<MediaTime> duration(const std::string& path) = 0;
};

}  // namespace rivlo
