// The FFmpeg movie services for programs that link the archives, and the entry point of
// rivlo-ffmpeg.so, the module librivlo loads for them (see LinuxMovieServices.h).

#include "platform/linux/LinuxMovieServices.h"

#include "platform/linux/FfmpegCaptureEncoder.h"
#include "platform/linux/FfmpegMovieDuration.h"
#include "platform/linux/FfmpegMovieWriter.h"

namespace rivlo {

void LinuxMovieServices::install() {
    FfmpegMovieWriterFactory::installDefaults();
}

}  // namespace rivlo

extern "C" void rivlo_ffmpeg_movie_services(rivlo::LinuxMovieServices::Set* set) {
    set->writers = std::make_shared<rivlo::FfmpegMovieWriterFactory>();
    set->durations = std::make_shared<rivlo::FfmpegMovieDuration>();
    set->captureEncoders = std::make_shared<rivlo::FfmpegCaptureEncoderFactory>();
}
