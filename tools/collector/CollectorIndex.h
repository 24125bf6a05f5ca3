#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "SqlDatabase.h"

namespace rivlo::collector {

// The form fields of one verification request.
struct VerificationFields {
    std::string appKey;
    std::string deviceId;
    std::string deviceOs;
    std::string deviceType;
    std::string platform;
    std::string appName;
};

struct ApplicationRecord {
    std::string key;
    std::string name;
    std::string folder;  // folder under "apps/" in the data folder
    int64_t bytes = 0;   // stored now
};

struct InstallationRecord {
    std::string appKey;
    std::string deviceId;
    std::string appDeviceId;  // issued at the first verification: random, the uploads' credential
    std::string deviceOs;
    std::string deviceType;
    std::string platform;
    std::string appName;
    std::string firstSeen;
    std::string lastSeen;
    int64_t verifications = 0;
    int64_t maxRun = 0;  // highest run number reported in a session document (never above
                         // `verifications`)
    int64_t bytes = 0;   // stored now
};

struct UploadRecord {
    int64_t id = 0;
    std::string appDeviceId;
    std::string appKey;
    std::string kind;  // "screen", "camera", "data" or "tile"
    std::string fileName;
    std::string path;  // relative to the data folder
    uint64_t size = 0;
    nlohmann::json fields = nlohmann::json::object();
    std::string receivedAt;
    int64_t receivedUnix = 0;
    int64_t duplicates = 0;  // later uploads of the same file that were not stored again
};

// A screen a session visited (the first visit, when there were several).
struct SessionScreen {
    std::string name;
    int64_t appearedAt = 0;       // timeline seconds
    int64_t firstGestureAt = -1;  // timeline seconds of its first gesture; -1 without any
    bool web = false;             // a web page: its name is the page's address
};

// The gestures of one kind at one point of one screen in a session, summed. Points are whole
// points of the screen (of the page, for a web page).
struct SessionPoint {
    std::string screen;
    int kind = 0;  // timeline event code, or SessionFacts::kRageTap
    int64_t x = 0;
    int64_t y = 0;
    int64_t count = 0;
};

// What a session document says of its session, kept in rows of their own so sessions can be
// found by application, installation, time, user, tag, screen or crash without reading
// documents, and heat maps summed without reading them either.
struct SessionRecord {
    int64_t uploadId = 0;  // the document's upload
    std::string appKey;
    std::string appDeviceId;
    int64_t run = 0;
    int64_t startedUnix = 0;  // the document's stamp minus the session's length
    int64_t duration = 0;     // seconds
    int64_t screens = 0;
    int64_t gestures = 0;
    std::vector<std::string> tags;
    bool crash = false;
    bool favourite = false;
    std::string userName;
    std::string receivedAt;
    std::string version;  // the application version its host tagged, "" when none
    std::vector<SessionScreen> visited;
    std::vector<SessionPoint> points;
};

struct SessionQuery {
    std::string appKey;       // "" for every application
    std::string appDeviceId;  // "" for every installation
    std::string userName;
    std::string tag;
    std::optional<int64_t> startedFrom;    // started at or after (Unix seconds)
    std::optional<int64_t> startedBefore;  // started before
    std::optional<bool> crash;
    int64_t limit = 100;
    int64_t offset = 0;
};

// Storage allowances of one application; 0 means no limit.
struct StorageQuota {
    uint64_t applicationBytes = 0;
    uint64_t installationBytes = 0;
};

// The index of everything the collector holds, in one of two engines chosen by the URL it is
// opened with: an SQLite file (a path, or "sqlite:PATH"; the embedded default) or a PostgreSQL
// database ("postgresql://..." or "postgres://..."), which several collectors can share.
// Every method is safe from any thread: SQLite serialises on its one connection, PostgreSQL
// takes a connection of its own from a small pool for each call.
class CollectorIndex {
  public:
    CollectorIndex() = default;
    ~CollectorIndex();
    CollectorIndex(const CollectorIndex&) = delete;
    CollectorIndex& operator=(const CollectorIndex&) = delete;

    // The SQLite file in a data folder.
    static std::string defaultUrl(const std::string& dataDir);
    static bool isPostgresUrl(const std::string& url);

    // Opens (creating the tables unless read-only) the index at `url`.
    bool open(const std::string& url, bool readOnly, std::string& error);
    void close();
    const char* engine() const;

    bool registerApplication(const ApplicationRecord& app, std::string& error);

    // One verification of a known application. A device seen before keeps its identifier; a
    // new one gets `newId()` (random) unless the application already has `maxInstallations`
    // (0: no limit). `latestRun` is the number of verifications before this one: the highest
    // run number this installation can have reached. When the refresh of a known installation
    // cannot be written (a full disk), it is still answered (`refreshed` false, the reason in
    // `note`).
    struct Verified {
        enum class Outcome { Known, Created, OverQuota, Failed } outcome = Outcome::Failed;
        std::string appDeviceId;
        int64_t latestRun = 0;
        bool refreshed = true;
        std::string note;
    };
    Verified recordVerification(const VerificationFields& fields,
                                const std::function<std::string()>& newId,
                                uint64_t maxInstallations);

    std::optional<InstallationRecord> installation(const std::string& appDeviceId);
    std::optional<ApplicationRecord> application(const std::string& key);

    enum class Commit { Stored, Duplicate, OverQuota, DiskFull, Failed };
    // Records one received file in a single transaction: unless the installation already sent
    // a file of that kind and name (then only the duplicate count grows), the quota is
    // checked, the row (and the session's rows, for a document) added, `placeFile` called to
    // put the file in place durably, and only then the transaction committed. A failing
    // `placeFile` or commit leaves no row. Fills `record.id`.
    Commit commitUpload(UploadRecord& record, const std::optional<SessionRecord>& session,
                        const StorageQuota& quota,
                        const std::function<bool(std::string& error)>& placeFile,
                        std::string& error);

    // Raises the installation's highest reported run to `run` when it is higher and not above
    // the number of its verifications. False when the run was not taken.
    bool noteRun(const std::string& appDeviceId, int64_t run);

    std::vector<ApplicationRecord> applications();
    std::vector<InstallationRecord> installations();
    std::vector<UploadRecord> uploads();
    std::vector<UploadRecord> uploadsOf(const std::string& appDeviceId);
    std::vector<SessionRecord> sessions(const SessionQuery& query);

    // Removals return the rows they removed (the caller deletes their files), or nothing when
    // the index refused.
    std::optional<std::vector<UploadRecord>> removeInstallation(const std::string& appDeviceId,
                                                                std::string& error);
    std::optional<std::vector<UploadRecord>> removeUploads(const std::vector<int64_t>& ids,
                                                           std::string& error);
    // At most `limit` uploads of the application received before `cutoffUnix`.
    std::optional<std::vector<UploadRecord>> removeReceivedBefore(const std::string& appKey,
                                                                  int64_t cutoffUnix, int64_t limit,
                                                                  std::string& error);

    // "SELECT <the columns of an upload> FROM uploads", and one row of it read back.
    static const char* uploadColumns();
    static UploadRecord uploadOf(const SqlDatabase::Row& row);

    // Runs `work` on a connection of the index (the console's queries). Any thread; the
    // connection is the caller's until `work` returns. False when the index is not open or
    // `work` answers false.
    bool use(const std::function<bool(SqlDatabase&)>& work);

    // An index brought up from the previous layout lacks the screens, gestures and versions of
    // the sessions it holds until they are read again from their documents: true until then.
    bool sessionDetailsPending();
    // The details of sessions (by document upload) read again, in one transaction; sessions
    // that have them already are left as they are.
    bool addSessionDetails(const std::vector<std::pair<int64_t, SessionRecord>>& found,
                           std::string& error);
    // Places every movie and tile in its session and clears the pending mark.
    bool finishSessionDetails(std::string& error);

  private:
    class Lease;
    Lease lease();
    std::vector<UploadRecord> selectUploads(SqlDatabase& db, const std::string& where,
                                            const std::vector<SqlDatabase::Param>& params);
    bool removeRows(SqlDatabase& db, const std::vector<UploadRecord>& rows, std::string& error);

    std::string url_;
    bool postgres_ = false;
    bool readOnly_ = false;
    size_t poolLimit_ = 1;
    size_t created_ = 0;
    std::mutex mutex_;
    std::condition_variable returned_;
    std::vector<std::unique_ptr<SqlDatabase>> idle_;
    bool open_ = false;
};

}  // namespace rivlo::collector
