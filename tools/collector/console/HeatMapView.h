#pragma once

#include <set>
#include <string>

#include <nlohmann/json.hpp>

#include "ConsoleQueries.h"

namespace rivlo::collector {

// A heat map of one screen over a period (and an application version): the sums of its
// gestures by kind and point with the rage taps, as JSON, or drawn over the screen's picture
// (a frame of the latest screen movie that shows it, or a web page's stitched tiles) as PNG.
class HeatMapView {
  public:
    // Gesture kinds by the console's names ("tap", "double_tap", "swipe", "pinch").
    static bool kindsFrom(const std::string& list, std::set<std::string>& kinds);

    HeatMapView(ConsoleQueries& queries, std::string dataDir)
        : queries_(queries), dataDir_(std::move(dataDir)) {}

    // False (with the reason) when the index cannot be read.
    bool asJson(const ConsoleQueries::HeatQuery& query, const std::set<std::string>& kinds,
                nlohmann::json& out, std::string& error);
    bool asPng(const ConsoleQueries::HeatQuery& query, const std::set<std::string>& kinds,
               std::string& out, std::string& error);

  private:
    struct Picture;
    bool gather(const ConsoleQueries::HeatQuery& query, const std::set<std::string>& kinds,
                ConsoleQueries::HeatSums& sums, bool& web, std::string& error);

    ConsoleQueries& queries_;
    std::string dataDir_;
};

}  // namespace rivlo::collector
