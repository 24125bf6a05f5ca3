#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "ConsoleQueries.h"

namespace rivlo::collector {

// The console's JSON of sessions: a session as the list shows it, and a whole session as its
// page plays it (events on one clock, device facts, tags, location, media and web pages), read
// from its index rows, its document and the movies and tiles placed in it.
class SessionView {
  public:
    // "2026-12-09T06:48:49Z".
    static std::string isoTime(int64_t unixSeconds);
    static std::string mediaUrl(int64_t uploadId);

    static nlohmann::json summary(const ConsoleQueries::SessionRow& row,
                                  const std::string& appFolder);
    static nlohmann::json detail(const ConsoleQueries::SessionRow& row,
                                 const std::string& appFolder, const nlohmann::json& document,
                                 const std::vector<UploadRecord>& items);
    // The session's events, in time order: screens, gestures, rotations, then its end (a crash,
    // or the application leaving for the background).
    static nlohmann::json events(const nlohmann::json& document, int64_t duration, bool crashed);
    // The name the console gives a timeline event code ("tap", "swipe" ...), "" for none.
    static const char* kindName(int code);
};

}  // namespace rivlo::collector
