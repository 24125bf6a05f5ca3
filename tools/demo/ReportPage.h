#pragma once

#include "DemoCheck.h"
#include "HeatMaps.h"

#include <filesystem>
#include <string>
#include <vector>

namespace rivlo::demo {

// The one HTML page of a demo run: per session the screen movie (playable in the page), the
// heat maps, the timeline of screens with their gestures, tags and location; the scenario's
// verdict at the top. Paths in the page are relative to the page's folder.
class ReportPage {
  public:
    static bool write(const std::filesystem::path& page, const std::string& scenarioName,
                      const DemoData& data, const std::vector<HeatMapImage>& images,
                      const std::filesystem::path& imageDir,
                      const std::vector<std::string>& problems, std::string& error);
};

}  // namespace rivlo::demo
