#pragma once

#include <cstdint>
#include <functional>
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

// A 4:2:0 picture's planes (Y, then U and V at half size, rounded up), borrowed: a decoded one
// is valid during the call that hands it over.
struct PicturePlanes {
    double seconds = 0;  // presentation time
    bool keyFrame = false;
    int width = 0;  // of the luma plane
    int height = 0;
    const uint8_t* data[3] = {nullptr, nullptr, nullptr};
    int stride[3] = {0, 0, 0};
};

// One packet of the video track as the container holds it.
struct MoviePacket {
    double seconds = 0;  // presentation time
    int bytes = 0;
    bool keyFrame = false;
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
    // Every packet of the video track, in decoding order, and the file's size in bytes.
    std::vector<MoviePacket> packets;
    int64_t fileBytes = 0;

    // The file's bits per second of the movie's duration: what sending it costs per second
    // recorded (0 for a movie without duration).
    double bitsPerSecond() const;
    // The video track's most bits in any stretch of `seconds` (packets by presentation time),
    // per second; the whole track's when the movie is shorter than that.
    double mostBitsPerSecondOver(double seconds) const;

    // Opens and, when `decode` is set, decodes every frame.
    static MovieProbe open(const std::string& path, bool decode = true);
    // Opens and decodes every frame, handing each to `visit` in presentation order instead of
    // keeping it (a long movie without a copy of every picture). Only 4:2:0 pictures are handed
    // over; others count as decode errors.
    static MovieProbe open(const std::string& path,
                           const std::function<void(const PicturePlanes&)>& visit);
};

}  // namespace rivlo::media
