#pragma once

#include "CollectorConfig.h"

#include "platform/Geometry.h"
#include "platform/headless/Scenario.h"

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace rivlo::demo {

struct DemoOptions {
    std::filesystem::path dataDir;  // the collector's data goes to dataDir/collector
    std::string appKey = "demo-application-key";
    std::string appName = "Demo Shop";
    std::string databaseUrl;     // the collector's index; "" for the SQLite file in its folder
    double settleTimeout = 120;  // seconds to wait for the uploads after the last action
    // Progress lines for the person watching ("" lines are not sent).
    std::function<void(const std::string&)> progress;
};

// What happened on the device side of one demo run.
struct DemoRunResult {
    bool collectorStarted = false;
    bool played = false;   // every action of the scenario ran
    bool settled = false;  // nothing recording, nothing pending, within the timeout
    std::string collectorDir;
    std::string collectorUrl;
    Size screen;                           // the device's screen in points
    std::map<std::string, Rect> views;     // scenario view id -> window rectangle
    std::vector<std::string> playedLines;  // the player's lines
    std::vector<std::string> problems;     // why the run is incomplete, when it is
    size_t pendingDocuments = 0, pendingScreenMovies = 0, pendingCameraMovies = 0,
           pendingWebPages = 0;
};

// Runs a scenario once, end to end, in this process: the reference collector on loopback, the
// headless device with the scenario's interface, the library recording while the scenario
// plays (its "call" actions are the host's calls into the library), then waits until the
// library has stopped and its pending store is empty. The library's controller lives for the
// process, so a process runs one demo. Main thread only; it turns the main run loop.
class DemoRun {
  public:
    static DemoRunResult run(const Scenario& scenario, const DemoOptions& options);
};

}  // namespace rivlo::demo
