#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "CollectorIndex.h"

namespace rivlo::collector {

// What a session document says of its session, for the index: the counts and facts of the
// session row, the screens it visited and the gestures on each screen, summed by point, as the
// heat maps read them. Pure: reads the parsed document only, never trusts its shape.
class SessionFacts {
  public:
    // The kind under which rage taps are kept beside the timeline's event codes: three or more
    // single taps within one second and within `kRageRadius` points of the first.
    static constexpr int kRageTap = 100;
    static constexpr double kRageRadius = 24.0;
    // A session's application version is what its host tagged "version:<text>".
    static constexpr const char* kVersionTagPrefix = "version:";

    // The facts of `document` (a session document received as `record`, with the run number
    // the collector accepted).
    static SessionRecord of(const nlohmann::json& document, const UploadRecord& record,
                            int64_t run);

    // One gesture of a timeline as the heat maps and the console read it.
    struct Gesture {
        std::string screen;
        bool web = false;
        int code = 0;           // timeline event code
        int64_t seconds = 0;    // timeline clock
        double x = 0, y = 0;    // positions 1-2: the point in the screen (or in the page)
        double wx = 0, wy = 0;  // positions 7-8: the touch in the window or web view
        int orientation = 0;    // position 3
    };
    // Every well-formed coordinate record of the document's timeline, in timeline order.
    static std::vector<Gesture> gestures(const nlohmann::json& document);

    // Where rage taps began among `taps` (single taps of one screen in time order): each
    // returned tap starts a run of at least three whose times are within one second (the
    // timeline keeps whole seconds: at most one tick apart) and whose points are within
    // `kRageRadius` of its own. A tap counts in one run at most.
    static std::vector<Gesture> rageTaps(const std::vector<Gesture>& taps);
};

}  // namespace rivlo::collector
