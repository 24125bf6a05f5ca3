// rivlo-demo: starts the reference collector on loopback (data in ./demo-data), plays the shop
// scenario on the headless device while the library records, stops and uploads, waits until
// the collector has everything, and prints the collector's report. Exit status 0 only when a
// screen movie and a session document arrived and nothing is left pending. Main thread only.

#include "CollectorReport.h"
#include "CollectorServer.h"

#include "core/RVUtil.h"
#include "foundation/RunLoop.h"
#include "foundation/UserDefaults.h"
#include "platform/headless/HeadlessPlatform.h"
#include "platform/headless/Scenario.h"
#include "platform/headless/ScenarioPlayer.h"
#include "platform/linux/FfmpegMovieWriter.h"
#include "rivlo/Rivlo.h"
#include "screen/RVViewVideoHandler.h"
#include "store/RVPlistHandler.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;
using namespace rivlo;

namespace {

constexpr const char* kAppKey = "demo-application-key";

size_t filesIn(const fs::path& dir, const std::string& kind) {
    size_t n = 0;
    std::error_code ec;
    if (!fs::exists(dir, ec)) return 0;
    for (auto it = fs::recursive_directory_iterator(dir, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_regular_file() && it->path().parent_path().filename() == kind) ++n;
    }
    return n;
}

bool nothingPending() {
    auto* store = RVPlistHandler::sharedHandler();
    return store->textFileList().empty() && store->screenVideoEntries().empty() &&
           store->cameraVideoEntries().empty() && store->webViewEntries().empty();
}

}  // namespace

int main(int argc, char** argv) {
    const std::string scenarioPath = argc > 1 ? argv[1] : RIVLO_DEMO_SCENARIO;
    const fs::path dataDir = fs::absolute("demo-data");
    RunLoop::main().setMainThread();

    collector::CollectorConfig config;
    config.dataDir = (dataDir / "collector").string();
    collector::CollectorApp app;
    app.key = kAppKey;
    app.name = "Demo Shop";
    config.apps.push_back(app);
    collector::CollectorServer server(config);
    std::string error;
    if (!server.start(error)) {
        std::fprintf(stderr, "rivlo-demo: the collector did not start: %s\n", error.c_str());
        return 1;
    }
    std::printf("rivlo-demo: collector at %s, data in %s\n", server.url().c_str(),
                config.dataDir.c_str());
    ::setenv("RIVLO_SERVICE_URL", server.url().c_str(), 1);

    auto scenario = Scenario::load(scenarioPath, error);
    if (!scenario) {
        std::fprintf(stderr, "rivlo-demo: %s\n", error.c_str());
        return 1;
    }
    HeadlessProfile profile = scenario->profile.value_or(HeadlessProfile{});
    profile.sandboxDirectory = (dataDir / "device").string();
    auto platform = HeadlessPlatform::install(profile);
    RVUtil::setApplicationCachesDirectory(platform->device().cachesDirectory());
    UserDefaults::setStandardDirectory(platform->device().defaultsDirectory());
    FfmpegMovieWriterFactory::installDefaults();
    RVViewVideoHandler::registerSessionSteps();

    ScenarioPlayer player(*platform, *scenario);
    player.buildInterface();
    Rivlo::tagUsersName("Demo User");
    Rivlo::startApplicationWithKey(kAppKey);
    if (!RunLoop::main().runUntil([] { return RVUtil::isInfoPostSuccess(); }, 30)) {
        std::fprintf(stderr, "rivlo-demo: the collector did not verify the application\n");
        return 1;
    }
    if (auto password = player.viewWithIdentifier("password")) {
        Rivlo::occludeSensitiveView(password);
    }
    Rivlo::addTag("demo");
    std::printf("rivlo-demo: playing \"%s\" (%zu actions)\n", scenario->name.c_str(),
                scenario->actions.size());
    player.start();
    if (!RunLoop::main().runUntil([&] { return player.isFinished(); }, 300)) {
        std::fprintf(stderr, "rivlo-demo: the scenario did not finish\n");
        return 1;
    }
    Rivlo::stopApplicationAndUploadData();
    const fs::path apps = dataDir / "collector" / "apps";
    const bool arrived = RunLoop::main().runUntil(
        [&] {
            return !Rivlo::isRecording() && nothingPending() && filesIn(apps, "screen") > 0 &&
                   filesIn(apps, "data") > 0;
        },
        120);

    std::string report;
    if (collector::CollectorReport::build(config.dataDir, report, error)) {
        std::printf("%s\n", report.c_str());
    } else {
        std::fprintf(stderr, "rivlo-demo: no report: %s\n", error.c_str());
    }
    server.stop();
    if (!arrived) {
        std::fprintf(stderr,
                     "rivlo-demo: not everything arrived: %zu movies and %zu documents stored, "
                     "%s pending on the device\n",
                     filesIn(apps, "screen"), filesIn(apps, "data"),
                     nothingPending() ? "nothing" : "something");
        return 1;
    }
    std::printf("rivlo-demo: everything arrived; files under %s\n", config.dataDir.c_str());
    return 0;
}
