// The session controller and the facade on the headless device, against a loopback service.
//
// The controller is created once per process and never destroyed, so this suite is one story
// told in order, as one test: calls before any start, a refused start on an old system, the
// first start, the verification exchange, stops, restarts, background and foreground moves.
// Each chapter begins where the previous one left off.

#include "core/RVSessionSteps.h"
#include "core/RVFacade.h"
#include "core/RVSetting.h"
#include "core/RVUtil.h"
#include "core/RivloHandler.h"
#include "core/RivloViews.h"
#include "foundation/Log.h"
#include "foundation/RunLoop.h"
#include "foundation/UserDefaults.h"
#include "platform/headless/HeadlessPlatform.h"
#include "store/RVJSONDataHandler.h"
#include "store/RVPlistHandler.h"
#include "support/LogCapture.h"
#include "support/LoopbackHTTPServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

namespace rivlo {
namespace {

using namespace std::chrono_literals;
using test::LogCapture;
using test::LoopbackHTTPServer;
using test::ScriptedResponse;

constexpr const char* kVerifyPath = "/webservices/v2/verifyapp";

// Everything the story shares.
struct World {
    std::shared_ptr<HeadlessPlatform> platform;
    std::unique_ptr<LoopbackHTTPServer> server;
    std::unique_ptr<LogCapture> log;  // for the whole story
    std::mutex mutex;
    std::vector<std::string> steps;  // the controller's calls into the other subsystems

    void step(const std::string& name) {
        std::lock_guard lock(mutex);
        steps.push_back(name);
    }
    std::vector<std::string> takeSteps() {
        std::lock_guard lock(mutex);
        return std::exchange(steps, {});
    }
    std::vector<std::string> takeLog() { return log->take(); }
};

World& world() {
    static World* const w = new World;
    return *w;
}

HeadlessProfile profileWithVersion(const std::string& version, const std::string& sandbox) {
    HeadlessProfile profile;
    profile.systemVersion = version;
    profile.sandboxDirectory = sandbox;
    return profile;
}

std::string verifyAnswer(bool verified, bool videoRecord, int latestRun,
                         const std::string& settings = "{}") {
    std::ostringstream out;
    out << R"({"verify_status":)" << (verified ? "true" : "false") << R"(,"app_device_id":"apd-)"
        << latestRun << R"(","latest_run":)" << latestRun << R"(,"video_record":)"
        << (videoRecord ? "true" : "false") << R"(,"settings":)" << settings << "}";
    return out.str();
}

bool runUntil(const std::function<bool()>& predicate, double seconds = 10) {
    return RunLoop::main().runUntil(predicate, seconds);
}

size_t verifyRequests() {
    size_t n = 0;
    for (const auto& request : world().server->requests())
        n += request.path == kVerifyPath;
    return n;
}

bool contains(const std::vector<std::string>& lines, const std::string& text) {
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
        return line.find(text) != std::string::npos;
    });
}

int64_t storedRunNumber() {
    return UserDefaults::standard().integer(RVUtil::kRunNumberKey);
}

// Registers steps that note each call, so the order of the controller's steps can be read back.
void registerNotingSteps() {
    auto note = [](const char* name) { return [name] { world().step(name); }; };
    RVScreenRecorderSteps screen;
    screen.startScreenRecording = note("startScreenRecording");
    screen.stopScreenRecording = note("stopScreenRecording");
    screen.postScreenVideo = note("postScreenVideo");
    screen.resetSensitiveViews = note("resetSensitiveViews");
    screen.addSensitiveView = [](const std::shared_ptr<View>&) {
        world().step("addSensitiveView");
    };
    RVSessionSteps::registerScreenRecorder(screen);
    RVTimelineSteps timeline;
    timeline.startTimer = note("startTimer");
    timeline.resetTimer = note("resetTimer");
    timeline.reset = note("resetHeatTime");
    timeline.saveHeatMap = note("saveHeatMap");
    timeline.postHeatTimeData = note("postHeatTimeData");
    timeline.tagScreenName = [](const std::string& name) { world().step("tagScreenName:" + name); };
    RVSessionSteps::registerTimeline(timeline);
    RVGestureSteps gestures;
    gestures.unregisterGestures = note("unregisterGestures");
    gestures.deviceOrientationDidChange = [](const Notification&) {
        world().step("deviceOrientationDidChange");
    };
    RVSessionSteps::registerGestures(gestures);
    RVWebViewSteps web;
    web.saveWebViewData = note("saveWebViewData");
    web.postWebViewData = note("postWebViewData");
    RVSessionSteps::registerWebViews(web);
}

std::vector<std::string> without(std::vector<std::string> steps,
                                 const std::vector<std::string>& drop) {
    steps.erase(std::remove_if(steps.begin(), steps.end(),
                               [&](const std::string& s) {
                                   return std::find(drop.begin(), drop.end(), s) != drop.end();
                               }),
                steps.end());
    return steps;
}

void setUpWorld() {
    RunLoop::main().setMainThread();
    auto& w = world();
    if (w.server) return;
    char pattern[] = "/tmp/rivlo-core-session-XXXXXX";
    const std::string sandbox = mkdtemp(pattern);
    w.platform = HeadlessPlatform::install(profileWithVersion("6.1.4", sandbox));
    RVUtil::setApplicationCachesDirectory(w.platform->device().cachesDirectory());
    UserDefaults::setStandardDirectory(w.platform->device().defaultsDirectory());
    UserDefaults::standard().reload();
    w.server = std::make_unique<LoopbackHTTPServer>();
    setenv("RIVLO_SERVICE_URL", w.server->baseURL().c_str(), 1);
    w.log = std::make_unique<LogCapture>();
    registerNotingSteps();
}

// Lets a stop-and-post run on the global queue finish.
void waitForStopped() {
    ASSERT_TRUE(runUntil([] { return !RivloHandler::isSessionStarted(); }));
}

void CallsBeforeAnyStartAreKeptForTheFirstSession() {
    EXPECT_FALSE(RVFacade::isRecording());
    EXPECT_EQ(RivloHandler::rivlo(), nullptr);
    // No session was ever begun: stop-and-post returns at once, stop does nothing.
    RivloHandler::stopAndPostData();
    RivloHandler::stop();
    EXPECT_TRUE(world().takeSteps().empty());

    RVFacade::addTag("before-start");
    RVFacade::markUserAsFavorite();
    RVFacade::setPreciseLocationLatitude(1.5, 2.5);
    RVFacade::setPreciseLocationLatitude(48.8566, 2.3522);  // only the last pair stays
    RVFacade::tagUsersName("", std::string("ignored"));
    RVFacade::tagScreenName("Checkout");
    RivloViews::occludeSensitiveView(nullptr);
    EXPECT_EQ(world().takeSteps(),
              (std::vector<std::string>{"tagScreenName:Checkout", "addSensitiveView"}));
    // An empty alias falls back to the device's name.
    EXPECT_EQ(RVUtil::aliasName(), "Headless iPhone");
    auto location = RVJSONDataHandler::sharedHandler()->locationDic();
    EXPECT_EQ(location, (Value{{"lt", 48.8566}, {"lg", 2.3522}}));
}

void OldSystemOnlyLogs() {
    world().takeLog();
    RVFacade::startApplicationWithKey("key");
    EXPECT_EQ(world().takeLog(),
              (std::vector<std::string>{"Rivlo: startApplicationWithKey: Failed to start as Rivlo "
                                        "requires iOS7.0 or higher"}));
    EXPECT_EQ(RivloHandler::rivlo(), nullptr);
    EXPECT_FALSE(RVFacade::isRecording());
    EXPECT_EQ(world().server->requestCount(), 0u);
}

void FirstStartSendsTheVerificationRequestInFormEncoding() {
    auto& w = world();
    w.server->route("POST", kVerifyPath,
                    ScriptedResponse::json(200, verifyAnswer(true, true, 7, R"({
                        "screen_record": true, "screen_quality": 4, "camera_record": false,
                        "url": "https://www.shop.example/cart", "g_status": true,
                        "g_data_size": 1})")));
    ASSERT_EQ(storedRunNumber(), 0);

    // The theme variant has no version check, so it starts even on this old system. The key
    // loses its spaces and tabs but keeps its line break.
    RVFacade::start(" \tkey-1\n\t", "  dark ");
    ASSERT_NE(RivloHandler::rivlo(), nullptr);
    EXPECT_TRUE(RVFacade::isRecording());
    EXPECT_TRUE(RivloHandler::isSessionStarted());
    EXPECT_EQ(RVUtil::applicationKey(), "key-1\n");
    EXPECT_EQ(RVUtil::theme(), "dark");
    EXPECT_EQ(storedRunNumber(), 1);  // incremented just before sending

    ASSERT_TRUE(w.server->waitForRequests(1, 10s));
    const auto request = w.server->requests().at(0);
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path, kVerifyPath);
    EXPECT_EQ(request.header("Content-Type"), "application/x-www-form-urlencoded; charset=utf-8");
    EXPECT_EQ(request.body,
              "app_key=key-1%0A&appname=Headless%20Demo&device_id=6B29FC40-CA47-1067-B31D-"
              "00DD010662DA&device_os=6.1.4&device_type=iPhone%206&platform=ios");
}

void PositiveAnswerStartsRecordingAndCollectsTheFacts() {
    auto& w = world();
    ASSERT_TRUE(runUntil([] { return RVUtil::isInfoPostSuccess(); }));
    EXPECT_TRUE(contains(w.takeLog(),
                         "Rivlo: Application key is verified, Rivlo has started "
                         "capturing data as per configuration from Rivlo settings "
                         "page."));
    EXPECT_EQ(RVUtil::appDeviceId(), "apd-7");
    EXPECT_EQ(storedRunNumber(), 8);
    EXPECT_EQ(RVUtil::deviceRunNo(), "8");

    auto setting = RVUtil::setting();
    EXPECT_TRUE(setting->isScreenVideoOn());
    EXPECT_FLOAT_EQ(setting->videoFrameRate(), 0.25f);
    EXPECT_EQ(setting->validUrl(), "shop.example/cart");
    EXPECT_EQ(setting->threeGDataSize(), 1048576);
    // The answer's record has seen no network check yet; the uploaders' check records Wi-Fi,
    // and on Wi-Fi any size may go.
    EXPECT_FALSE(RVUtil::canSendData(1));
    EXPECT_TRUE(RVUtil::isNetworkAvailable());
    EXPECT_EQ(setting->remoteHostStatus(), 1);
    EXPECT_TRUE(RVUtil::canSendData(int64_t{1} << 40));

    // The first start kept the sensitive views marked before it; with no camera recorder the
    // timeline clock and the screen recorder start at once on the answer.
    EXPECT_EQ(w.takeSteps(), (std::vector<std::string>{"startTimer", "startScreenRecording"}));
    EXPECT_TRUE(w.platform->device().isGeneratingDeviceOrientationNotifications());
    w.platform->application().rotate(DeviceOrientation::LandscapeLeft);
    ASSERT_TRUE(runUntil([&] { return contains(w.takeSteps(), "deviceOrientationDidChange"); }));

    const Value info = RVJSONDataHandler::sharedHandler()->infoDic();
    EXPECT_EQ(info, (Value{{"dan", "Headless iPhone"},
                           {"apd", "apd-7"},
                           {"did", "6B29FC40-CA47-1067-B31D-00DD010662DA"},
                           {"dr", "8"},
                           {"osn", "6.1.4"},
                           {"dvt", "iPhone"},
                           {"wd", 375.0},
                           {"ht", 667.0},
                           {"rl", "326"},
                           {"dmn", "iPhone 6"},
                           {"eml", ""},
                           {"cv", "1.0.9"},
                           {"cn", "apple"},
                           {"platform", "ios"},
                           {"appname", "Headless Demo"}}));
}

void SecondStartChangesNothing() {
    const size_t before = world().server->requestCount();
    RVFacade::start("other-key", "");
    RVFacade::startApplicationWithKey("third-key");
    EXPECT_EQ(RVUtil::applicationKey(), "key-1\n");
    EXPECT_EQ(world().server->requestCount(), before);
    EXPECT_TRUE(RVUtil::isInfoPostSuccess());
}

void RestartWhileOpenOnlyLogs() {
    world().takeLog();
    RVFacade::restartSession();
    EXPECT_EQ(world().takeLog(), (std::vector<std::string>{
                                     "Rivlo:restartSession: Session is not running. Call "
                                     "[Rivlo startApplicationWithKey:] to start a new session"}));
    EXPECT_TRUE(world().takeSteps().empty());
    EXPECT_TRUE(RVUtil::isInfoPostSuccess());
}

void ResignAndRegainActiveWithoutBackgroundBeginsNothing() {
    auto& w = world();
    const size_t before = verifyRequests();
    w.platform->application().resignActive();
    w.platform->application().becomeActive();
    RunLoop::main().runPending();
    ASSERT_TRUE(runUntil(
        [&] { return w.platform->application().applicationState() == ApplicationState::Active; }));
    EXPECT_TRUE(RVUtil::isAppLoadingFirstTime());
    EXPECT_EQ(verifyRequests(), before);
    EXPECT_TRUE(RivloHandler::isSessionStarted());
    EXPECT_TRUE(RVFacade::isRecording());
}

void StopAndUploadStopsSavesAndPostsInOrder() {
    auto& w = world();
    RVFacade::stopApplicationAndUploadData();
    waitForStopped();
    EXPECT_FALSE(RVFacade::isRecording());
    // The recorders stop on threads of their own; everything else runs in this order.
    std::vector<std::string> steps;
    ASSERT_TRUE(runUntil([&] {
        auto more = w.takeSteps();
        steps.insert(steps.end(), more.begin(), more.end());
        return contains(steps, "stopScreenRecording");
    }));
    EXPECT_EQ(without(steps, {"stopScreenRecording"}),
              (std::vector<std::string>{"unregisterGestures", "saveHeatMap", "saveWebViewData",
                                        "postScreenVideo", "postHeatTimeData", "postWebViewData"}));
    EXPECT_FALSE(w.platform->device().isGeneratingDeviceOrientationNotifications());

    // The session document went into the store with the data given before the start.
    auto files = RVPlistHandler::sharedHandler()->textFileList();
    ASSERT_EQ(files.size(), 1u);
    std::ifstream in(RVPlistHandler::pathInFolder(RVPlistHandler::kDataFolder, files[0]->fileName));
    std::stringstream text;
    text << in.rdbuf();
    const Value document = Value::parse(text.str());
    EXPECT_EQ(document["apd"], "apd-7");
    EXPECT_EQ(document["isF"], 1);
    EXPECT_EQ(document["cr"], false);
    EXPECT_EQ(document["lc"], (Value{{"lt", 48.8566}, {"lg", 2.3522}}));
    ASSERT_EQ(document["tags"].size(), 1u);
    EXPECT_EQ(document["tags"][0]["tag"], "before-start");
    EXPECT_EQ(document["dr"], "8");
}

void SecondStopFindsNothingToPost() {
    RivloHandler::stopAndPostData();
    EXPECT_TRUE(world().takeSteps().empty());
    EXPECT_EQ(RVPlistHandler::sharedHandler()->textFileList().size(), 1u);
}

void RefusedKeyStillAppliesIdentifierAndRunNumber() {
    auto& w = world();
    w.server->route("POST", kVerifyPath,
                    ScriptedResponse::json(200, verifyAnswer(false, true, 20)));
    w.takeLog();
    const size_t before = verifyRequests();
    RVFacade::restartSession();
    EXPECT_TRUE(RVFacade::isRecording());
    EXPECT_EQ(storedRunNumber(), 9);
    ASSERT_TRUE(runUntil([] { return RVUtil::appDeviceId() == "apd-20"; }));
    EXPECT_EQ(verifyRequests(), before + 1);
    EXPECT_EQ(storedRunNumber(), 21);
    EXPECT_FALSE(RVUtil::isInfoPostSuccess());
    RunLoop::main().runPending();
    // No log line, no recorder started; only the restart's own steps ran.
    EXPECT_TRUE(w.takeLog().empty());
    EXPECT_EQ(w.takeSteps(),
              (std::vector<std::string>{"resetTimer", "resetSensitiveViews", "resetHeatTime"}));
    EXPECT_FALSE(RVUtil::setting()->isScreenVideoOn());

    // Stopping a session that was never verified writes no document.
    RVFacade::stopApplicationAndUploadData();
    waitForStopped();
    EXPECT_EQ(RVPlistHandler::sharedHandler()->textFileList().size(), 1u);
    ASSERT_TRUE(runUntil([&] { return contains(w.takeSteps(), "stopScreenRecording"); }));
}

void FailedVerificationLogsErrorAndResponse() {
    auto& w = world();
    w.server->route("POST", kVerifyPath, ScriptedResponse::text(500, "service down", "text/plain"));
    w.takeLog();
    RVFacade::restartSession();
    std::vector<std::string> lines;
    ASSERT_TRUE(runUntil([&] {
        auto more = w.takeLog();
        lines.insert(lines.end(), more.begin(), more.end());
        return contains(lines, "Rivlo: Application Key Verification Failed.");
    }));
    const auto line = *std::find_if(lines.begin(), lines.end(), [](const std::string& l) {
        return l.find("Verification Failed") != std::string::npos;
    });
    EXPECT_NE(line.find("Please check the application key is correct and that you have a "
                        "working internet connection: Error: "),
              std::string::npos);
    EXPECT_NE(line.find("-1011"), std::string::npos) << line;
    EXPECT_NE(line.find(", Response: service down"), std::string::npos) << line;
    EXPECT_FALSE(RVUtil::isInfoPostSuccess());
    RVFacade::stopApplicationAndUploadData();
    waitForStopped();
}

void AnswerOfTheWrongShapeIsTreatedAsEmpty() {
    auto& w = world();
    w.server->route("POST", kVerifyPath, ScriptedResponse::json(200, R"([1, 2, {"a": 3}])"));
    const size_t before = verifyRequests();
    RVFacade::restartSession();
    ASSERT_TRUE(runUntil([&] { return verifyRequests() == before + 1; }));
    ASSERT_TRUE(runUntil([&] { return RVUtil::appDeviceId().empty(); }));
    EXPECT_FALSE(RVUtil::isInfoPostSuccess());
    RVFacade::stopApplicationAndUploadData();
    waitForStopped();

    // Verified, but every value of the wrong type: no settings, recording per the defaults.
    w.server->route("POST", kVerifyPath, ScriptedResponse::json(200, R"({
        "verify_status": "yes", "app_device_id": 4711, "latest_run": "3",
        "video_record": true, "settings": "screen please"})"));
    RVFacade::restartSession();
    ASSERT_TRUE(runUntil([] { return RVUtil::isInfoPostSuccess(); }));
    EXPECT_EQ(RVUtil::appDeviceId(), "4711");
    EXPECT_EQ(storedRunNumber(), 4);
    EXPECT_FALSE(RVUtil::setting()->isScreenVideoOn());
    EXPECT_EQ(RVUtil::setting()->validUrl(), "http://");
    RVFacade::stopApplicationAndUploadData();
    waitForStopped();
    world().takeSteps();
}

void VerifiedWithoutVideoStillCollectsInformation() {
    auto& w = world();
    w.server->route(
        "POST", kVerifyPath,
        ScriptedResponse::json(200, verifyAnswer(true, false, 30, R"({"screen_record": true})")));
    w.takeLog();
    const size_t documents = RVPlistHandler::sharedHandler()->textFileList().size();
    RVFacade::restartSession();
    ASSERT_TRUE(runUntil([] { return RVUtil::isInfoPostSuccess(); }));
    EXPECT_TRUE(contains(w.takeLog(),
                         "Rivlo: Application key verified, but video recording is "
                         "disabled. Just session information will be recorded."));
    EXPECT_FALSE(RVUtil::setting()->isScreenVideoOn());
    EXPECT_EQ(RVJSONDataHandler::sharedHandler()->infoDic()["apd"], "apd-30");
    RVFacade::stopApplicationAndUploadData();
    waitForStopped();
    EXPECT_EQ(RVPlistHandler::sharedHandler()->textFileList().size(), documents + 1);
    world().takeSteps();
}

void NoNetworkSendsNothing() {
    auto& w = world();
    w.platform->reachability().setStatus(NetworkStatus::None);
    const int64_t run = storedRunNumber();
    const size_t before = verifyRequests();
    RVFacade::restartSession();
    EXPECT_TRUE(RivloHandler::isSessionStarted());
    EXPECT_EQ(storedRunNumber(), run);  // no request, no new run number
    RunLoop::main().runUntil([] { return false; }, 0.2);
    EXPECT_EQ(verifyRequests(), before);
    // Without a record everything may go; a record notes the missing network and then
    // nothing may.
    EXPECT_TRUE(RVUtil::canSendData(0));
    RVUtil::setting();
    EXPECT_FALSE(RVUtil::isNetworkAvailable());
    EXPECT_EQ(RVUtil::setting()->remoteHostStatus(), 0);
    EXPECT_FALSE(RVUtil::setting()->isRecentlyNetworkAvailable());
    EXPECT_FALSE(RVUtil::canSendData(0));
    w.platform->reachability().setStatus(NetworkStatus::WiFi);
    RVFacade::stopApplicationAndUploadData();
    waitForStopped();
    world().takeSteps();
}

void AnswerArrivingAfterItsSessionStoppedStartsNothing() {
    auto& w = world();
    auto slow =
        ScriptedResponse::json(200, verifyAnswer(true, true, 40, R"({"screen_record": true})"));
    slow.delay = 300ms;
    w.server->route("POST", kVerifyPath, slow);
    RVFacade::restartSession();
    RVFacade::stopApplicationAndUploadData();
    waitForStopped();
    ASSERT_TRUE(runUntil([] { return RVUtil::appDeviceId() == "apd-40"; }));
    RunLoop::main().runPending();
    EXPECT_FALSE(RVUtil::isInfoPostSuccess());
    EXPECT_FALSE(contains(w.takeSteps(), "startScreenRecording"));
    EXPECT_FALSE(w.platform->device().isGeneratingDeviceOrientationNotifications());
}

// A gate a service route or a step waits at until the story opens it.
struct Gate {
    std::mutex mutex;
    std::condition_variable cv;
    bool reached = false;
    bool open = false;
    void pass() {
        std::unique_lock lock(mutex);
        reached = true;
        cv.notify_all();
        cv.wait(lock, [this] { return open; });
    }
    bool isReached() {
        std::lock_guard lock(mutex);
        return reached;
    }
    void release() {
        std::lock_guard lock(mutex);
        open = true;
        cv.notify_all();
    }
};

void AnswerArrivingWhileTheStopRunsStartsNothing() {
    auto& w = world();
    auto answer = std::make_shared<Gate>();
    auto posting = std::make_shared<Gate>();
    w.server->route("POST", kVerifyPath, [answer](const test::RecordedRequest&) {
        answer->pass();
        return ScriptedResponse::json(200,
                                      verifyAnswer(true, true, 45, R"({"screen_record": true})"));
    });
    RVFacade::restartSession();
    ASSERT_TRUE(runUntil([&] { return answer->isReached(); }));

    // The stop-and-post is held in its screen upload step while the answer arrives.
    RVScreenRecorderSteps screen = RVSessionSteps::screenRecorder();
    RVScreenRecorderSteps held = screen;
    held.postScreenVideo = [posting] {
        world().step("postScreenVideo");
        posting->pass();
    };
    RVSessionSteps::registerScreenRecorder(held);
    RVFacade::stopApplicationAndUploadData();
    ASSERT_TRUE(runUntil([&] { return posting->isReached(); }));
    answer->release();
    ASSERT_TRUE(runUntil([] { return RVUtil::appDeviceId() == "apd-45"; }));
    RunLoop::main().runPending();
    EXPECT_FALSE(RVUtil::isInfoPostSuccess());
    const auto steps = w.takeSteps();
    EXPECT_FALSE(contains(steps, "startScreenRecording"));
    EXPECT_FALSE(contains(steps, "startTimer"));
    EXPECT_FALSE(w.platform->device().isGeneratingDeviceOrientationNotifications());

    posting->release();
    waitForStopped();
    RVSessionSteps::registerScreenRecorder(screen);
    w.takeSteps();
}

void BackgroundStopsInsideABackgroundTaskAndActivationBeginsANewSession() {
    auto& w = world();
    w.server->route(
        "POST", kVerifyPath,
        ScriptedResponse::json(200, verifyAnswer(true, true, 50, R"({"screen_record": true})")));
    RVFacade::restartSession();
    ASSERT_TRUE(runUntil([] { return RVUtil::isInfoPostSuccess(); }));
    EXPECT_TRUE(RVFacade::isRecording());
    w.takeSteps();

    auto& app = w.platform->application();
    app.moveToBackground();
    ASSERT_TRUE(runUntil([] { return !RivloHandler::isSessionStarted(); }));
    EXPECT_FALSE(RVUtil::isAppLoadingFirstTime());
    EXPECT_FALSE(RVFacade::isRecording());
    // The background task was begun, and ended once the uploads had started.
    ASSERT_TRUE(
        runUntil([] { return RivloHandler::rivlo()->backgroundTask() == InvalidBackgroundTask; }));
    EXPECT_TRUE(contains(w.takeSteps(), "postScreenVideo"));

    // The service agrees with the new run number, so the stored one stays as sent.
    const int64_t run = storedRunNumber();
    w.server->route("POST", kVerifyPath,
                    ScriptedResponse::json(200, verifyAnswer(true, true, static_cast<int>(run + 1),
                                                             R"({"screen_record": true})")));
    const size_t before = verifyRequests();
    app.returnToForeground();
    ASSERT_TRUE(runUntil([&] { return verifyRequests() == before + 1; }));
    ASSERT_TRUE(runUntil([] { return RVUtil::isInfoPostSuccess(); }));
    EXPECT_EQ(storedRunNumber(), run + 1);
    EXPECT_EQ(RVUtil::deviceRunNo(), std::to_string(run + 1));
    EXPECT_TRUE(RivloHandler::isSessionStarted());
    // A session begun by activation records, and the host is told so.
    EXPECT_TRUE(RVFacade::isRecording());
    auto steps = w.takeSteps();
    EXPECT_TRUE(contains(steps, "resetTimer"));
    EXPECT_TRUE(contains(steps, "startScreenRecording"));
}

void AfterOneBackgroundPeriodEveryActivationBeginsASession() {
    auto& w = world();
    auto& app = w.platform->application();
    const size_t before = verifyRequests();
    // Still open: the new session first stops and posts the open one on the global queue.
    app.resignActive();
    app.becomeActive();
    ASSERT_TRUE(runUntil([&] { return verifyRequests() == before + 1; }));
    ASSERT_TRUE(runUntil([] { return RVUtil::isInfoPostSuccess(); }));
    EXPECT_TRUE(contains(w.takeSteps(), "postScreenVideo"));
    EXPECT_TRUE(RivloHandler::isSessionStarted());

    // Finally the host stops, and a restart records again.
    RVFacade::stopApplicationAndUploadData();
    waitForStopped();
    RVFacade::restartSession();
    EXPECT_TRUE(RVFacade::isRecording());
    ASSERT_TRUE(runUntil([] { return RVUtil::isInfoPostSuccess(); }));
    RVFacade::stopApplicationAndUploadData();
    waitForStopped();
    EXPECT_FALSE(RVFacade::isRecording());
}

TEST(Session, WholeStoryFromCallsBeforeStartToBackgroundAndRestart) {
    setUpWorld();
    {
        SCOPED_TRACE("CallsBeforeAnyStartAreKeptForTheFirstSession");
        CallsBeforeAnyStartAreKeptForTheFirstSession();
    }
    if (HasFatalFailure()) return;
    {
        SCOPED_TRACE("OldSystemOnlyLogs");
        OldSystemOnlyLogs();
    }
    if (HasFatalFailure()) return;
    {
        SCOPED_TRACE("FirstStartSendsTheVerificationRequestInFormEncoding");
        FirstStartSendsTheVerificationRequestInFormEncoding();
    }
    if (HasFatalFailure()) return;
    {
        SCOPED_TRACE("PositiveAnswerStartsRecordingAndCollectsTheFacts");
        PositiveAnswerStartsRecordingAndCollectsTheFacts();
    }
    if (HasFatalFailure()) return;
    {
        SCOPED_TRACE("SecondStartChangesNothing");
        SecondStartChangesNothing();
    }
    if (HasFatalFailure()) return;
    {
        SCOPED_TRACE("RestartWhileOpenOnlyLogs");
        RestartWhileOpenOnlyLogs();
    }
    if (HasFatalFailure()) return;
    {
        SCOPED_TRACE("ResignAndRegainActiveWithoutBackgroundBeginsNothing");
        ResignAndRegainActiveWithoutBackgroundBeginsNothing();
    }
    if (HasFatalFailure()) return;
    {
        SCOPED_TRACE("StopAndUploadStopsSavesAndPostsInOrder");
        StopAndUploadStopsSavesAndPostsInOrder();
    }
    if (HasFatalFailure()) return;
    {
        SCOPED_TRACE("SecondStopFindsNothingToPost");
        SecondStopFindsNothingToPost();
    }
    if (HasFatalFailure()) return;
    {
        SCOPED_TRACE("RefusedKeyStillAppliesIdentifierAndRunNumber");
        RefusedKeyStillAppliesIdentifierAndRunNumber();
    }
    if (HasFatalFailure()) return;
    {
        SCOPED_TRACE("FailedVerificationLogsErrorAndResponse");
        FailedVerificationLogsErrorAndResponse();
    }
    if (HasFatalFailure()) return;
    {
        SCOPED_TRACE("AnswerOfTheWrongShapeIsTreatedAsEmpty");
        AnswerOfTheWrongShapeIsTreatedAsEmpty();
    }
    if (HasFatalFailure()) return;
    {
        SCOPED_TRACE("VerifiedWithoutVideoStillCollectsInformation");
        VerifiedWithoutVideoStillCollectsInformation();
    }
    if (HasFatalFailure()) return;
    {
        SCOPED_TRACE("NoNetworkSendsNothing");
        NoNetworkSendsNothing();
    }
    if (HasFatalFailure()) return;
    {
        SCOPED_TRACE("AnswerArrivingAfterItsSessionStoppedStartsNothing");
        AnswerArrivingAfterItsSessionStoppedStartsNothing();
    }
    if (HasFatalFailure()) return;
    {
        SCOPED_TRACE("AnswerArrivingWhileTheStopRunsStartsNothing");
        AnswerArrivingWhileTheStopRunsStartsNothing();
    }
    if (HasFatalFailure()) return;
    {
        SCOPED_TRACE("BackgroundStopsInsideABackgroundTaskAndActivationBeginsANewSession");
        BackgroundStopsInsideABackgroundTaskAndActivationBeginsANewSession();
    }
    if (HasFatalFailure()) return;
    {
        SCOPED_TRACE("AfterOneBackgroundPeriodEveryActivationBeginsASession");
        AfterOneBackgroundPeriodEveryActivationBeginsASession();
    }
    if (HasFatalFailure()) return;
}

}  // namespace
}  // namespace rivlo
