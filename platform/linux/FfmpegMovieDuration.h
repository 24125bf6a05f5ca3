#pragma once

#include "platform/MovieDuration.h"

namespace rivlo {

// Reads a movie's duration from its container header with libavformat. Any thread.
class FfmpegMovieDuration : public MovieDurationReader {
  public:
    FfmpegMovieDuration();
    std::optional<MediaTime> duration(const std::string& path) override;
};

}  // namespace rivlo
