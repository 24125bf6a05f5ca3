#pragma once

#include "DemoCheck.h"

#include "platform/Geometry.h"

#include <filesystem>
#include <string>
#include <vector>

namespace rivlo::demo {

// One picture written for people to look at.
struct HeatMapImage {
    size_t session = 0;  // 1-based
    std::string screen;  // screen name, or the page address
    bool web = false;    // a stitched web page rather than a movie frame
    std::string file;    // file name inside the output folder
    int gestures = 0;    // gestures drawn
    int orientationChanges = 0;
    int tiles = 0;  // web pages: tiles placed
};

// Draws the heat maps of every session with Cairo: for each screen, the gestures over a frame
// of the screen movie taken while that screen showed (taps as dots, double taps as rings,
// swipes as arrows, pinches as circles, the density of touches as colour); for each web page,
// its tiles stitched in place with the touches on the page. Files are PNG, named
// "session<N>-<screen>.png" / "session<N>-page-<address>.png".
class HeatMaps {
  public:
    static std::vector<HeatMapImage> paint(const DemoData& data, Size screen,
                                           const std::filesystem::path& outDir,
                                           std::vector<std::string>& problems);
};

}  // namespace rivlo::demo
