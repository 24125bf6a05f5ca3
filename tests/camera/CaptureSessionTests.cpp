// The capture seam on the headless device: its cameras and microphone recorded by a capture
// session into a movie through the FFmpeg encoder, decoded back.

#include "CameraTestSupport.h"

#include "camera/RVCameraVideoHandler.h"
#include "foundation/Clock.h"
#include "movieprobe/MovieProbe.h"
#include "platform/CaptureSession.h"
#include "platform/linux/FfmpegCaptureEncoder.h"
#include "support/Registrations.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <fstream>

using namespace rivlo;
using namespace rivlo::test;
using namespace std::chrono_literals;

namespace {

// The hooks and session steps the library's start registers, for the recorders this suite
// links.
const bool kRegistered = (rivlo::test::registerCameraRecorder(), true);

class RecordingDelegate : public CaptureFileOutputRecordingDelegate {
  public:
    void captureOutputDidStartRecording(CaptureMovieFileOutput&, const URL&) override {
        started = true;
    }
    void captureOutputDidFinishRecording(CaptureMovieFileOutput&, const URL&,
                                         const std::optional<Error>& e) override {
        {
            std::lock_guard lock(mutex);
            error = e;
        }
        finished = true;
    }
    std::optional<Error> finishError() {
        std::lock_guard lock(mutex);
        return error;
    }
    std::atomic<bool> started{false};
    std::atomic<bool> finished{false};

  private:
    std::mutex mutex;
    std::optional<Error> error;
};

struct Recorded {
    AVMovieProbe movie;
    double seconds = 0;
    std::optional<Error> error;
};

// Records about `frames` camera pictures under the preset into path and decodes the result.
Recorded record(CameraWorld& world, const std::string& preset, bool withMicrophone,
                const std::string& path, uint64_t frames = 12) {
    Recorded result;
    auto session = std::make_shared<CaptureSession>();
    auto output = std::make_shared<CaptureMovieFileOutput>();
    session->beginConfiguration();
    EXPECT_TRUE(session->setSessionPreset(preset));
    Error error;
    auto camera = CaptureDeviceInput::deviceInputWithDevice(
        RVCameraVideoHandler::frontFacingCameraIfAvailable(), &error);
    EXPECT_TRUE(camera) << error.description();
    if (!camera) return result;
    session->addInput(camera);
    if (withMicrophone) {
        auto microphone = CaptureDeviceInput::deviceInputWithDevice(
            CaptureDevice::defaultDeviceWithMediaType(CaptureMediaType::Audio), &error);
        EXPECT_TRUE(microphone);
        session->addInput(microphone);
    }
    session->addOutput(output);
    session->commitConfiguration();
    EXPECT_TRUE(output->connectionWithMediaType(CaptureMediaType::Video));
    EXPECT_EQ(output->connectionWithMediaType(CaptureMediaType::Audio) != nullptr, withMicrophone);

    auto delegate = std::make_shared<RecordingDelegate>();
    session->startRunning();
    // The movie's time begins when the recording is asked for (the encoder is opened after).
    const double begin = Clock::monotonic();
    output->startRecordingToOutputFileURL(URL::fileURL(path), delegate);
    const uint64_t first = world.platform().capture().framesDelivered();
    EXPECT_TRUE(RunLoop::main().runUntil(
        [&] { return world.platform().capture().framesDelivered() >= first + frames; }, 20s));
    output->stopRecording();
    result.seconds = Clock::monotonic() - begin;
    EXPECT_TRUE(RunLoop::main().runUntil([&] { return delegate->finished.load(); }, 20s));
    EXPECT_TRUE(delegate->started.load());
    session->stopRunning();
    EXPECT_FALSE(session->isRunning());
    result.error = delegate->finishError();
    result.movie = AVMovieProbe::open(path);
    return result;
}

}  // namespace

TEST(CaptureSession, EachPresetRecordsMovingPicturesAndTheToneAtItsSize) {
    CameraWorld world;
    struct Case {
        const char* preset;
        int width, height;
    };
    for (const Case& c :
         {Case{CaptureSessionPreset::Low, 192, 144}, Case{CaptureSessionPreset::Medium, 480, 360},
          Case{CaptureSessionPreset::High, 640, 480}}) {
        SCOPED_TRACE(c.preset);
        const std::string path = world.directory() + "/" + c.preset + ".mov";
        const Recorded r = record(world, c.preset, true, path);
        EXPECT_FALSE(r.error.has_value()) << (r.error ? r.error->description() : "");
        ASSERT_TRUE(r.movie.opened);
        EXPECT_EQ(r.movie.videoCodec, "h264");
        EXPECT_EQ(r.movie.width, c.width);
        EXPECT_EQ(r.movie.height, c.height);
        EXPECT_GE(r.movie.videoFramesDecoded, 8);
        EXPECT_GT(r.movie.pictureChange, 1.0);  // the pictures move
        ASSERT_TRUE(r.movie.hasAudio);
        EXPECT_EQ(r.movie.audioCodec, "aac");
        EXPECT_EQ(r.movie.sampleRate, 44100);
        EXPECT_GT(r.movie.audioSamplesDecoded, 44100 / 4);
        // The tone (amplitude 0.3: RMS 0.21), not silence.
        EXPECT_NEAR(r.movie.audioRms, 0.3 / std::sqrt(2.0), 0.05);
        EXPECT_NEAR(r.movie.duration, r.seconds, 0.5);
    }
}

// A camera movie keeps the video bit rate its settings give (two bits a pixel a second for the
// session's presets) over the whole movie, short or long, and over every 30 s, even when the
// pictures hold more detail than that rate can carry.
TEST(CaptureSession, TheMovieKeepsItsVideoBitRate) {
    CameraWorld world;
    CaptureMovieSettings settings;
    settings.width = 640;  // the high preset
    settings.height = 480;
    settings.frameRate = 15;
    settings.averageBitRate = CaptureMovieSettings::videoBitRateForSize(640, 480);
    ASSERT_DOUBLE_EQ(settings.averageBitRate, 614400);
    // A fine grain that moves on every picture, over a colour wash.
    PixelBuffer frame(settings.width, settings.height);
    auto paint = [&](int n) {
        frame.lockBaseAddress();
        uint32_t state = 2166136261u ^ static_cast<uint32_t>(n);
        for (int y = 0; y < frame.height(); ++y) {
            uint8_t* row = frame.baseAddress() + y * frame.bytesPerRow();
            for (int x = 0; x < frame.width(); ++x) {
                state = state * 1664525u + 1013904223u;
                const uint8_t grain = static_cast<uint8_t>(state >> 27);
                row[x * 4 + 0] = static_cast<uint8_t>((x + n * 4) / 3 + grain);
                row[x * 4 + 1] = static_cast<uint8_t>((y + n * 2) / 2 + grain);
                row[x * 4 + 2] = static_cast<uint8_t>(200 - grain * 2);
                row[x * 4 + 3] = 255;
            }
        }
        frame.unlockBaseAddress();
    };
    FfmpegCaptureEncoderFactory factory;
    for (double seconds : {1.0, 40.0}) {
        SCOPED_TRACE(std::to_string(seconds) + " s");
        const std::string path = world.directory() + "/rate" + std::to_string(seconds) + ".mov";
        std::string error;
        auto encoder = factory.createEncoder(path, settings, &error);
        ASSERT_TRUE(encoder) << error;
        const int frames = static_cast<int>(seconds * settings.frameRate);
        for (int n = 0; n < frames; ++n) {
            paint(n);
            ASSERT_TRUE(encoder->appendVideo(frame, n / settings.frameRate));
        }
        ASSERT_TRUE(encoder->finish(seconds, &error)) << error;
        const auto movie = media::MovieProbe::open(path, false);
        ASSERT_TRUE(movie.opened);
        EXPECT_NEAR(movie.duration, seconds, 0.1);
        EXPECT_LE(movie.bitsPerSecond(), 1.05 * settings.averageBitRate);
        EXPECT_LE(movie.mostBitsPerSecondOver(30), 1.05 * settings.averageBitRate);
        // The budget is spent, not left over.
        EXPECT_GT(movie.bitsPerSecond(), 0.5 * settings.averageBitRate);
    }

    // An absurd rate: a log line, and the rate for the picture size.
    LogCapture log;
    settings.averageBitRate = -1;
    const std::string path = world.directory() + "/absurd.mov";
    std::string error;
    auto encoder = factory.createEncoder(path, settings, &error);
    ASSERT_TRUE(encoder) << error;
    for (int n = 0; n < 30; ++n) {
        paint(n);
        ASSERT_TRUE(encoder->appendVideo(frame, n / settings.frameRate));
    }
    ASSERT_TRUE(encoder->finish(2.0, &error)) << error;
    EXPECT_TRUE(log.contains("Rivlo: Camera movie bit rate -1 is out of range; using 614400"));
    EXPECT_LE(media::MovieProbe::open(path, false).bitsPerSecond(), 1.05 * 614400);
}

TEST(CaptureSession, DeniedCameraAccessFailsToOpenWithAnErrorWhileTheMicrophoneOpens) {
    HeadlessProfile profile;
    profile.cameraAccessDenied = true;
    CameraWorld world(profile);
    Error error;
    auto camera = CaptureDeviceInput::deviceInputWithDevice(
        RVCameraVideoHandler::frontFacingCameraIfAvailable(), &error);
    EXPECT_FALSE(camera);
    EXPECT_EQ(error.domain, CaptureErrorDomain);
    EXPECT_EQ(error.code, CaptureErrorCode::ApplicationIsNotAuthorizedToUseDevice);
    Error micError;
    EXPECT_TRUE(CaptureDeviceInput::deviceInputWithDevice(
        CaptureDevice::defaultDeviceWithMediaType(CaptureMediaType::Audio), &micError));

    // Granting access again lets the camera open.
    world.platform().capture().setCameraAccessDenied(false);
    EXPECT_TRUE(CaptureDeviceInput::deviceInputWithDevice(
        RVCameraVideoHandler::frontFacingCameraIfAvailable(), &error));
}

TEST(CaptureSession, WithoutAMicrophoneTheMovieHasPicturesOnly) {
    HeadlessProfile profile;
    profile.microphone = false;
    CameraWorld world(profile);
    EXPECT_EQ(CaptureDevice::defaultDeviceWithMediaType(CaptureMediaType::Audio), nullptr);
    Error error;
    EXPECT_FALSE(CaptureDeviceInput::deviceInputWithDevice(nullptr, &error));
    EXPECT_EQ(error.code, CaptureErrorCode::DeviceNotConnected);

    const Recorded r =
        record(world, CaptureSessionPreset::Low, false, world.directory() + "/mute.mov", 6);
    ASSERT_TRUE(r.movie.opened);
    EXPECT_TRUE(r.movie.hasVideo);
    EXPECT_FALSE(r.movie.hasAudio);
}

TEST(CaptureSession, CamerasFollowTheDeviceFacts) {
    {
        HeadlessProfile profile;
        profile.frontCamera = false;
        CameraWorld world(profile);
        // No front camera: the default (back) camera is the one to use.
        auto camera = RVCameraVideoHandler::frontFacingCameraIfAvailable();
        ASSERT_TRUE(camera);
        EXPECT_EQ(camera->position(), CaptureDevicePosition::Back);

        world.platform().device().setFrontCameraAvailable(true);
        camera = RVCameraVideoHandler::frontFacingCameraIfAvailable();
        ASSERT_TRUE(camera);
        EXPECT_EQ(camera->position(), CaptureDevicePosition::Front);
        EXPECT_EQ(CaptureDevice::devicesWithMediaType(CaptureMediaType::Video).size(), 2u);
    }
    HeadlessProfile none;
    none.hasCamera = false;
    CameraWorld bare(none);
    EXPECT_EQ(RVCameraVideoHandler::frontFacingCameraIfAvailable(), nullptr);
}

TEST(CaptureSession, AnOutputNeverOverwritesAFileAndReportsWhyItDidNotRecord) {
    CameraWorld world;
    const std::string path = world.directory() + "/taken.mov";
    { std::ofstream(path) << "not a movie"; }
    auto session = std::make_shared<CaptureSession>();
    auto output = std::make_shared<CaptureMovieFileOutput>();
    Error error;
    session->addInput(CaptureDeviceInput::deviceInputWithDevice(
        RVCameraVideoHandler::frontFacingCameraIfAvailable(), &error));
    session->addOutput(output);
    auto delegate = std::make_shared<RecordingDelegate>();
    output->startRecordingToOutputFileURL(URL::fileURL(path), delegate);
    ASSERT_TRUE(RunLoop::main().runUntil([&] { return delegate->finished.load(); }, 10s));
    EXPECT_FALSE(delegate->started.load());
    ASSERT_TRUE(delegate->finishError().has_value());
    EXPECT_FALSE(output->isRecording());
    std::ifstream in(path);
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(content, "not a movie");
    EXPECT_FALSE(session->setSessionPreset("AVCaptureSessionPresetPhoto"));
    EXPECT_EQ(session->sessionPreset(), CaptureSessionPreset::High);
}

TEST(CaptureSession, ScenarioProfilesSayWhetherCameraAccessIsDeniedAndAMicrophoneExists) {
    HeadlessProfile profile;
    std::string error;
    ASSERT_TRUE(HeadlessProfile::fromValue(
        Value{{"cameraAccessDenied", true}, {"microphone", false}}, profile, error));
    EXPECT_TRUE(profile.cameraAccessDenied);
    EXPECT_FALSE(profile.microphone);
    HeadlessProfile defaults;
    EXPECT_FALSE(defaults.cameraAccessDenied);
    EXPECT_TRUE(defaults.microphone);
    EXPECT_FALSE(HeadlessProfile::fromValue(Value{{"microphone", "yes"}}, profile, error));
    EXPECT_EQ(error, "\"microphone\" must be true or false");
}
