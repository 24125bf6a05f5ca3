#include "DemoRun.h"

#include "CollectorServer.h"

#include "all/RivloRecorders.h"
#include "core/RVFacade.h"
#include "core/RVUtil.h"
#include "core/RivloViews.h"
#include "foundation/RunLoop.h"
#include "foundation/UserDefaults.h"
#include "platform/headless/HeadlessPlatform.h"
#include "platform/headless/ScenarioPlayer.h"
#include "platform/linux/FfmpegMovieWriter.h"
#include "store/RVPlistHandler.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>

namespace rivlo::demo {

namespace fs = std::filesystem;

namespace {

void say(const DemoOptions& o, const std::string& line) {
    if (o.progress && !line.empty()) o.progress(line);
}

void collectViews(ScenarioPlayer& player, const std::vector<ViewSpec>& described,
                  std::map<std::string, Rect>& out) {
    for (const ViewSpec& desc : described) {
        if (!desc.id.empty()) {
            if (auto view = player.viewWithIdentifier(desc.id))
                out[desc.id] = view->convertRectToView(view->bounds(), nullptr);
        }
        collectViews(player, desc.subviews, out);
    }
}

// The host's calls into the library, by the names a scenario uses.
bool hostCall(ScenarioPlayer& player, const DemoOptions& options, const std::string& name,
              const std::vector<std::string>& args) {
    const auto arg = [&](size_t i) { return i < args.size() ? args[i] : std::string(); };
    if (name == "startApplicationWithKey") {
        RVFacade::startApplicationWithKey(args.empty() ? options.appKey : arg(0));
    } else if (name == "stopApplicationAndUploadData") {
        RVFacade::stopApplicationAndUploadData();
    } else if (name == "tagUsersName") {
        RVFacade::tagUsersName(arg(0));
    } else if (name == "addTag") {
        RVFacade::addTag(arg(0));
    } else if (name == "setPreciseLocation") {
        RVFacade::setPreciseLocationLatitude(std::atof(arg(0).c_str()), std::atof(arg(1).c_str()));
    } else if (name == "markUserAsFavorite") {
        RVFacade::markUserAsFavorite();
    } else if (name == "tagScreenName") {
        RVFacade::tagScreenName(arg(0));
    } else if (name == "occludeSensitiveView") {
        auto view = player.viewWithIdentifier(arg(0));
        if (!view) return false;
        RivloViews::occludeSensitiveView(view);
    } else {
        return false;
    }
    say(options, "  host: " + name + (args.empty() ? "" : " " + arg(0)));
    return true;
}

}  // namespace

DemoRunResult DemoRun::run(const Scenario& scenario, const DemoOptions& options) {
    using namespace std::chrono_literals;
    DemoRunResult result;
    RunLoop::main().setMainThread();

    collector::CollectorConfig config;
    config.dataDir = (options.dataDir / "collector").string();
    config.databaseUrl = options.databaseUrl;
    collector::CollectorApp app;
    app.key = options.appKey;
    app.name = options.appName;
    // Uploads on Wi-Fi only. Screens named after a page of the scenario's site are web pages:
    // their gestures are kept at the point in the page.
    app.settings["g_status"] = false;
    if (!scenario.pages.empty()) {
        const std::string& url = scenario.pages.begin()->second.url;
        const size_t scheme = url.find("://");
        const size_t path = url.find('/', scheme == std::string::npos ? 0 : scheme + 3);
        app.settings["url"] = url.substr(0, path);
    }
    config.apps.push_back(app);
    config.logSink = [&options](const std::string& line) { say(options, "  collector: " + line); };
    collector::CollectorServer server(config);
    std::string error;
    if (!server.start(error)) {
        result.problems.push_back("the collector did not start: " + error);
        return result;
    }
    result.collectorStarted = true;
    result.collectorDir = config.dataDir;
    result.collectorUrl = server.url();
    say(options, "collector at " + server.url() + ", data in " + config.dataDir);
    // Read by the library's first start.
    ::setenv("RIVLO_SERVICE_URL", server.url().c_str(), 1);

    HeadlessProfile profile = scenario.profile.value_or(HeadlessProfile{});
    profile.sandboxDirectory = (options.dataDir / "device").string();
    auto platform = HeadlessPlatform::install(profile);
    RVUtil::setApplicationCachesDirectory(platform->device().cachesDirectory());
    UserDefaults::setStandardDirectory(platform->device().defaultsDirectory());
    FfmpegMovieWriterFactory::installDefaults();
    RivloRecorders::registerAll();  // what the library's start registers
    result.screen = profile.screenBounds.size;

    ScenarioPlayer player(*platform, scenario);
    player.setCallHandler([&](const std::string& name, const std::vector<std::string>& args) {
        return hostCall(player, options, name, args);
    });
    player.buildInterface();
    const auto calls = [&](const char* name) {
        return std::any_of(scenario.actions.begin(), scenario.actions.end(),
                           [&](const ActionSpec& a) { return a.kind == "call" && a.call == name; });
    };
    // A scenario that does not start the library itself plays a started, verified session.
    if (!calls("startApplicationWithKey")) {
        RVFacade::startApplicationWithKey(options.appKey);
        if (!RunLoop::main().runUntil([] { return RVUtil::isInfoPostSuccess(); }, 30s))
            result.problems.push_back("the collector did not verify the application");
    }
    say(options, "playing \"" + scenario.name + "\" (" + std::to_string(scenario.actions.size()) +
                     " actions)");
    player.start();
    const double budget = 60;
    double total = budget;
    for (const ActionSpec& a : scenario.actions)
        total += a.seconds + a.duration + scenario.pause + 1;
    result.played = RunLoop::main().runUntil([&] { return player.isFinished(); },
                                             std::chrono::duration<double>(total));
    result.playedLines = player.played();
    if (!result.played) result.problems.push_back("the scenario did not finish in time");

    for (const auto& [name, screen] : scenario.screens)
        collectViews(player, screen.views, result.views);
    if (!calls("stopApplicationAndUploadData")) RVFacade::stopApplicationAndUploadData();

    auto* store = RVPlistHandler::sharedHandler();
    auto nothingPending = [&] {
        result.pendingDocuments = store->textFileList().size();
        result.pendingScreenMovies = store->screenVideoEntries().size();
        result.pendingCameraMovies = store->cameraVideoEntries().size();
        result.pendingWebPages = store->webViewEntries().size();
        return result.pendingDocuments + result.pendingScreenMovies + result.pendingCameraMovies +
                   result.pendingWebPages ==
               0;
    };
    // The stop and its uploads run on background queues: wait for the session to end and
    // for the store to empty, then for anything still on its way.
    result.settled =
        RunLoop::main().runUntil([&] { return !RVFacade::isRecording() && nothingPending(); },
                                 std::chrono::duration<double>(options.settleTimeout));
    RunLoop::main().runUntil([] { return false; }, 300ms);
    if (!result.settled) {
        result.problems.push_back(
            "the device still holds " + std::to_string(result.pendingDocuments) + " documents, " +
            std::to_string(result.pendingScreenMovies) + " screen movies, " +
            std::to_string(result.pendingCameraMovies) + " camera movies and " +
            std::to_string(result.pendingWebPages) + " web pages" +
            (RVFacade::isRecording() ? ", and is still recording" : ""));
    }
    server.stop();
    return result;
}

}  // namespace rivlo::demo
