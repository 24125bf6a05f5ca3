#pragma once

#include "platform/MovieWriter.h"
#include "platform/linux/H264RateControl.h"

#include <memory>
#include <string>

namespace rivlo {

// Movie writing on FFmpeg: H.264 through libx264 in a QuickTime movie (libavformat's "mov"
// muxer), BGRA frames converted to YUV 4:2:0 with libyuv.
//
// Each writer runs one encoder thread. appendPixelBuffer converts the frame on the caller's
// thread into one of two pictures and hands it to that thread; until the encoder has taken it,
// the input reports itself not ready, so a real-time caller drops frames instead of queueing
// them. The encoder encodes one picture while the caller converts the next into the other, so a
// steady stream of frames runs at the encoder's own speed. appendPreviousPixelBuffer shows the
// last converted picture again at a later time, with nothing copied or converted: in the
// "ultrafast" stream as a copy of the previous picture written without the encoder (see
// H264PictureRepeater), with the other presets by encoding it again. A copy is never a key frame:
// when one is due (a second since the last), the picture is encoded again as a key frame instead,
// so key frames are at most a second apart in every movie, a still screen's too. Sizes
// that 4:2:0 cannot code (an odd width or height) are encoded one pixel larger, the last row or
// column repeated, and the file declares the requested display size. The last frame lasts until
// the session's end time, so the movie's duration is the session's even when frames are missing.
// The movie keeps the input's average bit rate over any stretch of it, copies and key frames
// written again included (see H264RateControl). Finishing runs on the encoder thread, which then
// calls the finish handler.
class FfmpegMovieWriterFactory : public MovieWriterFactory {
  public:
    // The x264 speed preset ("ultrafast" ... "placebo"). "ultrafast" keeps a phone-sized frame
    // under a millisecond of encoding, where "veryfast" takes three to four times as long; the
    // slower presets look better at the same bit rate. The rate control: Capped holds every
    // stretch of the movie to the bit rate; AverageOnly is how movies were written before (the
    // benchmarks compare the two).
    explicit FfmpegMovieWriterFactory(
        std::string x264Preset = "ultrafast",
        H264RateControl::Mode rateControl = H264RateControl::Mode::Capped);

    std::shared_ptr<MovieWriter> createWriter(const std::string& path, MovieFileType fileType,
                                              std::string* error) override;
    std::shared_ptr<MovieWriterInput> createVideoInput(
        const VideoOutputSettings& settings) override;
    std::shared_ptr<PixelBufferAdaptor> createPixelBufferAdaptor(
        std::shared_ptr<MovieWriterInput> input, PixelFormat sourceFormat) override;

    // Installs this factory, the FFmpeg duration reader and the capture movie encoder as the
    // platform's movie services (Platform::current().service<MovieWriterFactory>(),
    // <MovieDurationReader>() and <CaptureMovieEncoderFactory>()).
    static void installDefaults();

  private:
    std::string preset_;
    H264RateControl::Mode rateControl_;
};

}  // namespace rivlo
