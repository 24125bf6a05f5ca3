#include "platform/CaptureSession.h"

#include "foundation/BackgroundThreads.h"
#include "foundation/Clock.h"
#include "foundation/Log.h"
#include "platform/Platform.h"

#include <sys/stat.h>

#include <thread>

namespace rivlo {

// ---- Devices --------------------------------------------------------------------------------

std::vector<std::shared_ptr<CaptureDevice>> CaptureDevice::devicesWithMediaType(
    CaptureMediaType type) {
    std::vector<std::shared_ptr<CaptureDevice>> out;
    auto discovery = Platform::current().service<CaptureDeviceDiscovery>();
    if (!discovery) return out;
    for (auto& device : discovery->devices()) {
        if (device && device->mediaType() == type) out.push_back(device);
    }
    return out;
}

std::shared_ptr<CaptureDevice> CaptureDevice::defaultDeviceWithMediaType(CaptureMediaType type) {
    auto devices = devicesWithMediaType(type);
    return devices.empty() ? nullptr : devices.front();
}

std::shared_ptr<CaptureDeviceInput> CaptureDeviceInput::deviceInputWithDevice(
    const std::shared_ptr<CaptureDevice>& device, Error* error) {
    if (!device) {
        if (error) {
            *error = Error(CaptureErrorDomain, CaptureErrorCode::DeviceNotConnected,
                           Value{{ErrorKey::LocalizedDescription, "No capture device"}});
        }
        return nullptr;
    }
    Error reason;
    auto source = device->open(&reason);
    if (!source) {
        if (error) *error = reason;
        return nullptr;
    }
    return std::make_shared<CaptureDeviceInput>(device, std::move(source));
}

// ---- Movie file output ----------------------------------------------------------------------

struct CaptureMovieFileOutput::Recording {
    URL url;
    std::weak_ptr<CaptureFileOutputRecordingDelegate> delegate;
    std::shared_ptr<CaptureMovieEncoder> encoder;
    double startTime = 0;  // monotonic seconds of the movie's zero
    bool hasAudio = false;
    // Held by each append; finishing takes it to shut appends out before closing the file.
    std::mutex appendMutex;
    bool closed = false;
};

namespace {

// Runs work on a thread of its own that the caller does not wait for (joined later).
void runDetached(std::function<void()> work) {
    BackgroundThreads::start("rivlo.capture", std::move(work));
}

}  // namespace

std::shared_ptr<CaptureConnection> CaptureMovieFileOutput::connectionWithMediaType(
    CaptureMediaType type) const {
    std::lock_guard lock(mutex_);
    return type == CaptureMediaType::Video ? videoConnection_ : audioConnection_;
}

void CaptureMovieFileOutput::attach(std::weak_ptr<CaptureSession> session, bool hasVideo,
                                    bool hasAudio) {
    std::lock_guard lock(mutex_);
    session_ = std::move(session);
    if (hasVideo && !videoConnection_) {
        videoConnection_ = std::make_shared<CaptureConnection>(CaptureMediaType::Video);
    }
    if (hasAudio && !audioConnection_) {
        audioConnection_ = std::make_shared<CaptureConnection>(CaptureMediaType::Audio);
    }
}

bool CaptureMovieFileOutput::isRecording() const {
    std::lock_guard lock(mutex_);
    return recording_ != nullptr;
}

void CaptureMovieFileOutput::startRecordingToOutputFileURL(
    const URL& fileURL, std::weak_ptr<CaptureFileOutputRecordingDelegate> delegate) {
    std::shared_ptr<CaptureSession> session;
    std::shared_ptr<CaptureConnection> video, audio;
    {
        std::lock_guard lock(mutex_);
        if (recording_) {
            // One movie at a time: the open one goes on.
            RVLog("Rivlo: Capture output is already recording; %s not started",
                  fileURL.absoluteString().c_str());
            return;
        }
        session = session_.lock();
        video = videoConnection_;
        audio = audioConnection_;
    }

    auto recording = std::make_shared<Recording>();
    recording->url = fileURL;
    recording->delegate = delegate;
    recording->startTime = Clock::monotonic();
    recording->hasAudio = audio != nullptr;

    std::string reason;
    struct stat st;
    const std::string path = fileURL.isFileURL() ? fileURL.decodedPath() : std::string();
    if (path.empty()) {
        reason = "not a file URL";
    } else if (::stat(path.c_str(), &st) == 0) {
        reason = "a file exists at the path";
    } else if (!session || !video) {
        reason = "no video connection";
    } else if (auto factory = Platform::current().service<CaptureMovieEncoderFactory>()) {
        const CaptureFormat videoFormat = session->videoFormat();
        const CaptureFormat audioFormat = session->audioFormat();
        CaptureMovieSettings settings;
        settings.width = videoFormat.width;
        settings.height = videoFormat.height;
        settings.frameRate = videoFormat.frameRate;
        settings.averageBitRate =
            CaptureMovieSettings::videoBitRateForSize(videoFormat.width, videoFormat.height);
        settings.hasAudio = recording->hasAudio;
        settings.sampleRate = audioFormat.sampleRate;
        settings.channels = audioFormat.channels;
        settings.videoOrientation = video->videoOrientation();
        recording->encoder = factory->createEncoder(path, settings, &reason);
    } else {
        reason = "no movie encoder installed";
    }

    std::weak_ptr<CaptureMovieFileOutput> weakSelf = weak_from_this();
    if (!recording->encoder) {
        // Reported as a finished recording with an error, as the delegate expects one answer.
        runDetached([weakSelf, recording, reason] {
            auto self = weakSelf.lock();
            auto target = recording->delegate.lock();
            if (!self || !target) return;
            target->captureOutputDidFinishRecording(
                *self, recording->url,
                Error(CaptureErrorDomain, CaptureErrorCode::NoDataCaptured,
                      Value{{ErrorKey::LocalizedDescription,
                             "Cannot record to " + recording->url.decodedPath() + ": " + reason}}));
        });
        return;
    }
    {
        std::lock_guard lock(mutex_);
        recording_ = recording;
    }
    runDetached([weakSelf, recording] {
        auto self = weakSelf.lock();
        auto target = recording->delegate.lock();
        if (self && target) target->captureOutputDidStartRecording(*self, recording->url);
    });
}

void CaptureMovieFileOutput::stopRecording() {
    endRecording(false);
}

void CaptureMovieFileOutput::interruptRecording() {
    endRecording(true);
}

void CaptureMovieFileOutput::endRecording(bool interrupted) {
    std::shared_ptr<Recording> recording;
    {
        std::lock_guard lock(mutex_);
        recording = std::move(recording_);
        recording_.reset();
    }
    if (!recording) return;
    const double endTime = Clock::monotonic();
    std::weak_ptr<CaptureMovieFileOutput> weakSelf = weak_from_this();
    runDetached([weakSelf, recording, endTime, interrupted] {
        finish(weakSelf, recording, endTime, interrupted);
    });
}

void CaptureMovieFileOutput::finish(std::weak_ptr<CaptureMovieFileOutput> output,
                                    std::shared_ptr<Recording> recording, double endTime,
                                    bool interrupted) {
    {
        // Waits for an append in progress; none is made afterwards.
        std::lock_guard lock(recording->appendMutex);
        recording->closed = true;
    }
    std::string reason;
    const bool complete =
        recording->encoder->finish(std::max(0.0, endTime - recording->startTime), &reason);
    std::optional<Error> error;
    if (!complete) {
        error = Error(
            CaptureErrorDomain, CaptureErrorCode::EncoderFailed,
            Value{{ErrorKey::LocalizedDescription, "The movie could not be finished: " + reason}});
    } else if (interrupted) {
        error = Error(CaptureErrorDomain, CaptureErrorCode::SessionWasInterrupted,
                      Value{{ErrorKey::LocalizedDescription, "Recording was interrupted"}});
    }
    recording->encoder.reset();
    auto self = output.lock();
    auto target = recording->delegate.lock();
    if (self && target) target->captureOutputDidFinishRecording(*self, recording->url, error);
}

void CaptureMovieFileOutput::captureVideoFrame(const PixelBuffer& frame, double time) {
    std::shared_ptr<Recording> recording;
    {
        std::lock_guard lock(mutex_);
        recording = recording_;
    }
    if (!recording || time < recording->startTime) return;
    std::lock_guard lock(recording->appendMutex);
    if (recording->closed) return;
    recording->encoder->appendVideo(frame, time - recording->startTime);
}

void CaptureMovieFileOutput::captureAudioSamples(const int16_t* samples, size_t frames,
                                                 const CaptureFormat& format, double time) {
    std::shared_ptr<Recording> recording;
    {
        std::lock_guard lock(mutex_);
        recording = recording_;
    }
    if (!recording || !recording->hasAudio || frames == 0) return;
    // A block that began before the movie: only its part from the movie's zero on.
    if (time < recording->startTime) {
        const double rate = format.sampleRate > 0 ? format.sampleRate : 44100;
        const auto skip = static_cast<size_t>((recording->startTime - time) * rate + 0.5);
        if (skip >= frames) return;
        samples += skip * static_cast<size_t>(format.channels > 0 ? format.channels : 1);
        frames -= skip;
        time = recording->startTime;
    }
    std::lock_guard lock(recording->appendMutex);
    if (recording->closed) return;
    recording->encoder->appendAudio(samples, frames, time - recording->startTime);
}

// ---- Session --------------------------------------------------------------------------------

// Hands the sources' samples to the outputs of the session as it was when it started running.
class CaptureSession::Fanout : public CaptureSampleSink {
  public:
    explicit Fanout(std::vector<std::weak_ptr<CaptureMovieFileOutput>> outputs)
        : outputs_(std::move(outputs)) {}

    void captureVideoFrame(const PixelBuffer& frame, double time) override {
        for (const auto& weak : outputs_) {
            if (auto output = weak.lock()) output->captureVideoFrame(frame, time);
        }
    }
    void captureAudioSamples(const int16_t* samples, size_t frames, const CaptureFormat& format,
                             double time) override {
        for (const auto& weak : outputs_) {
            if (auto output = weak.lock())
                output->captureAudioSamples(samples, frames, format, time);
        }
    }

  private:
    const std::vector<std::weak_ptr<CaptureMovieFileOutput>> outputs_;
};

CaptureSession::~CaptureSession() {
    // Sources must not deliver into a session that is gone.
    stopRunning();
}

bool CaptureSession::dimensionsForPreset(const std::string& preset, int& width, int& height) {
    if (preset == CaptureSessionPreset::Low) {
        width = 192;
        height = 144;
    } else if (preset == CaptureSessionPreset::Medium) {
        width = 480;
        height = 360;
    } else if (preset == CaptureSessionPreset::High) {
        width = 640;
        height = 480;
    } else {
        return false;
    }
    return true;
}

void CaptureSession::beginConfiguration() {
    std::lock_guard lock(mutex_);
    configuring_ = true;
}

void CaptureSession::commitConfiguration() {
    {
        std::lock_guard lock(mutex_);
        configuring_ = false;
    }
    attachOutputs();
}

bool CaptureSession::setSessionPreset(const std::string& preset) {
    int w = 0, h = 0;
    if (!dimensionsForPreset(preset, w, h)) {
        RVLog("Rivlo: Unknown capture session preset \"%s\"", preset.c_str());
        return false;
    }
    std::lock_guard lock(mutex_);
    preset_ = preset;
    return true;
}

std::string CaptureSession::sessionPreset() const {
    std::lock_guard lock(mutex_);
    return preset_;
}

bool CaptureSession::addInput(const std::shared_ptr<CaptureDeviceInput>& input) {
    if (!input || !input->source()) return false;
    {
        std::lock_guard lock(mutex_);
        for (const auto& existing : inputs_) {
            if (existing == input) return false;
        }
        inputs_.push_back(input);
    }
    attachOutputs();
    return true;
}

bool CaptureSession::addOutput(const std::shared_ptr<CaptureMovieFileOutput>& output) {
    if (!output) return false;
    {
        std::lock_guard lock(mutex_);
        for (const auto& existing : outputs_) {
            if (existing == output) return false;
        }
        outputs_.push_back(output);
    }
    attachOutputs();
    return true;
}

void CaptureSession::attachOutputs() {
    std::vector<std::shared_ptr<CaptureMovieFileOutput>> outputs;
    bool hasVideo = false, hasAudio = false;
    {
        std::lock_guard lock(mutex_);
        outputs = outputs_;
        for (const auto& input : inputs_) {
            if (input->source()->mediaType() == CaptureMediaType::Video) hasVideo = true;
            if (input->source()->mediaType() == CaptureMediaType::Audio) hasAudio = true;
        }
    }
    for (const auto& output : outputs)
        output->attach(weak_from_this(), hasVideo, hasAudio);
}

CaptureFormat CaptureSession::videoFormat() const {
    CaptureFormat format;
    std::lock_guard lock(mutex_);
    dimensionsForPreset(preset_, format.width, format.height);
    return format;
}

CaptureFormat CaptureSession::audioFormat() const {
    return CaptureFormat{};
}

void CaptureSession::startRunning() {
    std::lock_guard run(runMutex_);
    std::vector<std::shared_ptr<CaptureDeviceInput>> inputs;
    std::shared_ptr<Fanout> fanout;
    {
        std::lock_guard lock(mutex_);
        if (running_) return;
        running_ = true;
        inputs = inputs_;
        std::vector<std::weak_ptr<CaptureMovieFileOutput>> outputs(outputs_.begin(),
                                                                   outputs_.end());
        fanout_ = std::make_shared<Fanout>(std::move(outputs));
        fanout = fanout_;
    }
    const CaptureFormat video = videoFormat();
    const CaptureFormat audio = audioFormat();
    for (const auto& input : inputs) {
        const bool isVideo = input->source()->mediaType() == CaptureMediaType::Video;
        if (!input->source()->start(isVideo ? video : audio, fanout)) {
            RVLog("Rivlo: Capture device %s could not start",
                  input->device() ? input->device()->localizedName().c_str() : "(none)");
        }
    }
}

void CaptureSession::stopRunning() {
    std::lock_guard run(runMutex_);
    std::vector<std::shared_ptr<CaptureDeviceInput>> inputs;
    {
        std::lock_guard lock(mutex_);
        if (!running_) return;
        running_ = false;
        inputs = inputs_;
        fanout_.reset();
    }
    for (const auto& input : inputs)
        input->source()->stop();
}

void CaptureSession::interrupt() {
    stopRunning();
    std::vector<std::shared_ptr<CaptureMovieFileOutput>> outputs;
    {
        std::lock_guard lock(mutex_);
        outputs = outputs_;
    }
    for (const auto& output : outputs)
        output->interruptRecording();
}

bool CaptureSession::isRunning() const {
    std::lock_guard lock(mutex_);
    return running_;
}

}  // namespace rivlo
