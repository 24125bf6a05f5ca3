#pragma once

#include "platform/CaptureSession.h"

#include <memory>
#include <string>

namespace rivlo {

// Capture movies on FFmpeg: H.264 video through libx264 (BGRA frames converted to YUV 4:2:0
// with libswscale) and AAC sound (FFmpeg's own encoder, from 16-bit samples) in a QuickTime
// movie. The video orientation becomes the track's display matrix (portrait turns the
// landscape pictures a quarter turn clockwise, landscape left half a turn). Frames and samples are
// encoded on the thread that appends them, one at a time; the last frame lasts until the movie's
// end time, so the movie is as long as the recording.
class FfmpegCaptureEncoderFactory : public CaptureMovieEncoderFactory {
  public:
    std::shared_ptr<CaptureMovieEncoder> createEncoder(const std::string& path,
                                                       const CaptureMovieSettings& settings,
                                                       std::string* error) override;

    // Installs this factory as the platform's capture movie encoder
    // (Platform::current().service<CaptureMovieEncoderFactory>()). Any thread.
    static void install();
};

}  // namespace rivlo
