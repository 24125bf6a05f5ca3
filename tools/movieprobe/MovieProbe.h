#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rivlo::media {

// One decoded picture, converted to RGB for sampling.
struct DecodedFrame {
    double seconds = 0;  // presentation time
    bool keyFrame = false;
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;  // rows of 3 x width bytes

    struct RGB {
        int r = 0, g = 0, b = 0;
    };
    RGB at(int x, int y) const;
};

// What libavformat and libavcodec make of a movie file on disk: the checks of the test suites
// and the demo read movies back through this, never through the writer's own account.
struct MovieProbe {
    bool opened = false;
    std::string formatName;  // demuxer name ("mov,mp4,m4a,3gp,3g2,mj2" for QuickTime)
    std::string majorBrand;  // "qt  " for a QuickTime movie
    std::string codecName;   // "h264"
    int width = 0;           // the track's size as a player sees it
    int height = 0;
    double duration = 0;  // seconds
    std::vector<DecodedFrame> frames;
    // Packets the decoder refused and frames it had to conceal errors in: 0 for a sound stream.
    int decodeErrors = 0;
    // Times of the packets the container marks as key frames (sync samples), where a player
    // seeking can start decoding; in decoding order.
    std::vector<double> keyPacketSeconds;
    // A digest of each of those packets' bytes, in the same order (equal packets, equal digests).
    std::vector<size_t> keyPacketDigests;

    // Opens and, when `decode` is set, decodes every frame.
    static MovieProbe open(const std::string& path, bool decode = true);
};

}  // namespace rivlo::media
