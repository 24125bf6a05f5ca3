#pragma once

#include "foundation/Error.h"
#include "foundation/URL.h"
#include "platform/MovieWriter.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace rivlo {

// Camera and microphone capture into a movie file.
//
// A platform offers its devices through a CaptureDeviceDiscovery service and the encoding of
// movies through a CaptureMovieEncoderFactory service (both installed with
// Platform::current().setService<...>()). Above them, the pieces here are the same on every
// platform: a device input opens a device, a session runs its inputs' sources and hands their
// samples to its outputs, and a movie file output encodes what it receives into a file while it
// records.

enum class CaptureMediaType { Video, Audio };

// Where a camera sits: unspecified 0, back 1, front 2.
namespace CaptureDevicePosition {
inline constexpr int Unspecified = 0;
inline constexpr int Back = 1;
inline constexpr int Front = 2;
}  // namespace CaptureDevicePosition

// Session presets: how large the video frames are.
namespace CaptureSessionPreset {
inline constexpr const char* Low = "AVCaptureSessionPresetLow";
inline constexpr const char* Medium = "AVCaptureSessionPresetMedium";
inline constexpr const char* High = "AVCaptureSessionPresetHigh";
}  // namespace CaptureSessionPreset

// Video orientations of a connection: portrait 1, upside down 2, landscape right 3, landscape
// left 4.
namespace CaptureVideoOrientation {
inline constexpr int Portrait = 1;
inline constexpr int PortraitUpsideDown = 2;
inline constexpr int LandscapeRight = 3;
inline constexpr int LandscapeLeft = 4;
}  // namespace CaptureVideoOrientation

// The error domain of capture failures, and the codes used.
inline constexpr const char* CaptureErrorDomain = "AVFoundationErrorDomain";
namespace CaptureErrorCode {
inline constexpr long SessionWasInterrupted = -11818;
inline constexpr long DeviceNotConnected = -11814;
inline constexpr long ApplicationIsNotAuthorizedToUseDevice = -11852;
inline constexpr long NoDataCaptured = -11805;
inline constexpr long EncoderFailed = -11800;
}  // namespace CaptureErrorCode

// What a running source is asked to deliver.
struct CaptureFormat {
    int width = 0;  // video: frame size in pixels
    int height = 0;
    double frameRate = 15;   // video frames per second
    int sampleRate = 44100;  // audio: 16-bit signed samples per second and channel
    int channels = 1;
};

// Receives the samples of running sources. Called on the sources' own threads; times are
// seconds on the monotonic clock (Clock::monotonic()).
class CaptureSampleSink {
  public:
    virtual ~CaptureSampleSink() = default;
    virtual void captureVideoFrame(const PixelBuffer& frame, double time) = 0;
    // Interleaved samples, `frames` per channel.
    virtual void captureAudioSamples(const int16_t* samples, size_t frames,
                                     const CaptureFormat& format, double time) = 0;
};

// An opened device that delivers samples while started. start and stop from one thread at a
// time; stop waits until no more samples are being delivered.
class CaptureSource {
  public:
    virtual ~CaptureSource() = default;
    virtual CaptureMediaType mediaType() const = 0;
    // False when the source cannot deliver in that format.
    virtual bool start(const CaptureFormat& format, std::shared_ptr<CaptureSampleSink> sink) = 0;
    virtual void stop() = 0;
};

// A camera or a microphone. Any thread.
class CaptureDevice {
  public:
    virtual ~CaptureDevice() = default;
    virtual std::string uniqueID() const = 0;
    virtual std::string localizedName() const = 0;
    virtual CaptureMediaType mediaType() const = 0;
    virtual int position() const = 0;
    // Opens the device for a session; nullptr with the reason in error when it cannot be
    // opened (in use, gone, access denied).
    virtual std::shared_ptr<CaptureSource> open(Error* error) = 0;

    // The devices of one media type the installed discovery service offers (none without one).
    static std::vector<std::shared_ptr<CaptureDevice>> devicesWithMediaType(CaptureMediaType type);
    // The first device of the type, nullptr when there is none.
    static std::shared_ptr<CaptureDevice> defaultDeviceWithMediaType(CaptureMediaType type);
};

// The platform's list of capture devices. Any thread.
class CaptureDeviceDiscovery {
  public:
    virtual ~CaptureDeviceDiscovery() = default;
    virtual std::vector<std::shared_ptr<CaptureDevice>> devices() const = 0;
};

// What a movie of a capture holds.
struct CaptureMovieSettings {
    int width = 0;
    int height = 0;
    double frameRate = 15;
    // The video's average bit rate, bits per second: no stretch of the movie holds much more
    // than its length's worth. Sessions set videoBitRateForSize(width, height), which an
    // encoder also takes when this is 0.
    double averageBitRate = 0;
    bool hasAudio = false;
    int sampleRate = 44100;
    int channels = 1;
    int videoOrientation = CaptureVideoOrientation::Portrait;

    // Two bits a pixel a second, 100,000 at least: 100,000 for the low preset's 192 x 144,
    // 345,600 for medium, 614,400 for high.
    static double videoBitRateForSize(int width, int height) {
        return std::max(100000.0, 2.0 * std::max(0, width) * std::max(0, height));
    }
};

// Encodes one capture movie. Appends come from the sources' threads (the encoder serialises
// them); times are seconds from the start of the movie. finish writes what is left and closes
// the file; it blocks and is called once.
class CaptureMovieEncoder {
  public:
    virtual ~CaptureMovieEncoder() = default;
    virtual bool appendVideo(const PixelBuffer& frame, double seconds) = 0;
    virtual bool appendAudio(const int16_t* samples, size_t frames, double seconds) = 0;
    // True when the file is complete; otherwise the reason in error.
    virtual bool finish(double endSeconds, std::string* error) = 0;
};

class CaptureMovieEncoderFactory {
  public:
    virtual ~CaptureMovieEncoderFactory() = default;
    virtual std::shared_ptr<CaptureMovieEncoder> createEncoder(const std::string& path,
                                                               const CaptureMovieSettings& settings,
                                                               std::string* error) = 0;
};

// An opened device, ready to be added to a session. Any thread.
class CaptureDeviceInput {
  public:
    // nullptr with the reason in error (when given) when the device cannot be opened.
    static std::shared_ptr<CaptureDeviceInput> deviceInputWithDevice(
        const std::shared_ptr<CaptureDevice>& device, Error* error);

    const std::shared_ptr<CaptureDevice>& device() const { return device_; }
    const std::shared_ptr<CaptureSource>& source() const { return source_; }

    CaptureDeviceInput(std::shared_ptr<CaptureDevice> device, std::shared_ptr<CaptureSource> src)
        : device_(std::move(device)), source_(std::move(src)) {}

  private:
    std::shared_ptr<CaptureDevice> device_;
    std::shared_ptr<CaptureSource> source_;
};

// The link between an output and the session's inputs of one media type. Any thread.
class CaptureConnection {
  public:
    explicit CaptureConnection(CaptureMediaType type) : mediaType_(type) {}
    CaptureMediaType mediaType() const { return mediaType_; }
    int videoOrientation() const { return videoOrientation_.load(); }
    void setVideoOrientation(int orientation) { videoOrientation_ = orientation; }

  private:
    CaptureMediaType mediaType_;
    std::atomic<int> videoOrientation_{CaptureVideoOrientation::Portrait};
};

class CaptureMovieFileOutput;

// Told when a recording has begun and when its file is complete (or failed). Called on a thread
// of the output's own.
class CaptureFileOutputRecordingDelegate {
  public:
    virtual ~CaptureFileOutputRecordingDelegate() = default;
    virtual void captureOutputDidStartRecording(CaptureMovieFileOutput& output,
                                                const URL& fileURL) = 0;
    virtual void captureOutputDidFinishRecording(CaptureMovieFileOutput& output, const URL& fileURL,
                                                 const std::optional<Error>& error) = 0;
};

class CaptureSession;

// Records the session's samples into a movie file. Any thread.
class CaptureMovieFileOutput : public CaptureSampleSink,
                               public std::enable_shared_from_this<CaptureMovieFileOutput> {
  public:
    CaptureMovieFileOutput() = default;

    // The output's connection of that media type once it has been added to a session with an
    // input of that type; nullptr otherwise.
    std::shared_ptr<CaptureConnection> connectionWithMediaType(CaptureMediaType type) const;

    // Starts a new movie at the file URL (the file must not exist). The delegate hears
    // didStart when the movie has been opened and didFinish when it has been closed, both on a
    // thread of the output's own; a movie that cannot be opened is reported as finished with
    // an error.
    void startRecordingToOutputFileURL(const URL& fileURL,
                                       std::weak_ptr<CaptureFileOutputRecordingDelegate> delegate);
    // Stops taking samples and finishes the file on a thread of the output's own, then tells
    // the delegate. Does nothing when not recording.
    void stopRecording();
    // Session side, when the session is interrupted: as stopRecording, but the delegate hears
    // SessionWasInterrupted (the file is complete up to the interruption) or, when the file
    // could not be finished, EncoderFailed.
    void interruptRecording();
    bool isRecording() const;

    // CaptureSampleSink: the session hands samples here.
    void captureVideoFrame(const PixelBuffer& frame, double time) override;
    void captureAudioSamples(const int16_t* samples, size_t frames, const CaptureFormat& format,
                             double time) override;

    // Session side.
    void attach(std::weak_ptr<CaptureSession> session, bool hasVideo, bool hasAudio);

  private:
    struct Recording;
    // On a thread of its own: waits for appends in progress, closes the file, tells the
    // delegate.
    static void finish(std::weak_ptr<CaptureMovieFileOutput> output,
                       std::shared_ptr<Recording> recording, double endTime, bool interrupted);
    void endRecording(bool interrupted);

    mutable std::mutex mutex_;
    std::weak_ptr<CaptureSession> session_;
    std::shared_ptr<CaptureConnection> videoConnection_;
    std::shared_ptr<CaptureConnection> audioConnection_;
    std::shared_ptr<Recording> recording_;  // the movie being written
};

// Runs inputs into outputs. Configure between beginConfiguration and commitConfiguration,
// then startRunning / stopRunning. Any thread, one caller at a time.
class CaptureSession : public std::enable_shared_from_this<CaptureSession> {
  public:
    CaptureSession() = default;
    ~CaptureSession();

    void beginConfiguration();
    void commitConfiguration();
    // Unknown presets are refused (false) and the preset stays.
    bool setSessionPreset(const std::string& preset);
    std::string sessionPreset() const;
    bool addInput(const std::shared_ptr<CaptureDeviceInput>& input);
    bool addOutput(const std::shared_ptr<CaptureMovieFileOutput>& output);

    // Starts every source; a source that cannot start is logged and left out.
    void startRunning();
    // Stops every source (no sample is delivered after it returns).
    void stopRunning();
    // The system took the devices away (a call, another application): the sources stop and
    // every output's movie in progress ends as if stopped, reported to its delegate with
    // SessionWasInterrupted. startRunning runs the session again.
    void interrupt();
    bool isRunning() const;

    // The format video sources are asked for under the current preset.
    CaptureFormat videoFormat() const;
    CaptureFormat audioFormat() const;
    // The frame size of a preset (Low 192 x 144, Medium 480 x 360, High 640 x 480).
    static bool dimensionsForPreset(const std::string& preset, int& width, int& height);

  private:
    class Fanout;
    void attachOutputs();

    std::mutex runMutex_;  // orders startRunning and stopRunning
    mutable std::mutex mutex_;
    std::string preset_ = CaptureSessionPreset::High;
    std::vector<std::shared_ptr<CaptureDeviceInput>> inputs_;
    std::vector<std::shared_ptr<CaptureMovieFileOutput>> outputs_;
    std::shared_ptr<Fanout> fanout_;
    bool running_ = false;
    bool configuring_ = false;
};

}  // namespace rivlo
