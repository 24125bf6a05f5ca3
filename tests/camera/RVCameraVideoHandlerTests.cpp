// The camera recorder's set-up and stop on the headless device, without a session controller:
// the movie it hands to the store, the preset and orientation it records with, and the order of
// a stop that overtakes a set-up.

#include "CameraTestSupport.h"

#include "camera/RVCameraVideoHandler.h"
#include "overlay/RVStatusBar.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <thread>

using namespace rivlo;
using namespace rivlo::test;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

RVCameraVideoHandler* recorder() {
    return RVCameraVideoHandler::sharedHandler();
}

void cameraSettings(const Value& quality) {
    RVUtil::resetSetting();
    auto setting = RVUtil::setting();
    setting->setIsCameraVideoOn(true);
    setting->setCameraVideoQuality(quality);
}

// Runs work on a thread of its own while the main loop turns; true when it returned in time.
bool runOffMain(const std::function<void()>& work, double timeoutSeconds = 30) {
    std::atomic<bool> done{false};
    std::thread t([&] {
        work();
        done = true;
    });
    const bool ok = RunLoop::main().runUntil([&] { return done.load(); },
                                             std::chrono::duration<double>(timeoutSeconds));
    t.join();
    return ok;
}

void recordFrames(CameraWorld& world, uint64_t frames) {
    const uint64_t first = world.platform().capture().framesDelivered();
    ASSERT_TRUE(RunLoop::main().runUntil(
        [&] { return world.platform().capture().framesDelivered() >= first + frames; }, 20s));
}

bool overlayShown() {
    return RVStatusBar::sharedView()->currentOverlayWindow() != nullptr;
}

}  // namespace

TEST(CameraRecorder, TheStoredMovieIsCompleteAndTheUploadPassSeesIt) {
    CameraWorld world;
    cameraSettings("medium");
    RVUtil::appDeviceId("APD-R");
    ASSERT_TRUE(runOffMain([] { recorder()->startRecordingInBackground(); }));
    ASSERT_TRUE(recorder()->isRecording());
    EXPECT_EQ(recorder()->session()->sessionPreset(), CaptureSessionPreset::Medium);
    const auto url = recorder()->cameraVideoURL();
    ASSERT_TRUE(url.has_value());
    EXPECT_EQ(url->decodedPath(), world.cameraVideoFolder() + "/FrontCamera.mov");
    const std::string name = recorder()->cameraVideoData()->videoName;

    // The red dot shows, in a window of its own that never becomes key.
    ASSERT_TRUE(RunLoop::main().runUntil(overlayShown, 5s));
    auto overlay = RVStatusBar::sharedView()->currentOverlayWindow();
    EXPECT_EQ(overlay->windowLevel(), WindowLevelStatusBar);
    EXPECT_FALSE(overlay->isKeyWindow());
    EXPECT_NE(world.app().keyWindow(), overlay);
    recordFrames(world, 20);

    // The upload pass waits for the movie to reach the store: when its wait ends, the entry and
    // the file are there.
    std::atomic<size_t> entriesWhenWaitEnded{0};
    std::thread waiter([&] {
        recorder()->waitUntilRecordingIsFinished();
        entriesWhenWaitEnded = RVPlistHandler::sharedHandler()->cameraVideoEntries().size();
    });
    ASSERT_TRUE(runOffMain([] { recorder()->stopCameraRecording(); }));
    waiter.join();
    EXPECT_EQ(entriesWhenWaitEnded.load(), 1u);
    EXPECT_FALSE(recorder()->isRecording());
    EXPECT_FALSE(recorder()->session()->isRunning());
    EXPECT_FALSE(recorder()->cameraVideoURL().has_value());
    EXPECT_FALSE(recorder()->cameraVideoData());

    const auto entries = RVPlistHandler::sharedHandler()->cameraVideoEntries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(PropertyList::text(entries[0], "videoName"), name);
    EXPECT_EQ(PropertyList::text(entries[0], "videoType"), "camera");
    EXPECT_EQ(PropertyList::text(entries[0], "appDeviceId"), "APD-R");
    const std::string stored = RVPlistHandler::pathInFolder("/RVCameraVideos", name);
    EXPECT_FALSE(fs::exists(world.cameraVideoFolder() + "/FrontCamera.mov"));

    // The duration was read from the finished file, not from one still being written.
    const AVMovieProbe movie = AVMovieProbe::open(stored);
    ASSERT_TRUE(movie.opened);
    EXPECT_EQ(movie.width, 480);
    EXPECT_EQ(movie.height, 360);
    EXPECT_TRUE(movie.hasAudio);
    EXPECT_GE(movie.videoFramesDecoded, 15);
    EXPECT_GE(movie.duration, 1.0);
    EXPECT_EQ(PropertyList::text(entries[0], "videoDuration"),
              std::to_string(static_cast<int>(movie.duration)));

    EXPECT_TRUE(RunLoop::main().runUntil([] { return !overlayShown(); }, 5s));
}

TEST(CameraRecorder, QualityIsComparedAsExactText) {
    EXPECT_EQ(RVCameraVideoHandler::presetForQuality("low"), CaptureSessionPreset::Low);
    EXPECT_EQ(RVCameraVideoHandler::presetForQuality("medium"), CaptureSessionPreset::Medium);
    EXPECT_EQ(RVCameraVideoHandler::presetForQuality("high"), CaptureSessionPreset::High);
    for (const Value& other : {Value("High"), Value(""), Value(" high"), Value(3), Value()}) {
        EXPECT_EQ(RVCameraVideoHandler::presetForQuality(other), CaptureSessionPreset::Low)
            << other.dump();
    }

    // "High" records a movie of the low preset's size.
    CameraWorld world;
    cameraSettings("High");
    ASSERT_TRUE(runOffMain([] { recorder()->startRecordingInBackground(); }));
    EXPECT_EQ(recorder()->session()->sessionPreset(), CaptureSessionPreset::Low);
    const std::string name = recorder()->cameraVideoData()->videoName;
    recordFrames(world, 8);
    ASSERT_TRUE(runOffMain([] { recorder()->stopCameraRecording(); }));
    const AVMovieProbe movie =
        AVMovieProbe::open(RVPlistHandler::pathInFolder("/RVCameraVideos", name));
    ASSERT_TRUE(movie.opened);
    EXPECT_EQ(movie.width, 192);
    EXPECT_EQ(movie.height, 144);
}

TEST(CameraRecorder, CaptureOrientationAndRecordCodeFollowTheStatusBarAtTheStart) {
    CameraWorld world;
    cameraSettings("low");
    struct Case {
        int statusBar, capture, code;
        double rotation;  // of the stored movie's picture, counter-clockwise
    };
    for (const Case& c :
         {Case{3, 3, 0, 0}, Case{4, 4, 2, 180}, Case{2, 2, 3, 90}, Case{1, 1, 1, -90}}) {
        SCOPED_TRACE(c.statusBar);
        world.app().setStatusBarOrientation(c.statusBar);
        ASSERT_TRUE(runOffMain([] { recorder()->startRecordingInBackground(); }));
        auto connection =
            recorder()->movieFileOutput()->connectionWithMediaType(CaptureMediaType::Video);
        ASSERT_TRUE(connection);
        EXPECT_EQ(connection->videoOrientation(), c.capture);
        EXPECT_EQ(recorder()->cameraVideoData()->orientation, c.code);
        const std::string name = recorder()->cameraVideoData()->videoName;
        recordFrames(world, 2);
        ASSERT_TRUE(runOffMain([] { recorder()->stopCameraRecording(); }));
        const AVMovieProbe movie =
            AVMovieProbe::open(RVPlistHandler::pathInFolder("/RVCameraVideos", name));
        ASSERT_TRUE(movie.opened);
        if (std::fabs(c.rotation) == 180) {
            EXPECT_NEAR(std::fabs(movie.rotation), 180, 0.01);
        } else {
            EXPECT_NEAR(movie.rotation, c.rotation, 0.01);
        }
    }
    EXPECT_EQ(RVCameraVideoHandler::captureOrientationForStatusBar(0), 1);
    EXPECT_EQ(RVCameraVideoHandler::captureOrientationForStatusBar(7), 1);
}

TEST(CameraRecorder, AStopThatOvertakesTheSetUpStopsWhatTheSetUpStarted) {
    CameraWorld world;
    cameraSettings("low");
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        auto alert = std::make_shared<AlertView>("t", "m", std::weak_ptr<AlertViewDelegate>(), "NO",
                                                 std::vector<std::string>{"YES"});
        alert->setTag(1);
        // "YES" starts the set-up thread; the stop comes right behind it.
        recorder()->alertViewClickedButtonAtIndex(*alert, 1);
        ASSERT_TRUE(runOffMain([] { recorder()->stopCameraRecording(); }));
        EXPECT_FALSE(recorder()->isRecording());
        // A stop that comes while the camera is still opening cancels the set-up, which then
        // creates nothing; one that comes later stops the session the set-up started.
        if (auto session = recorder()->session()) {
            EXPECT_FALSE(session->isRunning());
        }
        if (auto output = recorder()->movieFileOutput()) {
            EXPECT_FALSE(output->isRecording());
        }
        ASSERT_TRUE(runOffMain([] { recorder()->waitUntilRecordingIsFinished(); }, 10));
    }
    EXPECT_TRUE(RunLoop::main().runUntil([] { return !overlayShown(); }, 5s));
}

TEST(CameraRecorder, ACancelledSetUpStillOpeningTheCameraStartsNothingWhenAskedAgain) {
    // A consent answer, a stop while the camera is still opening, and a second answer before the
    // first set-up got the camera: the first set-up must stay cancelled, start nothing and leave
    // the second one's state alone, so the next stop ends the only recording there is.
    CameraWorld world;
    cameraSettings("low");
    auto& capture = world.platform().capture();
    auto alert = std::make_shared<AlertView>("t", "m", std::weak_ptr<AlertViewDelegate>(), "NO",
                                             std::vector<std::string>{"YES"});
    alert->setTag(1);
    LogLines log;
    capture.holdCameraOpening(true);
    recorder()->alertViewClickedButtonAtIndex(*alert, 1);
    ASSERT_TRUE(RunLoop::main().runUntil([&] { return capture.camerasOpening() == 1; }, 10s));
    ASSERT_TRUE(runOffMain([] { recorder()->stopCameraRecording(); }));
    recorder()->alertViewClickedButtonAtIndex(*alert, 1);
    ASSERT_TRUE(RunLoop::main().runUntil([&] { return capture.camerasOpening() == 2; }, 10s));
    capture.holdCameraOpening(false);
    const char* const cancelled = "Camera set-up ended after the recording was stopped";
    ASSERT_TRUE(RunLoop::main().runUntil(
        [&] {
            return log.contains(cancelled) && recorder()->isRecording() &&
                   !recorder()->isSettingUp();
        },
        10s))
        << log.all();
    EXPECT_EQ(log.count(cancelled), 1u);
    recordFrames(world, 4);

    ASSERT_TRUE(runOffMain([] { recorder()->stopCameraRecording(); }));
    ASSERT_TRUE(runOffMain([] { recorder()->waitUntilRecordingIsFinished(); }, 10));
    EXPECT_FALSE(recorder()->isRecording());
    EXPECT_EQ(RVPlistHandler::sharedHandler()->cameraVideoEntries().size(), 1u);
    // No camera is left delivering pictures after the stop.
    const uint64_t afterStop = capture.framesDelivered();
    RunLoop::main().runUntil([] { return false; }, 300ms);
    EXPECT_EQ(capture.framesDelivered(), afterStop);
    EXPECT_TRUE(RunLoop::main().runUntil([] { return !overlayShown(); }, 5s));
}

TEST(CameraRecorder, DeniedCameraLogsAndRecordsNothingAMissingMicrophoneRecordsPicturesOnly) {
    {
        HeadlessProfile profile;
        profile.cameraAccessDenied = true;
        CameraWorld world(profile);
        cameraSettings("low");
        LogLines log;
        ASSERT_TRUE(runOffMain([] { recorder()->startRecordingInBackground(); }));
        EXPECT_TRUE(log.contains("Rivlo: ERROR: trying to open camera: "));
        EXPECT_FALSE(recorder()->isRecording());
        EXPECT_FALSE(recorder()->cameraVideoURL().has_value());
        ASSERT_TRUE(runOffMain([] { recorder()->stopCameraRecording(); }));
        EXPECT_TRUE(RVPlistHandler::sharedHandler()->cameraVideoEntries().empty());
        EXPECT_FALSE(fs::exists(world.cameraVideoFolder() + "/FrontCamera.mov"));
    }
    {
        HeadlessProfile profile;
        profile.microphone = false;
        CameraWorld world(profile);
        cameraSettings("low");
        LogLines log;
        ASSERT_TRUE(runOffMain([] { recorder()->startRecordingInBackground(); }));
        EXPECT_TRUE(log.contains("Rivlo: ERROR trying to open the microphone: "));
        ASSERT_TRUE(recorder()->isRecording());
        const std::string name = recorder()->cameraVideoData()->videoName;
        recordFrames(world, 6);
        ASSERT_TRUE(runOffMain([] { recorder()->stopCameraRecording(); }));
        const AVMovieProbe movie =
            AVMovieProbe::open(RVPlistHandler::pathInFolder("/RVCameraVideos", name));
        ASSERT_TRUE(movie.opened);
        EXPECT_TRUE(movie.hasVideo);
        EXPECT_FALSE(movie.hasAudio);
    }
}

TEST(CameraRecorder, AStopWithTheCameraOffAndNothingRecordingDoesNothing) {
    CameraWorld world;
    RVUtil::resetSetting();  // camera off
    ASSERT_TRUE(runOffMain([] { recorder()->stopCameraRecording(); }));
    ASSERT_TRUE(runOffMain([] { recorder()->waitUntilRecordingIsFinished(); }, 5));
    EXPECT_TRUE(RVPlistHandler::sharedHandler()->cameraVideoEntries().empty());
}

TEST(CameraRecorder, AnInterruptedSessionIsNotReportedOtherFinishingErrorsAre) {
    CameraWorld world;
    auto output = std::make_shared<CaptureMovieFileOutput>();
    const URL url = URL::fileURL(world.directory() + "/x.mov");
    LogLines log;
    recorder()->captureOutputDidFinishRecording(
        *output, url, Error(CaptureErrorDomain, CaptureErrorCode::SessionWasInterrupted));
    EXPECT_FALSE(log.contains("Rivlo: Error finishing camera video: Error: "));
    recorder()->captureOutputDidFinishRecording(
        *output, url, Error(CaptureErrorDomain, CaptureErrorCode::EncoderFailed));
    EXPECT_TRUE(
        log.contains("Rivlo: Error finishing camera video: Error: Error Domain="
                     "AVFoundationErrorDomain Code=-11800"));
}
