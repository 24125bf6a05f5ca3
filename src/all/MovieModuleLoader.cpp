// librivlo's LinuxMovieServices::install: services that load the FFmpeg module (rivlo-ffmpeg.so,
// next to librivlo) on first use and forward to it, so that loading librivlo does not load
// FFmpeg and its codecs. Built into librivlo only; programs that link the archives get
// platform/linux/FfmpegMovieServices.cpp instead.

#include "platform/linux/LinuxMovieServices.h"

#include "foundation/LoadableModule.h"
#include "foundation/Log.h"
#include "platform/CaptureSession.h"
#include "platform/MovieDuration.h"
#include "platform/MovieWriter.h"
#include "platform/Platform.h"

#include <mutex>
#include <string>

namespace rivlo {

namespace {

using Entry = void (*)(LinuxMovieServices::Set*);

// The module's services, loaded on first use. Empty (logged once) when the module cannot be
// loaded: no screen or camera movie is written then, and movie durations read as unknown.
// Kept for the process, as the module is.
const LinuxMovieServices::Set& moduleServices() {
    static std::mutex mutex;
    static LinuxMovieServices::Set* set = nullptr;
    std::string problem;
    {
        std::lock_guard lock(mutex);
        if (set) return *set;
        auto entry = reinterpret_cast<Entry>(LoadableModule::load(
            LinuxMovieServices::kModuleFile, LinuxMovieServices::kEntryPoint,
            reinterpret_cast<const void*>(&LinuxMovieServices::install), problem));
        set = new LinuxMovieServices::Set;
        if (entry) entry(set);
    }
    if (!set->writers) {
        RVLog(
            "Rivlo: the movie module %s could not be loaded (%s); no screen or camera movie is "
            "recorded",
            LinuxMovieServices::kModuleFile, problem.c_str());
    }
    return *set;
}

const char* const kNoModule = "the movie module could not be loaded";

class ModuleMovieWriterFactory final : public MovieWriterFactory {
  public:
    std::shared_ptr<MovieWriter> createWriter(const std::string& path, MovieFileType fileType,
                                              std::string* error) override {
        if (auto& writers = moduleServices().writers)
            return writers->createWriter(path, fileType, error);
        if (error) *error = kNoModule;
        return nullptr;
    }
    std::shared_ptr<MovieWriterInput> createVideoInput(
        const VideoOutputSettings& settings) override {
        auto& writers = moduleServices().writers;
        return writers ? writers->createVideoInput(settings) : nullptr;
    }
    std::shared_ptr<PixelBufferAdaptor> createPixelBufferAdaptor(
        std::shared_ptr<MovieWriterInput> input, PixelFormat sourceFormat) override {
        auto& writers = moduleServices().writers;
        return writers ? writers->createPixelBufferAdaptor(std::move(input), sourceFormat)
                       : nullptr;
    }
};

class ModuleMovieDurationReader final : public MovieDurationReader {
  public:
    std::optional<MediaTime> duration(const std::string& path) override {
        auto& durations = moduleServices().durations;
        return durations ? durations->duration(path) : std::nullopt;
    }
};

class ModuleCaptureEncoderFactory final : public CaptureMovieEncoderFactory {
  public:
    std::shared_ptr<CaptureMovieEncoder> createEncoder(const std::string& path,
                                                       const CaptureMovieSettings& settings,
                                                       std::string* error) override {
        if (auto& encoders = moduleServices().captureEncoders)
            return encoders->createEncoder(path, settings, error);
        if (error) *error = kNoModule;
        return nullptr;
    }
};

}  // namespace

void LinuxMovieServices::install() {
    Platform::current().setService<MovieWriterFactory>(
        std::make_shared<ModuleMovieWriterFactory>());
    Platform::current().setService<MovieDurationReader>(
        std::make_shared<ModuleMovieDurationReader>());
    Platform::current().setService<CaptureMovieEncoderFactory>(
        std::make_shared<ModuleCaptureEncoderFactory>());
}

}  // namespace rivlo
