// Whole sessions on the headless device against a loopback service, with the camera switched on
// by the verification answer: the consent question, what starts after each answer, and what
// reaches the service. The session controller lives for the process: each test begins a new
// session after the previous one was stopped and posted.

#include "CameraTestSupport.h"

#include "camera/RVCameraVideoHandler.h"
#include "core/RivloHandler.h"
#include "foundation/Clock.h"
#include "overlay/RVStatusBar.h"
#include "platform/AlertView.h"
#include "screen/RVViewVideoHandler.h"
#include "support/LoopbackHTTPServer.h"
#include "support/Registrations.h"
#include "timeline/RVHeatTimeHandler.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

using namespace rivlo;
using namespace rivlo::test;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

// The hooks and session steps the library's start registers, for the recorders this suite
// links.
const bool kRegistered =
    (rivlo::test::registerCameraRecorder(), rivlo::test::registerScreenRecorder(),
     rivlo::test::registerTimeline(), true);

constexpr const char* kVideoPath = "/webservices/v2/uploadvideo";

LoopbackHTTPServer& service() {
    static LoopbackHTTPServer* const server = [] {
        auto* s = new LoopbackHTTPServer;
        s->route("POST", kVideoPath, ScriptedResponse::json(200, R"({"status":"true"})"));
        s->route("POST", "/webservices/v2/uploaddata",
                 ScriptedResponse::json(200, R"({"status":"true"})"));
        ::setenv("RIVLO_SERVICE_URL", s->baseURL().c_str(), 1);
        return s;
    }();
    return *server;
}

void answerVerification(bool cameraOn, const std::string& quality) {
    Value answer{{"verify_status", true},
                 {"app_device_id", "APD-CAM"},
                 {"latest_run", 1},
                 {"video_record", true},
                 {"settings",
                  {{"camera_record", cameraOn},
                   {"camera_quality", quality},
                   {"screen_record", true},
                   {"screen_quality", 2},
                   {"wifi_status", true}}}};
    service().route("POST", "/webservices/v2/verifyapp",
                    ScriptedResponse::json(200, answer.dump()));
}

struct Upload {
    std::map<std::string, std::string> fields;
    std::string fileField;
    std::string fileBody;
};

std::vector<Upload> videoUploads() {
    std::vector<Upload> out;
    for (const auto& request : service().requests()) {
        if (request.path != kVideoPath) continue;
        auto parts = parseMultipartBody(request);
        if (!parts) continue;
        Upload upload;
        for (const auto& part : *parts) {
            if (part.fileName) {
                upload.fileField = part.name;
                upload.fileBody = part.body;
            } else {
                upload.fields[part.name] = part.body;
            }
        }
        out.push_back(std::move(upload));
    }
    return out;
}

std::shared_ptr<AlertView> openAlert(CameraWorld& world) {
    auto alerts = world.app().visibleAlerts();
    return alerts.empty() ? nullptr : alerts.front();
}

class CameraSessionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        service();
        service().clearRequests();
        RVHeatTimeHandler::resetTimer();
    }

    // Begins a session whose verification answer switches the camera on or off.
    void beginSession(CameraWorld& world, bool cameraOn, const std::string& quality = "medium") {
        answerVerification(cameraOn, quality);
        if (!RivloHandler::rivlo()) {
            RivloHandler::start("camera-key");
        } else {
            ASSERT_FALSE(RivloHandler::isSessionStarted());
            RivloHandler::restartSession();
        }
        ASSERT_TRUE(RunLoop::main().runUntil(
            [&] {
                return openAlert(world) != nullptr ||
                       RVViewVideoHandler::sharedHandler()->isRecording();
            },
            20s));
    }

    // Stops and posts the session as the host's stop call does, and waits for the uploads.
    void stopAndPost(size_t videoUploadsExpected) {
        std::atomic<bool> done{false};
        std::thread run([&] {
            RivloHandler::stopAndPostData();
            done = true;
        });
        EXPECT_TRUE(RunLoop::main().runUntil(
            [&] { return done.load() && videoUploads().size() >= videoUploadsExpected; }, 60s));
        run.join();
        // Let accepted uploads leave the store before the device goes.
        RunLoop::main().runUntil(
            [] {
                return RVPlistHandler::sharedHandler()->cameraVideoEntries().empty() &&
                       RVPlistHandler::sharedHandler()->screenVideoEntries().empty();
            },
            10s);
    }
};

}  // namespace

TEST_F(CameraSessionTest, AnsweringNoStartsTheScreenAndTimelineAndRecordsNoCamera) {
    CameraWorld world;
    beginSession(world, true);
    auto alert = openAlert(world);
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->title(), "Headless Demo would like to record your Camera Video.");
    EXPECT_EQ(alert->message(), "Would you like to give access?");
    EXPECT_EQ(alert->buttonTitleAtIndex(0), "NO");
    EXPECT_EQ(alert->buttonTitleAtIndex(1), "YES");
    EXPECT_EQ(alert->tag(), 1);
    // Nothing starts before the answer.
    EXPECT_FALSE(RVViewVideoHandler::sharedHandler()->isRecording());

    ASSERT_TRUE(alert->clickButton(0));
    EXPECT_TRUE(world.app().visibleAlerts().empty());
    EXPECT_TRUE(RVViewVideoHandler::sharedHandler()->isRecording());
    EXPECT_TRUE(
        RunLoop::main().runUntil([] { return RVHeatTimeHandler::timeLineTimer() != "0"; }, 10s));
    EXPECT_FALSE(RVCameraVideoHandler::sharedHandler()->isRecording());

    stopAndPost(1);
    const auto uploads = videoUploads();
    ASSERT_EQ(uploads.size(), 1u);
    EXPECT_EQ(uploads[0].fields.at("video_type"), "screen");
    EXPECT_FALSE(fs::exists(world.cameraVideoFolder() + "/FrontCamera.mov"));
    EXPECT_TRUE(RVPlistHandler::sharedHandler()->cameraVideoEntries().empty());
}

TEST_F(CameraSessionTest, AnsweringYesUploadsADecodableCameraMovieBesideTheScreenMovie) {
    CameraWorld world;
    beginSession(world, true, "medium");
    auto alert = openAlert(world);
    ASSERT_TRUE(alert);
    ASSERT_TRUE(alert->clickButton(1));
    const double began = Clock::monotonic();
    EXPECT_TRUE(RVViewVideoHandler::sharedHandler()->isRecording());
    ASSERT_TRUE(RunLoop::main().runUntil(
        [] { return RVCameraVideoHandler::sharedHandler()->isRecording(); }, 10s));
    EXPECT_TRUE(RunLoop::main().runUntil(
        [] { return RVStatusBar::sharedView()->currentOverlayWindow() != nullptr; }, 5s));
    const uint64_t first = world.platform().capture().framesDelivered();
    ASSERT_TRUE(RunLoop::main().runUntil(
        [&] { return world.platform().capture().framesDelivered() >= first + 30; }, 30s));
    const double recorded = Clock::monotonic() - began;

    stopAndPost(2);
    const auto uploads = videoUploads();
    ASSERT_EQ(uploads.size(), 2u);
    const Upload* camera = nullptr;
    const Upload* screen = nullptr;
    for (const auto& upload : uploads) {
        (upload.fields.at("video_type") == "camera" ? camera : screen) = &upload;
    }
    ASSERT_TRUE(camera && screen);
    // Same path, told apart by the type and the duration field's name.
    EXPECT_TRUE(screen->fields.count("sv_duration"));
    EXPECT_FALSE(screen->fields.count("cv_duration"));
    ASSERT_EQ(camera->fields.size(), 4u);
    EXPECT_EQ(camera->fields.at("app_device_id"), "APD-CAM");
    EXPECT_EQ(camera->fields.at("orientation"), "1");
    EXPECT_EQ(camera->fileField, "file");

    const std::string received = world.directory() + "/camera-received.mov";
    std::ofstream(received, std::ios::binary) << camera->fileBody;
    const AVMovieProbe movie = AVMovieProbe::open(received);
    ASSERT_TRUE(movie.opened);
    EXPECT_EQ(movie.videoCodec, "h264");
    EXPECT_EQ(movie.width, 480);
    EXPECT_EQ(movie.height, 360);
    EXPECT_EQ(movie.audioCodec, "aac");
    EXPECT_GT(movie.audioRms, 0.1);
    EXPECT_GT(movie.pictureChange, 1.0);
    // As long as the session recorded (the stop comes a little after the last frame counted).
    EXPECT_GE(movie.duration, recorded - 0.5);
    EXPECT_LE(movie.duration, recorded + 3.0);
    EXPECT_EQ(camera->fields.at("cv_duration"), std::to_string(static_cast<int>(movie.duration)));
    EXPECT_TRUE(RunLoop::main().runUntil(
        [] { return RVStatusBar::sharedView()->currentOverlayWindow() == nullptr; }, 5s));
}

TEST_F(CameraSessionTest, YesWithCameraAccessDeniedLogsAndRecordsTheScreenOnly) {
    HeadlessProfile profile;
    profile.cameraAccessDenied = true;
    CameraWorld world(profile);
    LogLines log;
    beginSession(world, true);
    auto alert = openAlert(world);
    ASSERT_TRUE(alert);
    ASSERT_TRUE(alert->clickButton(1));
    ASSERT_TRUE(RunLoop::main().runUntil(
        [&] { return log.contains("Rivlo: ERROR: trying to open camera: "); }, 10s));
    EXPECT_TRUE(RVViewVideoHandler::sharedHandler()->isRecording());
    EXPECT_FALSE(RVCameraVideoHandler::sharedHandler()->isRecording());
    // Long enough for the screen movie to have frames.
    EXPECT_TRUE(
        RunLoop::main().runUntil([] { return RVHeatTimeHandler::timeLineTimer() != "0"; }, 10s));

    stopAndPost(1);
    const auto uploads = videoUploads();
    ASSERT_EQ(uploads.size(), 1u);
    EXPECT_EQ(uploads[0].fields.at("video_type"), "screen");
}

TEST_F(CameraSessionTest, GoingToTheBackgroundWhileAskingClosesTheAlertAndRecordsNothing) {
    CameraWorld world;
    beginSession(world, true);
    ASSERT_TRUE(openAlert(world));
    world.app().moveToBackground();
    EXPECT_TRUE(world.app().visibleAlerts().empty());
    // The controller stops and posts the session at the same moment.
    ASSERT_TRUE(RunLoop::main().runUntil([] { return !RivloHandler::isSessionStarted(); }, 30s));
    RunLoop::main().runUntil([] { return false; }, 500ms);
    EXPECT_FALSE(RVViewVideoHandler::sharedHandler()->isRecording());
    EXPECT_FALSE(RVCameraVideoHandler::sharedHandler()->isRecording());
    EXPECT_EQ(RVHeatTimeHandler::timeLineTimer(), "0");
    EXPECT_TRUE(videoUploads().empty());
}

TEST_F(CameraSessionTest, ADeviceWithoutAFrontCameraIsNotAskedAndRecordsTheScreen) {
    HeadlessProfile profile;
    profile.frontCamera = false;
    CameraWorld world(profile);
    beginSession(world, true);
    EXPECT_FALSE(openAlert(world));
    EXPECT_TRUE(RVViewVideoHandler::sharedHandler()->isRecording());
    EXPECT_TRUE(
        RunLoop::main().runUntil([] { return RVHeatTimeHandler::timeLineTimer() != "0"; }, 10s));
    stopAndPost(1);
    ASSERT_EQ(videoUploads().size(), 1u);
    EXPECT_EQ(videoUploads()[0].fields.at("video_type"), "screen");
}

TEST_F(CameraSessionTest, AnInterruptedCaptureKeepsItsCompleteMovie) {
    CameraWorld world;
    beginSession(world, true, "low");
    auto alert = openAlert(world);
    ASSERT_TRUE(alert);
    ASSERT_TRUE(alert->clickButton(1));
    ASSERT_TRUE(RunLoop::main().runUntil(
        [] { return RVCameraVideoHandler::sharedHandler()->isRecording(); }, 10s));
    const uint64_t first = world.platform().capture().framesDelivered();
    ASSERT_TRUE(RunLoop::main().runUntil(
        [&] { return world.platform().capture().framesDelivered() >= first + 20; }, 30s));

    // A call takes the camera: the movie ends there, and the stop that follows keeps it.
    auto session = RVCameraVideoHandler::sharedHandler()->session();
    ASSERT_TRUE(session);
    session->interrupt();
    stopAndPost(2);
    const Upload* camera = nullptr;
    const auto uploads = videoUploads();
    for (const auto& upload : uploads)
        if (upload.fields.at("video_type") == "camera") camera = &upload;
    ASSERT_NE(camera, nullptr);
    const std::string received = world.directory() + "/interrupted.mov";
    std::ofstream(received, std::ios::binary) << camera->fileBody;
    const AVMovieProbe movie = AVMovieProbe::open(received);
    ASSERT_TRUE(movie.opened);
    EXPECT_GE(movie.videoFramesDecoded, 15);
    EXPECT_GT(movie.duration, 0.5);
}

TEST_F(CameraSessionTest, ASlowCameraSetUpStartsNothingAfterTheStop) {
    CameraWorld world;
    beginSession(world, true);
    auto alert = openAlert(world);
    ASSERT_TRUE(alert);
    // The camera takes longer to open than the session lasts.
    world.platform().capture().holdCameraOpening(true);
    ASSERT_TRUE(alert->clickButton(1));
    ASSERT_TRUE(RunLoop::main().runUntil(
        [&] { return world.platform().capture().camerasOpening() == 1; }, 10s));
    EXPECT_TRUE(
        RunLoop::main().runUntil([] { return RVHeatTimeHandler::timeLineTimer() != "0"; }, 10s));

    // The stop and the upload pass (under the post semaphore) do not wait for the stuck camera.
    stopAndPost(1);
    EXPECT_FALSE(RivloHandler::isSessionStarted());
    EXPECT_EQ(world.platform().capture().camerasOpening(), 1);

    // When the camera finally opens, the set-up starts nothing.
    world.platform().capture().holdCameraOpening(false);
    ASSERT_TRUE(RunLoop::main().runUntil(
        [] { return !RVCameraVideoHandler::sharedHandler()->isSettingUp(); }, 10s));
    EXPECT_FALSE(RVCameraVideoHandler::sharedHandler()->isRecording());
    const auto session = RVCameraVideoHandler::sharedHandler()->session();
    EXPECT_TRUE(!session || !session->isRunning());
    EXPECT_EQ(world.platform().capture().framesDelivered(), 0u);
    EXPECT_FALSE(fs::exists(world.cameraVideoFolder() + "/FrontCamera.mov"));
    EXPECT_EQ(RVStatusBar::sharedView()->currentOverlayWindow(), nullptr);
}
