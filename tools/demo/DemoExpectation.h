#pragma once

#include "platform/Geometry.h"
#include "platform/headless/Scenario.h"

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace rivlo::demo {

// One gesture the scenario makes, as the timeline should record it.
struct ExpectedGesture {
    int code = 0;                // timeline event code (0 tap ... 10 orientation change)
    std::optional<Point> point;  // the touch point in window coordinates, when known
    bool doubleTap = false;      // its taps may also come as single taps
    int line = 0;                // the scenario line that made it
};

// One timeline entry: a run of gestures on one screen name.
struct ExpectedEntry {
    std::string name;
    bool web = false;
    std::vector<ExpectedGesture> gestures;
};

// What one session of the scenario should leave at the collector.
struct ExpectedSession {
    std::vector<ExpectedEntry> entries;
    std::optional<std::string> userName;  // "dan"
    std::vector<std::string> tags;        // in order
    std::optional<std::pair<double, double>> location;
    bool favourite = false;
    std::set<std::string> webPages;     // addresses touched: tiles expected
    std::set<std::string> maskedViews;  // view ids masked in this session's movie
    // Views the host marked before the start that show on the first screen: masked from the
    // movie's first frame on.
    std::set<std::string> maskedFromFirstFrame;
};

// The sessions a scenario should produce, worked out from its actions alone: screens follow
// the navigation actions, a page touched for the first time in an orientation names the
// screen after its address, swipes are mapped through the status-bar orientation, calls to
// the library (by the names the demo host knows) set names, tags, location and marks; a
// "background" ends a session and the following "foreground" begins the next.
class DemoExpectation {
  public:
    static std::vector<ExpectedSession> from(const Scenario& scenario);
};

}  // namespace rivlo::demo
