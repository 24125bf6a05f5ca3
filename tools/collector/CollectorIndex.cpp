#include "CollectorIndex.h"

#include <filesystem>
#include <system_error>

#include <sqlite3.h>

#include "CollectorNames.h"

namespace rivlo::collector {

namespace fs = std::filesystem;

namespace {

// A prepared statement that finalises itself.
class Statement {
  public:
    Statement(sqlite3* db, const char* sql) {
        if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) stmt_ = nullptr;
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool ok() const { return stmt_ != nullptr; }
    Statement& bind(int index, const std::string& text) {
        sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()),
                          SQLITE_TRANSIENT);
        return *this;
    }
    Statement& bind(int index, int64_t value) {
        sqlite3_bind_int64(stmt_, index, value);
        return *this;
    }
    // SQLITE_ROW, SQLITE_DONE or an error code.
    int step() { return stmt_ ? sqlite3_step(stmt_) : SQLITE_ERROR; }
    std::string text(int column) const {
        const unsigned char* value = sqlite3_column_text(stmt_, column);
        return value ? std::string(reinterpret_cast<const char*>(value),
                                   static_cast<size_t>(sqlite3_column_bytes(stmt_, column)))
                     : std::string();
    }
    int64_t integer(int column) const { return sqlite3_column_int64(stmt_, column); }

  private:
    sqlite3_stmt* stmt_ = nullptr;
};

const char* const kSchema = R"sql(
CREATE TABLE IF NOT EXISTS applications (
    app_key TEXT PRIMARY KEY,
    name TEXT NOT NULL,
    folder TEXT NOT NULL
);
CREATE TABLE IF NOT EXISTS installations (
    app_device_id TEXT PRIMARY KEY,
    app_key TEXT NOT NULL,
    device_id TEXT NOT NULL,
    device_os TEXT NOT NULL,
    device_type TEXT NOT NULL,
    platform TEXT NOT NULL,
    app_name TEXT NOT NULL,
    first_seen TEXT NOT NULL,
    last_seen TEXT NOT NULL,
    verifications INTEGER NOT NULL DEFAULT 0,
    max_run INTEGER NOT NULL DEFAULT 0,
    UNIQUE (app_key, device_id)
);
CREATE TABLE IF NOT EXISTS uploads (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    app_device_id TEXT NOT NULL,
    kind TEXT NOT NULL,
    file_name TEXT NOT NULL,
    path TEXT NOT NULL,
    size INTEGER NOT NULL,
    fields TEXT NOT NULL,
    received_at TEXT NOT NULL,
    duplicates INTEGER NOT NULL DEFAULT 0,
    UNIQUE (app_device_id, kind, file_name)
);
)sql";

}  // namespace

CollectorIndex::~CollectorIndex() {
    close();
}

bool CollectorIndex::open(const std::string& path, bool readOnly, std::string& error) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (db_) return true;
    int flags = readOnly ? SQLITE_OPEN_READONLY : (SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    if (sqlite3_open_v2(path.c_str(), &db_, flags | SQLITE_OPEN_FULLMUTEX, nullptr) != SQLITE_OK) {
        error = "cannot open index " + path + ": " + (db_ ? sqlite3_errmsg(db_) : "out of memory");
        sqlite3_close(db_);
        db_ = nullptr;
        return false;
    }
    sqlite3_busy_timeout(db_, 5000);
    if (readOnly) return true;
    if (!exec("PRAGMA journal_mode=WAL", error) || !exec("PRAGMA synchronous=NORMAL", error) ||
        !exec(kSchema, error)) {
        sqlite3_close(db_);
        db_ = nullptr;
        return false;
    }
    return true;
}

void CollectorIndex::close() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (db_) sqlite3_close(db_);
    db_ = nullptr;
}

bool CollectorIndex::exec(const char* sql, std::string& error) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        error = std::string("index error: ") + (message ? message : "unknown");
        sqlite3_free(message);
        return false;
    }
    return true;
}

bool CollectorIndex::registerApplication(const ApplicationRecord& app, std::string& error) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!db_) {
        error = "index is not open";
        return false;
    }
    Statement upsert(db_,
                     "INSERT INTO applications (app_key, name, folder) VALUES (?1, ?2, ?3) "
                     "ON CONFLICT (app_key) DO UPDATE SET name = excluded.name");
    upsert.bind(1, app.key).bind(2, app.name).bind(3, app.folder);
    if (upsert.step() != SQLITE_DONE) {
        error = std::string("cannot register application: ") + sqlite3_errmsg(db_);
        return false;
    }
    return true;
}

std::optional<CollectorIndex::Verified> CollectorIndex::recordVerification(
    const VerificationFields& fields, const std::string& appDeviceId, std::string& error) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!db_) {
        error = "index is not open";
        return std::nullopt;
    }
    const std::string now = CollectorNames::utcNow();
    Verified result;
    result.appDeviceId = appDeviceId;
    Statement find(db_,
                   "SELECT verifications, max_run FROM installations WHERE app_device_id = ?1");
    find.bind(1, appDeviceId);
    int found = find.step();
    if (found == SQLITE_ROW) {
        result.latestRun = std::max(find.integer(0), find.integer(1));
        Statement update(
            db_,
            "UPDATE installations SET device_os = ?2, device_type = ?3, platform = ?4, "
            "app_name = ?5, last_seen = ?6, verifications = verifications + 1 "
            "WHERE app_device_id = ?1");
        update.bind(1, appDeviceId).bind(2, fields.deviceOs).bind(3, fields.deviceType);
        update.bind(4, fields.platform).bind(5, fields.appName).bind(6, now);
        if (update.step() != SQLITE_DONE) {
            error = std::string("cannot update installation: ") + sqlite3_errmsg(db_);
            return std::nullopt;
        }
        return result;
    }
    if (found != SQLITE_DONE) {
        error = std::string("cannot look up installation: ") + sqlite3_errmsg(db_);
        return std::nullopt;
    }
    Statement insert(db_,
                     "INSERT INTO installations (app_device_id, app_key, device_id, device_os, "
                     "device_type, platform, app_name, first_seen, last_seen, verifications) "
                     "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?8, 1)");
    insert.bind(1, appDeviceId).bind(2, fields.appKey).bind(3, fields.deviceId);
    insert.bind(4, fields.deviceOs).bind(5, fields.deviceType).bind(6, fields.platform);
    insert.bind(7, fields.appName).bind(8, now);
    if (insert.step() != SQLITE_DONE) {
        error = std::string("cannot add installation: ") + sqlite3_errmsg(db_);
        return std::nullopt;
    }
    return result;
}

namespace {

InstallationRecord readInstallation(const Statement& row) {
    InstallationRecord record;
    record.appKey = row.text(0);
    record.deviceId = row.text(1);
    record.appDeviceId = row.text(2);
    record.deviceOs = row.text(3);
    record.deviceType = row.text(4);
    record.platform = row.text(5);
    record.appName = row.text(6);
    record.firstSeen = row.text(7);
    record.lastSeen = row.text(8);
    record.verifications = row.integer(9);
    record.maxRun = row.integer(10);
    return record;
}

const char* const kInstallationColumns =
    "SELECT app_key, device_id, app_device_id, device_os, device_type, platform, app_name, "
    "first_seen, last_seen, verifications, max_run FROM installations";

}  // namespace

std::optional<InstallationRecord> CollectorIndex::installation(const std::string& appDeviceId) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!db_) return std::nullopt;
    std::string sql = std::string(kInstallationColumns) + " WHERE app_device_id = ?1";
    Statement find(db_, sql.c_str());
    find.bind(1, appDeviceId);
    if (find.step() != SQLITE_ROW) return std::nullopt;
    return readInstallation(find);
}

std::optional<ApplicationRecord> CollectorIndex::application(const std::string& key) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!db_) return std::nullopt;
    Statement find(db_, "SELECT app_key, name, folder FROM applications WHERE app_key = ?1");
    find.bind(1, key);
    if (find.step() != SQLITE_ROW) return std::nullopt;
    return ApplicationRecord{find.text(0), find.text(1), find.text(2)};
}

CollectorIndex::Commit CollectorIndex::commitUpload(const UploadRecord& record,
                                                    const std::string& tempPath,
                                                    const std::string& dataDir,
                                                    std::string& error) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!db_) {
        error = "index is not open";
        return Commit::Failed;
    }
    Statement find(
        db_, "SELECT id FROM uploads WHERE app_device_id = ?1 AND kind = ?2 AND file_name = ?3");
    find.bind(1, record.appDeviceId).bind(2, record.kind).bind(3, record.fileName);
    int found = find.step();
    if (found == SQLITE_ROW) {
        Statement bump(db_, "UPDATE uploads SET duplicates = duplicates + 1 WHERE id = ?1");
        bump.bind(1, find.integer(0));
        bump.step();
        return Commit::Duplicate;
    }
    if (found != SQLITE_DONE) {
        error = std::string("cannot look up upload: ") + sqlite3_errmsg(db_);
        return Commit::Failed;
    }
    // The file goes into place before the record, so a record never names a missing file; a
    // file without a record (a crash in between) is overwritten by the client's retry.
    fs::path finalPath = fs::path(dataDir) / record.path;
    std::error_code ec;
    fs::create_directories(finalPath.parent_path(), ec);
    if (ec) {
        error = "cannot create folder " + finalPath.parent_path().string() + ": " + ec.message();
        return Commit::Failed;
    }
    fs::rename(tempPath, finalPath, ec);
    if (ec) {
        error = "cannot move upload into " + finalPath.string() + ": " + ec.message();
        return Commit::Failed;
    }
    Statement insert(db_,
                     "INSERT INTO uploads (app_device_id, kind, file_name, path, size, fields, "
                     "received_at) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)");
    insert.bind(1, record.appDeviceId).bind(2, record.kind).bind(3, record.fileName);
    insert.bind(4, record.path).bind(5, static_cast<int64_t>(record.size));
    insert.bind(6, record.fields.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace))
        .bind(7, record.receivedAt);
    if (insert.step() != SQLITE_DONE) {
        error = std::string("cannot record upload: ") + sqlite3_errmsg(db_);
        fs::remove(finalPath, ec);
        return Commit::Failed;
    }
    return Commit::Stored;
}

void CollectorIndex::noteRun(const std::string& appDeviceId, int64_t run) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!db_) return;
    Statement update(
        db_, "UPDATE installations SET max_run = ?2 WHERE app_device_id = ?1 AND max_run < ?2");
    update.bind(1, appDeviceId).bind(2, run);
    update.step();
}

std::vector<ApplicationRecord> CollectorIndex::applications() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<ApplicationRecord> out;
    if (!db_) return out;
    Statement all(db_, "SELECT app_key, name, folder FROM applications ORDER BY name, app_key");
    while (all.step() == SQLITE_ROW)
        out.push_back({all.text(0), all.text(1), all.text(2)});
    return out;
}

std::vector<InstallationRecord> CollectorIndex::installations() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<InstallationRecord> out;
    if (!db_) return out;
    std::string sql = std::string(kInstallationColumns) + " ORDER BY first_seen, app_device_id";
    Statement all(db_, sql.c_str());
    while (all.step() == SQLITE_ROW)
        out.push_back(readInstallation(all));
    return out;
}

std::vector<UploadRecord> CollectorIndex::uploads() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<UploadRecord> out;
    if (!db_) return out;
    Statement all(db_,
                  "SELECT app_device_id, kind, file_name, path, size, fields, received_at, "
                  "duplicates FROM uploads ORDER BY id");
    while (all.step() == SQLITE_ROW) {
        UploadRecord record;
        record.appDeviceId = all.text(0);
        record.kind = all.text(1);
        record.fileName = all.text(2);
        record.path = all.text(3);
        record.size = static_cast<uint64_t>(all.integer(4));
        record.fields = nlohmann::json::parse(all.text(5), nullptr, false);
        if (record.fields.is_discarded()) record.fields = nlohmann::json::object();
        record.receivedAt = all.text(6);
        record.duplicates = all.integer(7);
        out.push_back(std::move(record));
    }
    return out;
}

}  // namespace rivlo::collector
