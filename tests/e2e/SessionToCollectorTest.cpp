// One recorded session, start to finish: the reference collector runs in this process on
// loopback, the library finds it through RIVLO_SERVICE_URL, a short scenario with a secure
// password field is played on the headless device, the host stops and uploads, and the test
// reads back what the collector kept on disk: the screen movie (decoded, the password area
// red) and the session document (information entries and the scenario's timeline).
//
// Everything runs on the main thread of the test, which turns RunLoop::main() while waiting.

#include "CollectorServer.h"

#include "core/RVFacade.h"
#include "core/RVUtil.h"
#include "core/RivloViews.h"
#include "foundation/Log.h"
#include "foundation/RunLoop.h"
#include "foundation/UserDefaults.h"
#include "foundation/Value.h"
#include "platform/headless/HeadlessPlatform.h"
#include "platform/linux/FfmpegMovieWriter.h"
#include "platform/headless/Scenario.h"
#include "platform/headless/ScenarioPlayer.h"
#include "screen/MovieProbe.h"
#include "screen/RVViewVideoHandler.h"
#include "store/RVPlistHandler.h"
#include "support/Registrations.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace rivlo;
using namespace std::chrono_literals;

namespace {

// The hooks and session steps the library's start registers, for the recorders this suite
// links.
const bool kRegistered = (rivlo::test::registerInteraction(), rivlo::test::registerTimeline(),
                          rivlo::test::registerScreenRecorder(), true);

constexpr const char* kAppKey = "e2e-application-key";

// About five seconds of use: a login screen with a secure password field, a list, back.
constexpr const char* kScenario = R"({
  "name": "end to end",
  "pause": 0.25,
  "screens": {
    "login": {
      "controller": "LoginViewController",
      "title": "Log in",
      "background": "#F4F4F8",
      "views": [
        {"type": "textField", "id": "user", "frame": [20, 120, 280, 44], "placeholder": "Name",
         "background": "#FFFFFF"},
        {"type": "textField", "id": "password", "frame": [20, 200, 280, 44], "secure": true,
         "text": "hunter2", "background": "#FFFFFF"},
        {"type": "view", "id": "loginButton", "frame": [20, 300, 280, 48],
         "background": "#2EAD5B"}
      ]
    },
    "list": {
      "controller": "ProductListViewController",
      "title": "Products",
      "background": "#FFFFFF",
      "views": [
        {"type": "view", "id": "row1", "frame": [0, 80, 320, 60], "background": "#DDDDEE"},
        {"type": "view", "id": "row2", "frame": [0, 150, 320, 60], "background": "#EEDDDD"}
      ]
    }
  },
  "root": {"navigation": "login"},
  "actions": [
    {"action": "wait", "seconds": 0.8},
    {"action": "type", "into": "user", "text": "ada"},
    {"action": "type", "into": "password", "text": "secret"},
    {"action": "tap", "on": "loginButton"},
    {"action": "wait", "seconds": 0.8},
    {"action": "push", "screen": "list"},
    {"action": "swipe", "from": [160, 400], "to": [160, 150], "duration": 0.3},
    {"action": "doubleTap", "on": "row1"},
    {"action": "tap", "on": "row2"},
    {"action": "wait", "seconds": 0.8}
  ]
})";

struct Stored {
    std::vector<fs::path> movies;     // ".../screen/<name>"
    std::vector<fs::path> documents;  // ".../data/<name>"
    std::vector<fs::path> others;
};

// Every file the collector kept under apps/, by kind (the folder holding the file).
Stored storedFiles(const fs::path& dataDir) {
    Stored out;
    std::error_code ec;
    const fs::path apps = dataDir / "apps";
    if (!fs::exists(apps, ec)) return out;
    for (auto it = fs::recursive_directory_iterator(apps, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (!it->is_regular_file()) continue;
        const std::string kind = it->path().parent_path().filename().string();
        if (kind == "screen") {
            out.movies.push_back(it->path());
        } else if (kind == "data") {
            out.documents.push_back(it->path());
        } else {
            out.others.push_back(it->path());
        }
    }
    return out;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool nothingPending() {
    auto* store = RVPlistHandler::sharedHandler();
    return store->textFileList().empty() && store->screenVideoEntries().empty() &&
           store->cameraVideoEntries().empty() && store->webViewEntries().empty();
}

bool isRed(const test::DecodedFrame::RGB& c) {
    return c.r > 200 && c.g < 70 && c.b < 70;
}

}  // namespace

TEST(EndToEnd, AScenarioRecordedOnTheDeviceArrivesWholeAtTheCollector) {
    RunLoop::main().setMainThread();
    char pattern[] = "/tmp/rivlo-e2e-XXXXXX";
    const fs::path root = ::mkdtemp(pattern);

    // The collector, in process, on a port the system chooses.
    collector::CollectorConfig config;
    config.dataDir = (root / "collector").string();
    collector::CollectorApp app;
    app.key = kAppKey;
    app.name = "E2E Shop";
    config.apps.push_back(app);
    std::mutex collectorLogMutex;
    std::vector<std::string> collectorLog;
    config.logSink = [&](const std::string& line) {
        std::lock_guard lock(collectorLogMutex);
        collectorLog.push_back(line);
    };
    collector::CollectorServer server(config);
    std::string error;
    ASSERT_TRUE(server.start(error)) << error;
    ASSERT_GT(server.port(), 0);
    // Read once, by the first start.
    ::setenv("RIVLO_SERVICE_URL", server.url().c_str(), 1);

    // The device and the application's interface.
    HeadlessProfile profile;
    profile.screenBounds = Rect(0, 0, 320, 480);
    profile.screenScale = 1.0;
    profile.sandboxDirectory = (root / "sandbox").string();
    auto platform = HeadlessPlatform::install(profile);
    RVUtil::setApplicationCachesDirectory(platform->device().cachesDirectory());
    UserDefaults::setStandardDirectory(platform->device().defaultsDirectory());
    FfmpegMovieWriterFactory::installDefaults();  // the movie writer of this machine

    auto scenario = Scenario::parse(kScenario, error);
    ASSERT_TRUE(scenario) << error;
    ScenarioPlayer player(*platform, *scenario);
    player.buildInterface();
    auto password = player.viewWithIdentifier("password");
    ASSERT_TRUE(password);

    // The user's name goes into the information entries taken when the service says yes.
    RVFacade::tagUsersName("ada");
    RVFacade::startApplicationWithKey(kAppKey);
    ASSERT_TRUE(RunLoop::main().runUntil([] { return RVUtil::isInfoPostSuccess(); }, 20s))
        << "the collector did not verify the application";
    RivloViews::occludeSensitiveView(password);
    RVFacade::addTag("checkout");

    player.start();
    ASSERT_TRUE(RunLoop::main().runUntil([&] { return player.isFinished(); }, 60s));
    EXPECT_GE(player.played().size(), scenario->actions.size());

    RVFacade::stopApplicationAndUploadData();
    const fs::path dataDir = config.dataDir;
    ASSERT_TRUE(RunLoop::main().runUntil(
        [&] {
            const Stored files = storedFiles(dataDir);
            // The stop runs on a background queue: the session ends a moment later.
            return !RVFacade::isRecording() && nothingPending() && !files.movies.empty() &&
                   !files.documents.empty();
        },
        60s))
        << "pending: " << RVPlistHandler::sharedHandler()->textFileList().size() << " documents, "
        << RVPlistHandler::sharedHandler()->screenVideoEntries().size()
        << " screen movies; collector has " << storedFiles(dataDir).movies.size() << " movies, "
        << storedFiles(dataDir).documents.size() << " documents";

    const Stored files = storedFiles(dataDir);
    ASSERT_EQ(files.movies.size(), 1u);
    ASSERT_EQ(files.documents.size(), 1u);
    // The installation the collector named in its answer is the folder holding both.
    EXPECT_EQ(files.movies[0].parent_path().parent_path(),
              files.documents[0].parent_path().parent_path());

    // The movie decodes, covers the scenario, and the password field is red in it.
    const test::MovieProbe movie = test::MovieProbe::open(files.movies[0].string());
    ASSERT_TRUE(movie.opened);
    EXPECT_EQ(movie.codecName, "h264");
    ASSERT_GT(movie.width, 0);
    ASSERT_FALSE(movie.frames.empty());
    EXPECT_GE(movie.duration, 3.0);
    const double scale = movie.width / 320.0;
    const Rect field = password->convertRectToView(password->bounds(), nullptr);
    const int fx = static_cast<int>((field.origin.x + field.size.width / 2) * scale);
    const int fy = static_cast<int>((field.origin.y + field.size.height / 2) * scale);
    const int ux = static_cast<int>(160 * scale);  // the user field's centre: never masked
    const int uy = static_cast<int>(142 * scale);
    int redFrames = 0;
    for (const auto& frame : movie.frames) {
        if (isRed(frame.at(fx, fy))) {
            ++redFrames;
            EXPECT_FALSE(isRed(frame.at(ux, uy))) << "at " << frame.seconds << " s";
        }
    }
    EXPECT_GE(redFrames, 1) << "the password field never shows red in " << movie.frames.size()
                            << " frames";

    // The session document: the fifteen information entries, the host's tags and the timeline.
    const Value document = Value::parse(readFile(files.documents[0]));
    for (const char* key : {"dan", "apd", "did", "dr", "osn", "dvt", "wd", "ht", "rl", "dmn", "eml",
                            "cv", "cn", "platform", "appname"}) {
        EXPECT_TRUE(document.contains(key)) << key;
    }
    EXPECT_EQ(document.value("dan", ""), "ada");
    EXPECT_EQ(document.value("platform", ""), "ios");
    EXPECT_EQ(document.value("cv", ""), "1.0.9");
    EXPECT_EQ(document.value("apd", ""),
              files.documents[0].parent_path().parent_path().filename().string());
    EXPECT_FALSE(document.value("dr", "").empty());
    EXPECT_EQ(document.value("wd", 0.0), 320.0);
    EXPECT_EQ(document.value("ht", 0.0), 480.0);
    EXPECT_EQ(document.value("cr", true), false);
    ASSERT_TRUE(document.contains("tags") && document["tags"].size() == 1u);
    EXPECT_EQ(document["tags"][0]["tag"], "checkout");

    ASSERT_TRUE(document.contains("ut") && document["ut"].is_array());
    std::vector<std::string> screens;
    size_t touches = 0;
    for (const auto& visit : document["ut"]) {
        screens.push_back(visit.value("an", ""));
        if (visit.contains("cor")) touches += visit["cor"].size();
    }
    ASSERT_GE(screens.size(), 2u);
    EXPECT_EQ(screens.front(), "LoginViewController");
    EXPECT_NE(std::find(screens.begin(), screens.end(), "ProductListViewController"),
              screens.end());
    // Taps on the fields and the button, a swipe, a double tap and a tap: each leaves records.
    EXPECT_GE(touches, 6u);

    // Nothing left behind on the device, nothing the collector could not place.
    EXPECT_TRUE(nothingPending());
    EXPECT_TRUE(files.others.empty());
    for (const auto& movieFile : files.movies) {
        EXPECT_EQ(movieFile.string().find("_unattributed"), std::string::npos);
    }

    player.stop();
    server.stop();
    ::unsetenv("RIVLO_SERVICE_URL");
    std::error_code ec;
    fs::remove_all(root, ec);
}
