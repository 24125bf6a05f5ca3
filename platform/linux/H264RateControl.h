#pragma once

#include <cstdint>

struct AVCodecContext;
struct AVDictionary;

namespace rivlo {

// Holds a movie that libx264 encodes (through libavcodec) to an average bit rate over the time
// it covers, as a person sending it pays for it: no stretch of the movie holds more than its
// length's worth plus one second's worth (a thirtieth more over 30 seconds), and a whole movie
// no more than its length's worth.
//
// libx264 aims at a constant quality (rate factor kQuality), capped by its buffer model (VBV):
// filled at the average rate, holding kBufferSeconds of it, one picture's worth at the start.
// That model counts time in pictures encoded, while a screen movie shows many pictures the
// encoder never sees (a still screen's copies and key frames written again): before each picture
// the buffer is given the bits that the time since the last encoded picture earned, less what
// was written beside the encoder meanwhile, so still time is paid for and saved up as it is on
// the wire. With a buffer of one second no encoded picture is larger than a second's worth, so a
// key frame written again every second of a still screen stays within the rate too.
//
// One per movie; used by the thread that owns the movie's encoder and muxer at the time.
class H264RateControl {
  public:
    static constexpr double kBufferSeconds = 1.0;
    static constexpr int kQuality = 23;

    // Capped: as above. AverageOnly: libx264's average alone (how movies were written before;
    // a short movie can take twice the rate), kept for comparison in the benchmarks.
    enum class Mode { Capped, AverageOnly };

    // bitRate in bits per second (at least 1000), frameSeconds the nominal time between
    // pictures the encoder is told of.
    H264RateControl(double bitRate, double frameSeconds, Mode mode = Mode::Capped);

    // Before the encoder is opened: its rate fields and libx264's options.
    void configure(AVCodecContext& encoder, AVDictionary** options) const;
    // Bytes written into the movie beside the encoder (copies, key frames written again).
    void addBytesBeside(int64_t bytes) { bytesBeside_ += bytes; }
    // Just before the picture at `seconds` (movie time) is handed to the encoder.
    void beforeEncoding(AVCodecContext& encoder, double seconds);

  private:
    double bitRate_;
    double frameSeconds_;
    Mode mode_;
    double lastSeconds_ = -1;  // the picture encoded last, -1 before the first
    int64_t bytesBeside_ = 0;  // since then
    double owed_ = 0;          // bits written beside that the earned time did not yet cover
};

}  // namespace rivlo
