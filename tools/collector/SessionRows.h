#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "CollectorIndex.h"
#include "SqlDatabase.h"

namespace rivlo::collector {

// The index rows that describe sessions, written inside the transaction of the upload or
// removal that changes them: a session's row, tags, screens and summed gestures, the heat-map
// sums per application, screen, day and version (kept as sessions arrive and leave, so a heat
// map never reads documents), and which session each movie and tile belongs to. Called by
// CollectorIndex on a connection it holds; one thread at a time per connection.
class SessionRows {
  public:
    // The UTC day of a Unix time (days since 1970-01-01, rounded down).
    static int64_t dayOf(int64_t unixSeconds);

    // The session row of document `uploadId` with its tags, then its details.
    static bool insert(SqlDatabase& db, int64_t uploadId, const SessionRecord& session,
                       std::string& error);
    // Screens, gestures and heat-map sums of a session whose row exists (also for an index
    // that predates them), and its version.
    static bool insertDetails(SqlDatabase& db, int64_t uploadId, const SessionRecord& session,
                              std::string& error);
    // Removes the sessions of these document uploads (ids that are no documents are ignored),
    // taking their gestures out of the heat-map sums.
    static bool remove(SqlDatabase& db, const std::vector<int64_t>& uploadIds, std::string& error);
    // Places the movies and tiles of an installation in its sessions: every one of them, or
    // only `upload` (a movie or tile just stored: placement depends on the documents alone).
    static bool place(SqlDatabase& db, const std::string& appDeviceId,
                      std::optional<int64_t> upload, std::string& error);
    // Marks the application's heat maps as changed (cached ones are drawn again).
    static bool touchApplication(SqlDatabase& db, const std::string& appKey, std::string& error);
};

}  // namespace rivlo::collector
