#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace rivlo::collector {

// One picture of a movie file, as RGB rows (3 bytes a pixel).
struct MoviePicture {
    int width = 0;
    int height = 0;
    double seconds = 0;  // its presentation time
    std::vector<uint8_t> rgb;
};

// Decodes the picture shown at a moment of a movie (libavformat, libavcodec, libswscale): a seek
// to the key frame at or before it, then decoding up to it, so a moment of a long movie costs at
// most a key frame's interval of decoding. Any thread; no state shared between calls.
class MovieFrame {
  public:
    // The picture showing at `seconds` (the last one when the movie is shorter); nullopt, with
    // the reason, when the file cannot be read as a movie.
    static std::optional<MoviePicture> at(const std::string& path, double seconds,
                                          std::string& error);
};

}  // namespace rivlo::collector
