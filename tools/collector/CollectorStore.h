#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "CollectorIndex.h"
#include "CollectorLog.h"

namespace rivlo::collector {

// The collector's data as one whole: the files under the data folder and the index rows that
// name them, kept in step. A file is written and synced to the disk before the row naming it
// commits; a removal takes the rows first and then the files. Every change is logged. Any
// thread (the index serialises what must be).
class CollectorStore {
  public:
    CollectorStore(std::string dataDir, CollectorIndex& index, const CollectorLog& log);

    // Moves the finished (synced) temporary file to `record.path` in the data folder, syncs the
    // folders it enters, and commits the row, in that order.
    CollectorIndex::Commit store(UploadRecord& record, const std::optional<SessionRecord>& session,
                                 const StorageQuota& quota, const std::string& tempPath,
                                 std::string& error);

    struct Removed {
        size_t files = 0;
        uint64_t bytes = 0;
    };
    // Everything of one installation, and the installation itself: its identifier is no longer
    // accepted.
    std::optional<Removed> deleteInstallation(const std::string& appDeviceId, std::string& error);
    // Every session of the application in which the host named the user `userName`, with the
    // movies and web tiles placed in those sessions.
    std::optional<Removed> deleteUser(const std::string& appKey, const std::string& userName,
                                      std::string& error);
    // Uploads received more than `days` days before `nowUnix`, per application key.
    Removed expire(const std::map<std::string, int>& retentionDays, int64_t nowUnix);

    // Reads the documents of sessions stored before the index kept their screens, gestures
    // and versions, and adds those (once: does nothing when none are pending). Logged.
    bool completeSessionDetails(std::string& error);

  private:
    Removed removeFiles(const std::vector<UploadRecord>& rows);

    std::string dataDir_;
    CollectorIndex& index_;
    const CollectorLog& log_;
};

}  // namespace rivlo::collector
