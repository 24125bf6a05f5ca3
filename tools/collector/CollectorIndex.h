#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

struct sqlite3;

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
};

struct InstallationRecord {
    std::string appKey;
    std::string deviceId;
    std::string appDeviceId;
    std::string deviceOs;
    std::string deviceType;
    std::string platform;
    std::string appName;
    std::string firstSeen;
    std::string lastSeen;
    int64_t verifications = 0;
    int64_t maxRun = 0;  // highest run number seen in a session document
};

struct UploadRecord {
    std::string appDeviceId;  // as sent by the client ("apd" of a session document)
    std::string kind;         // "screen", "camera", "data" or "tile"
    std::string fileName;
    std::string path;  // relative to the data folder
    uint64_t size = 0;
    nlohmann::json fields = nlohmann::json::object();
    std::string receivedAt;
    int64_t duplicates = 0;  // later uploads of the same file that were not stored again
};

// The SQLite index of everything the collector has received, kept in the data folder so that a
// restarted collector knows its installations and recognises repeated uploads. All methods are
// safe to call from any request thread; one mutex serialises them.
class CollectorIndex {
  public:
    CollectorIndex() = default;
    ~CollectorIndex();
    CollectorIndex(const CollectorIndex&) = delete;
    CollectorIndex& operator=(const CollectorIndex&) = delete;

    // Opens (creating when allowed) the index file and its tables.
    bool open(const std::string& path, bool readOnly, std::string& error);
    void close();

    bool registerApplication(const ApplicationRecord& app, std::string& error);

    // Records one accepted verification: creates the installation on first sight, refreshes its
    // device facts otherwise. Returns its identifier and the latest run number known for it
    // before this request: the higher of the earlier verifications and the runs seen in its
    // session documents.
    struct Verified {
        std::string appDeviceId;
        int64_t latestRun = 0;
    };
    std::optional<Verified> recordVerification(const VerificationFields& fields,
                                               const std::string& appDeviceId, std::string& error);

    std::optional<InstallationRecord> installation(const std::string& appDeviceId);
    std::optional<ApplicationRecord> application(const std::string& key);

    enum class Commit { Stored, Duplicate, Failed };
    // Stores one received file: moves `tempPath` to `dataDir/record.path` and adds the record,
    // unless the same installation already sent a file of that kind and name; then the earlier
    // copy stays, the duplicate count grows and the caller deletes `tempPath`.
    Commit commitUpload(const UploadRecord& record, const std::string& tempPath,
                        const std::string& dataDir, std::string& error);

    // Raises the installation's highest seen run number to `run` when it is higher.
    void noteRun(const std::string& appDeviceId, int64_t run);

    std::vector<ApplicationRecord> applications();
    std::vector<InstallationRecord> installations();
    std::vector<UploadRecord> uploads();

  private:
    bool exec(const char* sql, std::string& error);

    std::mutex mutex_;
    sqlite3* db_ = nullptr;
};

}  // namespace rivlo::collector
