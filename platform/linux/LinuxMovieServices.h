#pragma once

#include <memory>

namespace rivlo {

class CaptureMovieEncoderFactory;
class MovieDurationReader;
class MovieWriterFactory;

// The Linux defaults' movie services (screen and camera movies, movie durations), on FFmpeg.
//
// FFmpeg and its codecs are most of what loading the library would cost, so librivlo does not
// link them: its install() puts in services that load rivlo-ffmpeg.so (installed next to
// librivlo) when the first movie is written or read, and forward to what the module made
// (src/all/MovieModuleLoader.cpp). Programs of this build that link the archives get the FFmpeg
// services directly (FfmpegMovieServices.cpp, the same code the module is made of).
class LinuxMovieServices {
  public:
    // What the module makes.
    struct Set {
        std::shared_ptr<MovieWriterFactory> writers;
        std::shared_ptr<MovieDurationReader> durations;
        std::shared_ptr<CaptureMovieEncoderFactory> captureEncoders;
    };

    // Installs the movie services into Platform::current(). Any thread.
    static void install();

    static constexpr const char* kModuleFile = "rivlo-ffmpeg.so";
    // extern "C" void rivlo_ffmpeg_movie_services(LinuxMovieServices::Set*): fills the set.
    static constexpr const char* kEntryPoint = "rivlo_ffmpeg_movie_services";
};

}  // namespace rivlo
