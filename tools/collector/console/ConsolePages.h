#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "HttpTypes.h"

namespace rivlo::collector {

// The console's pages: plain HTML, CSS and JavaScript built into the collector (from
// tools/collector/console/pages), served under /console/ with headers that keep them from
// running anything but their own scripts: the page addresses (/console/, /console/login,
// /console/sessions/{id}, /console/heatmaps) and their files (/console/assets/{name}). The
// pages ask the JSON API for everything else. Any thread.
class ConsolePages {
  public:
    struct Asset {
        std::string_view name;
        std::string_view bytes;
    };
    // Generated at build time.
    static const Asset kAssets[];
    static const size_t kAssetCount;

    static std::optional<std::string_view> asset(std::string_view name);
    static std::string contentType(std::string_view name);
    // The routes that serve the pages, and "/" and "/console" leading to the list.
    static std::vector<HttpRoute> routes();
};

}  // namespace rivlo::collector
