#pragma once

#include "CollectorSessions.h"
#include "DemoExpectation.h"
#include "DemoRun.h"
#include "movieprobe/MovieProbe.h"

#include <map>
#include <string>
#include <vector>

namespace rivlo::demo {

// What the collector holds for the demo's application: its one installation with the
// sessions, and every screen movie decoded (by stored path).
struct DemoData {
    bool loaded = false;
    std::string dataDir;
    collector::CollectedInstallation installation;
    std::map<std::string, media::MovieProbe> movies;
    std::vector<std::string> problems;  // what could not be read
};

class DemoCheck {
  public:
    // Reads the collector's index and files for the application key.
    static DemoData load(const std::string& collectorDir, const std::string& appKey);

    // Compares what arrived with what the scenario did; answers one line per mismatch (none
    // when everything matched): sessions, documents (information entries, user name, tags,
    // location, favourite mark, rising run numbers), timelines (screens in order, each
    // screen's gestures, tap positions), screen movies (decode, size, duration, masked views
    // red), web tiles (pages touched, each tile decodes at the grid's tile size).
    static std::vector<std::string> compare(const std::vector<ExpectedSession>& expected,
                                            const DemoData& data, const DemoRunResult& run);
};

}  // namespace rivlo::demo
