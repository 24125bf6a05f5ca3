#include "CollectorIndex.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

#include "CollectorNames.h"
#include "PostgresDatabase.h"
#include "SessionRows.h"
#include "SqliteDatabase.h"

namespace rivlo::collector {

namespace fs = std::filesystem;
using Param = SqlDatabase::Param;
using Row = SqlDatabase::Row;

namespace {

// Bumped whenever the tables change shape; an index of another version is not opened, but for
// the one before, which is brought up to this one when opened for writing.
constexpr const char* kSchemaVersion = "3";
constexpr const char* kPreviousSchemaVersion = "2";

// The engine's numbered key goes where "{serial}" stands.
const char* const kSchema = R"sql(
CREATE TABLE IF NOT EXISTS collector_meta (
    name TEXT PRIMARY KEY,
    value TEXT NOT NULL
);
CREATE TABLE IF NOT EXISTS applications (
    app_key TEXT PRIMARY KEY,
    name TEXT NOT NULL,
    folder TEXT NOT NULL UNIQUE,
    bytes BIGINT NOT NULL DEFAULT 0,
    generation BIGINT NOT NULL DEFAULT 0
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
    verifications BIGINT NOT NULL DEFAULT 0,
    max_run BIGINT NOT NULL DEFAULT 0,
    bytes BIGINT NOT NULL DEFAULT 0,
    UNIQUE (app_key, device_id)
);
CREATE TABLE IF NOT EXISTS uploads (
    id {serial},
    app_device_id TEXT NOT NULL,
    app_key TEXT NOT NULL,
    kind TEXT NOT NULL,
    file_name TEXT NOT NULL,
    path TEXT NOT NULL,
    size BIGINT NOT NULL,
    fields TEXT NOT NULL,
    received_at TEXT NOT NULL,
    received_unix BIGINT NOT NULL,
    duplicates BIGINT NOT NULL DEFAULT 0,
    session_id BIGINT NOT NULL DEFAULT 0,
    UNIQUE (app_device_id, kind, file_name)
);
CREATE INDEX IF NOT EXISTS uploads_by_app_time ON uploads (app_key, received_unix);
CREATE INDEX IF NOT EXISTS uploads_by_session ON uploads (session_id, kind);
CREATE TABLE IF NOT EXISTS sessions (
    upload_id BIGINT PRIMARY KEY,
    app_key TEXT NOT NULL,
    app_device_id TEXT NOT NULL,
    run BIGINT NOT NULL,
    started_unix BIGINT NOT NULL,
    duration BIGINT NOT NULL,
    screens BIGINT NOT NULL,
    gestures BIGINT NOT NULL,
    crash BIGINT NOT NULL,
    favourite BIGINT NOT NULL,
    user_name TEXT NOT NULL,
    version TEXT NOT NULL DEFAULT ''
);
CREATE INDEX IF NOT EXISTS sessions_by_app_order ON sessions (app_key, started_unix, upload_id);
CREATE INDEX IF NOT EXISTS sessions_by_installation ON sessions (app_device_id, started_unix);
CREATE TABLE IF NOT EXISTS session_tags (
    upload_id BIGINT NOT NULL,
    tag TEXT NOT NULL
);
CREATE INDEX IF NOT EXISTS session_tags_by_upload ON session_tags (upload_id);
CREATE INDEX IF NOT EXISTS session_tags_by_tag ON session_tags (tag, upload_id);
CREATE TABLE IF NOT EXISTS session_screens (
    upload_id BIGINT NOT NULL,
    app_key TEXT NOT NULL,
    screen TEXT NOT NULL,
    version TEXT NOT NULL,
    started_unix BIGINT NOT NULL,
    position BIGINT NOT NULL,
    appeared_at BIGINT NOT NULL,
    first_gesture_at BIGINT NOT NULL,
    web BIGINT NOT NULL,
    PRIMARY KEY (upload_id, screen)
);
CREATE INDEX IF NOT EXISTS session_screens_by_screen
    ON session_screens (app_key, screen, started_unix, upload_id);
CREATE TABLE IF NOT EXISTS session_points (
    upload_id BIGINT NOT NULL,
    screen TEXT NOT NULL,
    kind BIGINT NOT NULL,
    x BIGINT NOT NULL,
    y BIGINT NOT NULL,
    count BIGINT NOT NULL
);
CREATE INDEX IF NOT EXISTS session_points_by_upload ON session_points (upload_id);
CREATE TABLE IF NOT EXISTS heat_points (
    app_key TEXT NOT NULL,
    screen TEXT NOT NULL,
    version TEXT NOT NULL,
    day BIGINT NOT NULL,
    kind BIGINT NOT NULL,
    x BIGINT NOT NULL,
    y BIGINT NOT NULL,
    count BIGINT NOT NULL,
    PRIMARY KEY (app_key, screen, day, version, kind, x, y)
);
CREATE TABLE IF NOT EXISTS console_users (
    name TEXT PRIMARY KEY,
    password_hash TEXT NOT NULL,
    role TEXT NOT NULL,
    created_at TEXT NOT NULL
);
CREATE TABLE IF NOT EXISTS console_logins (
    token_hash TEXT PRIMARY KEY,
    user_name TEXT NOT NULL,
    csrf_token TEXT NOT NULL,
    created_unix BIGINT NOT NULL,
    expires_unix BIGINT NOT NULL
);
)sql";

// From the previous layout: the columns it lacks (before the schema above adds indexes on
// them); its tables and rows stay. What the new tables hold of stored sessions is filled in by
// CollectorStore::completeSessionDetails from the documents.
const char* const kUpgradeFromPrevious = R"sql(
ALTER TABLE applications ADD COLUMN generation BIGINT NOT NULL DEFAULT 0;
ALTER TABLE uploads ADD COLUMN session_id BIGINT NOT NULL DEFAULT 0;
ALTER TABLE sessions ADD COLUMN version TEXT NOT NULL DEFAULT '';
DROP INDEX IF EXISTS sessions_by_app_start;
DROP INDEX IF EXISTS session_tags_by_tag;
)sql";

const char* const kInstallationColumns =
    "SELECT app_key, device_id, app_device_id, device_os, device_type, platform, app_name, "
    "first_seen, last_seen, verifications, max_run, bytes FROM installations";

const char* const kUploadColumns =
    "SELECT id, app_device_id, app_key, kind, file_name, path, size, fields, received_at, "
    "received_unix, duplicates FROM uploads";

Param text(const std::string& value) {
    return CollectorNames::storable(value);
}

InstallationRecord installationOf(const Row& row) {
    InstallationRecord r;
    r.appKey = row.text(0);
    r.deviceId = row.text(1);
    r.appDeviceId = row.text(2);
    r.deviceOs = row.text(3);
    r.deviceType = row.text(4);
    r.platform = row.text(5);
    r.appName = row.text(6);
    r.firstSeen = row.text(7);
    r.lastSeen = row.text(8);
    r.verifications = row.integer(9);
    r.maxRun = row.integer(10);
    r.bytes = row.integer(11);
    return r;
}

UploadRecord uploadRow(const Row& row) {
    UploadRecord r;
    r.id = row.integer(0);
    r.appDeviceId = row.text(1);
    r.appKey = row.text(2);
    r.kind = row.text(3);
    r.fileName = row.text(4);
    r.path = row.text(5);
    r.size = static_cast<uint64_t>(row.integer(6));
    r.fields = nlohmann::json::parse(row.text(7), nullptr, false);
    if (r.fields.is_discarded()) r.fields = nlohmann::json::object();
    r.receivedAt = row.text(8);
    r.receivedUnix = row.integer(9);
    r.duplicates = row.integer(10);
    return r;
}

// "$first, $first+1, ..." for `count` parameters.
std::string placeholders(size_t first, size_t count) {
    std::string out;
    for (size_t i = 0; i < count; ++i)
        out += (i ? ", $" : "$") + std::to_string(first + i);
    return out;
}

}  // namespace

// A connection taken from the pool for one call, given back when the lease ends.
class CollectorIndex::Lease {
  public:
    Lease(CollectorIndex& index, std::unique_ptr<SqlDatabase> db)
        : index_(index), db_(std::move(db)) {}
    Lease(Lease&& other) noexcept : index_(other.index_), db_(std::move(other.db_)) {}
    ~Lease() {
        if (!db_) return;
        {
            std::lock_guard<std::mutex> lock(index_.mutex_);
            index_.idle_.push_back(std::move(db_));
        }
        index_.returned_.notify_one();
    }
    explicit operator bool() const { return db_ != nullptr; }
    SqlDatabase& operator*() { return *db_; }
    SqlDatabase* operator->() { return db_.get(); }

  private:
    CollectorIndex& index_;
    std::unique_ptr<SqlDatabase> db_;
};

CollectorIndex::~CollectorIndex() {
    close();
}

std::string CollectorIndex::defaultUrl(const std::string& dataDir) {
    return (fs::path(dataDir) / "collector.sqlite").string();
}

bool CollectorIndex::isPostgresUrl(const std::string& url) {
    return url.rfind("postgresql://", 0) == 0 || url.rfind("postgres://", 0) == 0;
}

const char* CollectorIndex::engine() const {
    return postgres_ ? "postgresql" : "sqlite";
}

CollectorIndex::Lease CollectorIndex::lease() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (!open_) return Lease(*this, nullptr);
        if (!idle_.empty()) {
            auto db = std::move(idle_.back());
            idle_.pop_back();
            return Lease(*this, std::move(db));
        }
        if (created_ < poolLimit_) {
            ++created_;
            lock.unlock();
            auto db = std::make_unique<PostgresDatabase>();
            std::string error;
            if (db->open(url_, error)) return Lease(*this, std::move(db));
            lock.lock();
            --created_;
            return Lease(*this, nullptr);
        }
        returned_.wait(lock);
    }
}

bool CollectorIndex::open(const std::string& url, bool readOnly, std::string& error) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (open_) return true;
    }
    url_ = url;
    readOnly_ = readOnly;
    postgres_ = isPostgresUrl(url);
    std::unique_ptr<SqlDatabase> first;
    if (postgres_) {
        auto db = std::make_unique<PostgresDatabase>();
        if (!db->open(url, error)) return false;
        first = std::move(db);
        poolLimit_ = 8;
    } else {
        std::string path = url.rfind("sqlite:", 0) == 0 ? url.substr(7) : url;
        auto db = std::make_unique<SqliteDatabase>();
        if (!db->open(path, readOnly, error)) return false;
        first = std::move(db);
        poolLimit_ = 1;
    }
    std::vector<Row> rows;
    std::string ignored;
    const bool hasMeta =
        first->run("SELECT value FROM collector_meta WHERE name = 'schema'", {}, &rows, ignored);
    const std::string layout = hasMeta && !rows.empty() ? rows[0].text(0) : std::string();
    const bool previous = layout == kPreviousSchemaVersion;
    // A reader of the previous layout (the report) finds every table it reads.
    if (!layout.empty() && layout != kSchemaVersion && !previous) {
        error = "the index at " + url + " has layout " + layout + ", this collector reads " +
                kSchemaVersion;
        return false;
    }
    if (!hasMeta && !readOnly) {
        // An index written before the layout was recorded has tables of another shape.
        std::vector<Row> old;
        if (first->run("SELECT 1 FROM installations LIMIT 1", {}, &old, ignored)) {
            error = "the index at " + url +
                    " was written by an earlier collector; start with an empty data folder";
            return false;
        }
    }
    if (!readOnly) {
        std::string schema = kSchema;
        schema.replace(schema.find("{serial}"), 8, first->serialKey());
        if (previous) {
            // One transaction: the index is either of the previous layout or of this one.
            std::string ignored;
            if (!first->run(first->beginWrite(), {}, nullptr, error)) return false;
            if (!first->script(kUpgradeFromPrevious, error) || !first->script(schema, error) ||
                !first->run("UPDATE collector_meta SET value = $1 WHERE name = 'schema'",
                            {std::string(kSchemaVersion)}, nullptr, error) ||
                !first->run("INSERT INTO collector_meta (name, value) VALUES "
                            "('session_details', 'pending') ON CONFLICT (name) DO UPDATE SET "
                            "value = excluded.value",
                            {}, nullptr, error) ||
                !first->run("COMMIT", {}, nullptr, error)) {
                first->run("ROLLBACK", {}, nullptr, ignored);
                error = "cannot bring the index at " + url + " to layout " + kSchemaVersion + ": " +
                        error;
                return false;
            }
        }
        if (!first->script(schema, error)) return false;
        if (!first->run("INSERT INTO collector_meta (name, value) VALUES ('schema', $1) "
                        "ON CONFLICT (name) DO NOTHING",
                        {std::string(kSchemaVersion)}, nullptr, error)) {
            return false;
        }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    idle_.push_back(std::move(first));
    created_ = 1;
    open_ = true;
    return true;
}

void CollectorIndex::close() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!open_) return;
    open_ = false;
    // Connections out on lease come back before they are closed.
    returned_.wait(lock, [this] { return idle_.size() == created_; });
    idle_.clear();
    created_ = 0;
}

bool CollectorIndex::registerApplication(const ApplicationRecord& app, std::string& error) {
    Lease db = lease();
    if (!db) {
        error = "index is not open";
        return false;
    }
    return db->run(
        "INSERT INTO applications (app_key, name, folder) VALUES ($1, $2, $3) "
        "ON CONFLICT (app_key) DO UPDATE SET name = excluded.name",
        {text(app.key), text(app.name), text(app.folder)}, nullptr, error);
}

CollectorIndex::Verified CollectorIndex::recordVerification(
    const VerificationFields& fields, const std::function<std::string()>& newId,
    uint64_t maxInstallations) {
    Verified result;
    Lease db = lease();
    if (!db) {
        result.note = "index is not open";
        return result;
    }
    const std::string now = CollectorNames::utcNow();
    std::vector<Row> rows;
    std::string error;
    if (!db->run("SELECT app_device_id, verifications, max_run FROM installations "
                 "WHERE app_key = $1 AND device_id = $2",
                 {text(fields.appKey), text(fields.deviceId)}, &rows, error)) {
        result.note = error;
        return result;
    }
    if (!rows.empty()) {
        result.outcome = Verified::Outcome::Known;
        result.appDeviceId = rows[0].text(0);
        result.latestRun = std::max(rows[0].integer(1), rows[0].integer(2));
        // The refresh may fail (a full disk): a known device is answered all the same.
        if (!db->run("UPDATE installations SET device_os = $2, device_type = $3, platform = $4, "
                     "app_name = $5, last_seen = $6, verifications = verifications + 1 "
                     "WHERE app_device_id = $1",
                     {text(result.appDeviceId), text(fields.deviceOs), text(fields.deviceType),
                      text(fields.platform), text(fields.appName), now},
                     nullptr, error)) {
            result.refreshed = false;
            result.note = error;
        }
        return result;
    }
    if (maxInstallations > 0) {
        rows.clear();
        if (!db->run("SELECT COUNT(*) FROM installations WHERE app_key = $1", {text(fields.appKey)},
                     &rows, error)) {
            result.note = error;
            return result;
        }
        if (!rows.empty() && static_cast<uint64_t>(rows[0].integer(0)) >= maxInstallations) {
            result.outcome = Verified::Outcome::OverQuota;
            return result;
        }
    }
    // A concurrent first verification of the same device (another collector on the same
    // database) wins the insert; this one then answers with its identifier.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const std::string id = newId();
        rows.clear();
        if (!db->run("INSERT INTO installations (app_device_id, app_key, device_id, device_os, "
                     "device_type, platform, app_name, first_seen, last_seen, verifications) "
                     "VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $8, 1) ON CONFLICT DO NOTHING "
                     "RETURNING app_device_id",
                     {text(id), text(fields.appKey), text(fields.deviceId), text(fields.deviceOs),
                      text(fields.deviceType), text(fields.platform), text(fields.appName), now},
                     &rows, error)) {
            result.note = error;
            return result;
        }
        if (!rows.empty()) {
            result.outcome = Verified::Outcome::Created;
            result.appDeviceId = id;
            return result;
        }
        rows.clear();
        if (db->run("SELECT app_device_id, verifications FROM installations "
                    "WHERE app_key = $1 AND device_id = $2",
                    {text(fields.appKey), text(fields.deviceId)}, &rows, error) &&
            !rows.empty()) {
            result.outcome = Verified::Outcome::Known;
            result.appDeviceId = rows[0].text(0);
            result.latestRun = rows[0].integer(1);
            return result;
        }
    }
    result.note = "no identifier could be issued";
    return result;
}

std::optional<InstallationRecord> CollectorIndex::installation(const std::string& appDeviceId) {
    Lease db = lease();
    if (!db) return std::nullopt;
    std::vector<Row> rows;
    std::string error;
    if (!db->run(std::string(kInstallationColumns) + " WHERE app_device_id = $1",
                 {text(appDeviceId)}, &rows, error) ||
        rows.empty()) {
        return std::nullopt;
    }
    return installationOf(rows[0]);
}

std::optional<ApplicationRecord> CollectorIndex::application(const std::string& key) {
    Lease db = lease();
    if (!db) return std::nullopt;
    std::vector<Row> rows;
    std::string error;
    if (!db->run("SELECT app_key, name, folder, bytes FROM applications WHERE app_key = $1",
                 {text(key)}, &rows, error) ||
        rows.empty()) {
        return std::nullopt;
    }
    return ApplicationRecord{rows[0].text(0), rows[0].text(1), rows[0].text(2), rows[0].integer(3)};
}

CollectorIndex::Commit CollectorIndex::commitUpload(
    UploadRecord& record, const std::optional<SessionRecord>& session, const StorageQuota& quota,
    const std::function<bool(std::string& error)>& placeFile, std::string& error) {
    Lease db = lease();
    if (!db) {
        error = "index is not open";
        return Commit::Failed;
    }
    auto failed = [&] {
        std::string ignored;
        db->run("ROLLBACK", {}, nullptr, ignored);
        return db->lastFailureWasDiskFull() ? Commit::DiskFull : Commit::Failed;
    };
    if (!db->run(db->beginWrite(), {}, nullptr, error)) return Commit::Failed;
    const std::vector<Param> key = {text(record.appDeviceId), text(record.kind),
                                    text(record.fileName)};
    auto duplicate = [&]() -> std::optional<Commit> {
        std::vector<Row> rows;
        if (!db->run("UPDATE uploads SET duplicates = duplicates + 1 WHERE app_device_id = $1 "
                     "AND kind = $2 AND file_name = $3 RETURNING id",
                     key, &rows, error)) {
            return failed();
        }
        if (rows.empty()) return std::nullopt;
        record.id = rows[0].integer(0);
        if (!db->run("COMMIT", {}, nullptr, error)) return failed();
        return Commit::Duplicate;
    };
    if (auto known = duplicate()) return *known;

    const int64_t size = static_cast<int64_t>(record.size);
    std::vector<Row> rows;
    if (!db->run("UPDATE installations SET bytes = bytes + $2 WHERE app_device_id = $1 AND "
                 "(CAST($3 AS BIGINT) = 0 OR bytes + $2 <= CAST($3 AS BIGINT)) RETURNING bytes",
                 {text(record.appDeviceId), size, static_cast<int64_t>(quota.installationBytes)},
                 &rows, error)) {
        return failed();
    }
    bool over = rows.empty();
    rows.clear();
    if (!over && !db->run("UPDATE applications SET bytes = bytes + $2 WHERE app_key = $1 AND "
                          "(CAST($3 AS BIGINT) = 0 OR bytes + $2 <= CAST($3 AS BIGINT)) "
                          "RETURNING bytes",
                          {text(record.appKey), size, static_cast<int64_t>(quota.applicationBytes)},
                          &rows, error)) {
        return failed();
    }
    if (over || rows.empty()) {
        std::string ignored;
        db->run("ROLLBACK", {}, nullptr, ignored);
        return Commit::OverQuota;
    }
    rows.clear();
    if (!db->run("INSERT INTO uploads (app_device_id, app_key, kind, file_name, path, size, "
                 "fields, received_at, received_unix) VALUES ($1, $2, $3, $4, $5, $6, $7, $8, "
                 "$9) ON CONFLICT DO NOTHING RETURNING id",
                 {text(record.appDeviceId), text(record.appKey), text(record.kind),
                  text(record.fileName), text(record.path), size,
                  record.fields.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
                  record.receivedAt, record.receivedUnix},
                 &rows, error)) {
        return failed();
    }
    if (rows.empty()) {
        // Another collector stored the same file meanwhile: counted as a repeat.
        std::string ignored;
        db->run("ROLLBACK", {}, nullptr, ignored);
        if (!db->run(db->beginWrite(), {}, nullptr, error)) return Commit::Failed;
        if (auto known = duplicate()) return *known;
        return failed();
    }
    record.id = rows[0].integer(0);
    if (session && !SessionRows::insert(*db, record.id, *session, error)) return failed();
    // A document may claim movies and tiles stored before it; a movie or tile finds its session.
    if (!SessionRows::place(*db, record.appDeviceId,
                            session ? std::nullopt : std::optional<int64_t>(record.id), error)) {
        return failed();
    }
    // The file is in place and on disk before the row that names it can be seen.
    if (!placeFile(error)) {
        std::string ignored;
        db->run("ROLLBACK", {}, nullptr, ignored);
        return Commit::Failed;
    }
    if (!db->run("COMMIT", {}, nullptr, error)) return failed();
    return Commit::Stored;
}

bool CollectorIndex::noteRun(const std::string& appDeviceId, int64_t run) {
    Lease db = lease();
    if (!db) return false;
    std::vector<Row> rows;
    std::string error;
    return db->run(
               "UPDATE installations SET max_run = $2 WHERE app_device_id = $1 AND "
               "max_run < $2 AND $2 <= verifications RETURNING max_run",
               {text(appDeviceId), run}, &rows, error) &&
           !rows.empty();
}

std::vector<ApplicationRecord> CollectorIndex::applications() {
    std::vector<ApplicationRecord> out;
    Lease db = lease();
    if (!db) return out;
    std::vector<Row> rows;
    std::string error;
    db->run("SELECT app_key, name, folder, bytes FROM applications ORDER BY name, app_key", {},
            &rows, error);
    for (const Row& row : rows)
        out.push_back({row.text(0), row.text(1), row.text(2), row.integer(3)});
    return out;
}

std::vector<InstallationRecord> CollectorIndex::installations() {
    std::vector<InstallationRecord> out;
    Lease db = lease();
    if (!db) return out;
    std::vector<Row> rows;
    std::string error;
    db->run(std::string(kInstallationColumns) + " ORDER BY first_seen, app_device_id", {}, &rows,
            error);
    for (const Row& row : rows)
        out.push_back(installationOf(row));
    return out;
}

std::vector<UploadRecord> CollectorIndex::selectUploads(SqlDatabase& db, const std::string& where,
                                                        const std::vector<Param>& params) {
    std::vector<UploadRecord> out;
    std::vector<Row> rows;
    std::string error;
    db.run(std::string(kUploadColumns) + where, params, &rows, error);
    for (const Row& row : rows)
        out.push_back(uploadRow(row));
    return out;
}

std::vector<UploadRecord> CollectorIndex::uploads() {
    Lease db = lease();
    if (!db) return {};
    return selectUploads(*db, " ORDER BY id", {});
}

std::vector<UploadRecord> CollectorIndex::uploadsOf(const std::string& appDeviceId) {
    Lease db = lease();
    if (!db) return {};
    return selectUploads(*db, " WHERE app_device_id = $1 ORDER BY id", {text(appDeviceId)});
}

std::vector<SessionRecord> CollectorIndex::sessions(const SessionQuery& query) {
    std::vector<SessionRecord> out;
    Lease db = lease();
    if (!db) return out;
    std::string sql =
        "SELECT s.upload_id, s.app_key, s.app_device_id, s.run, s.started_unix, s.duration, "
        "s.screens, s.gestures, s.crash, s.favourite, s.user_name, u.received_at, s.version "
        "FROM sessions s JOIN uploads u ON u.id = s.upload_id WHERE 1 = 1";
    std::vector<Param> params;
    auto where = [&](const std::string& condition, Param value) {
        params.push_back(std::move(value));
        std::string clause = condition;
        clause.replace(clause.find('?'), 1, "$" + std::to_string(params.size()));
        sql += " AND " + clause;
    };
    if (!query.appKey.empty()) where("s.app_key = ?", text(query.appKey));
    if (!query.appDeviceId.empty()) where("s.app_device_id = ?", text(query.appDeviceId));
    if (!query.userName.empty()) where("s.user_name = ?", text(query.userName));
    if (query.startedFrom) where("s.started_unix >= ?", *query.startedFrom);
    if (query.startedBefore) where("s.started_unix < ?", *query.startedBefore);
    if (query.crash) where("s.crash = ?", int64_t(*query.crash ? 1 : 0));
    if (!query.tag.empty()) {
        where("EXISTS (SELECT 1 FROM session_tags t WHERE t.upload_id = s.upload_id AND t.tag = ?)",
              text(query.tag));
    }
    params.push_back(std::clamp<int64_t>(query.limit, 0, 10000));
    params.push_back(std::max<int64_t>(query.offset, 0));
    sql += " ORDER BY s.started_unix, s.upload_id LIMIT $" + std::to_string(params.size() - 1) +
           " OFFSET $" + std::to_string(params.size());
    std::vector<Row> rows;
    std::string error;
    if (!db->run(sql, params, &rows, error)) return out;
    for (const Row& row : rows) {
        SessionRecord s;
        s.uploadId = row.integer(0);
        s.appKey = row.text(1);
        s.appDeviceId = row.text(2);
        s.run = row.integer(3);
        s.startedUnix = row.integer(4);
        s.duration = row.integer(5);
        s.screens = row.integer(6);
        s.gestures = row.integer(7);
        s.crash = row.integer(8) != 0;
        s.favourite = row.integer(9) != 0;
        s.userName = row.text(10);
        s.receivedAt = row.text(11);
        s.version = row.text(12);
        std::vector<Row> tags;
        db->run("SELECT tag FROM session_tags WHERE upload_id = $1 ORDER BY tag", {s.uploadId},
                &tags, error);
        for (const Row& tag : tags)
            s.tags.push_back(tag.text(0));
        out.push_back(std::move(s));
    }
    return out;
}

const char* CollectorIndex::uploadColumns() {
    return kUploadColumns;
}

UploadRecord CollectorIndex::uploadOf(const Row& row) {
    return uploadRow(row);
}

bool CollectorIndex::use(const std::function<bool(SqlDatabase&)>& work) {
    Lease db = lease();
    return db && work(*db);
}

bool CollectorIndex::sessionDetailsPending() {
    Lease db = lease();
    if (!db) return false;
    std::vector<Row> rows;
    std::string error;
    return db->run("SELECT value FROM collector_meta WHERE name = 'session_details'", {}, &rows,
                   error) &&
           !rows.empty() && rows[0].text(0) == "pending";
}

bool CollectorIndex::addSessionDetails(const std::vector<std::pair<int64_t, SessionRecord>>& found,
                                       std::string& error) {
    Lease db = lease();
    if (!db) {
        error = "index is not open";
        return false;
    }
    std::string ignored;
    if (!db->run(db->beginWrite(), {}, nullptr, error)) return false;
    for (const auto& [id, session] : found) {
        std::vector<Row> done;
        // Details written by a run that stopped half way are not written twice.
        if (!db->run("SELECT 1 FROM session_screens WHERE upload_id = $1 UNION ALL "
                     "SELECT 1 FROM session_points WHERE upload_id = $1",
                     {id}, &done, error) ||
            (done.empty() && !SessionRows::insertDetails(*db, id, session, error))) {
            db->run("ROLLBACK", {}, nullptr, ignored);
            return false;
        }
    }
    if (!db->run("COMMIT", {}, nullptr, error)) {
        db->run("ROLLBACK", {}, nullptr, ignored);
        return false;
    }
    return true;
}

bool CollectorIndex::finishSessionDetails(std::string& error) {
    Lease db = lease();
    if (!db) {
        error = "index is not open";
        return false;
    }
    std::vector<Row> rows;
    if (!db->run("SELECT app_device_id FROM installations", {}, &rows, error)) return false;
    for (const Row& row : rows) {
        if (!SessionRows::place(*db, row.text(0), std::nullopt, error)) return false;
    }
    return db->run("DELETE FROM collector_meta WHERE name = 'session_details'", {}, nullptr, error);
}

bool CollectorIndex::removeRows(SqlDatabase& db, const std::vector<UploadRecord>& rows,
                                std::string& error) {
    if (rows.empty()) return true;
    std::map<std::string, int64_t> byInstallation, byApplication;
    for (const UploadRecord& row : rows) {
        byInstallation[row.appDeviceId] += static_cast<int64_t>(row.size);
        byApplication[row.appKey] += static_cast<int64_t>(row.size);
    }
    // In pieces, so no statement carries too many parameters.
    for (size_t at = 0; at < rows.size(); at += 500) {
        std::vector<Param> ids;
        for (size_t i = at; i < std::min(rows.size(), at + 500); ++i)
            ids.push_back(rows[i].id);
        const std::string list = "(" + placeholders(1, ids.size()) + ")";
        if (!db.run("DELETE FROM uploads WHERE id IN " + list, ids, nullptr, error)) return false;
    }
    // Sessions whose documents go, and what they added to the heat maps.
    std::vector<int64_t> documents;
    std::set<std::string> installations;
    for (const UploadRecord& row : rows) {
        if (row.kind == "data") {
            documents.push_back(row.id);
            installations.insert(row.appDeviceId);
        }
    }
    if (!SessionRows::remove(db, documents, error)) return false;
    // Movies and tiles of a removed session may belong to another one now.
    for (const std::string& installation : installations) {
        if (!SessionRows::place(db, installation, std::nullopt, error)) return false;
    }
    for (const auto& [id, bytes] : byInstallation) {
        if (!db.run("UPDATE installations SET bytes = bytes - $2 WHERE app_device_id = $1",
                    {text(id), bytes}, nullptr, error)) {
            return false;
        }
    }
    for (const auto& [key, bytes] : byApplication) {
        if (!db.run("UPDATE applications SET bytes = bytes - $2 WHERE app_key = $1",
                    {text(key), bytes}, nullptr, error)) {
            return false;
        }
    }
    return true;
}

std::optional<std::vector<UploadRecord>> CollectorIndex::removeInstallation(
    const std::string& appDeviceId, std::string& error) {
    Lease db = lease();
    if (!db || !db->run(db->beginWrite(), {}, nullptr, error)) return std::nullopt;
    std::vector<UploadRecord> rows =
        selectUploads(*db, " WHERE app_device_id = $1 ORDER BY id", {text(appDeviceId)});
    std::vector<Row> removed;
    if (!removeRows(*db, rows, error) ||
        !db->run("DELETE FROM installations WHERE app_device_id = $1 RETURNING app_device_id",
                 {text(appDeviceId)}, &removed, error) ||
        !db->run("COMMIT", {}, nullptr, error)) {
        std::string ignored;
        db->run("ROLLBACK", {}, nullptr, ignored);
        return std::nullopt;
    }
    if (removed.empty()) {
        error = "no installation " + appDeviceId;
        return std::nullopt;
    }
    return rows;
}

std::optional<std::vector<UploadRecord>> CollectorIndex::removeUploads(
    const std::vector<int64_t>& ids, std::string& error) {
    Lease db = lease();
    if (!db || !db->run(db->beginWrite(), {}, nullptr, error)) return std::nullopt;
    std::vector<UploadRecord> rows;
    // In pieces, so no statement carries too many parameters.
    for (size_t at = 0; at < ids.size(); at += 500) {
        std::vector<Param> piece;
        for (size_t i = at; i < std::min(ids.size(), at + 500); ++i)
            piece.push_back(ids[i]);
        auto found =
            selectUploads(*db, " WHERE id IN (" + placeholders(1, piece.size()) + ")", piece);
        rows.insert(rows.end(), found.begin(), found.end());
    }
    if (!removeRows(*db, rows, error) || !db->run("COMMIT", {}, nullptr, error)) {
        std::string ignored;
        db->run("ROLLBACK", {}, nullptr, ignored);
        return std::nullopt;
    }
    return rows;
}

std::optional<std::vector<UploadRecord>> CollectorIndex::removeReceivedBefore(
    const std::string& appKey, int64_t cutoffUnix, int64_t limit, std::string& error) {
    Lease db = lease();
    if (!db || !db->run(db->beginWrite(), {}, nullptr, error)) return std::nullopt;
    std::vector<UploadRecord> rows =
        selectUploads(*db, " WHERE app_key = $1 AND received_unix < $2 ORDER BY id LIMIT $3",
                      {text(appKey), cutoffUnix, limit});
    if (!removeRows(*db, rows, error) || !db->run("COMMIT", {}, nullptr, error)) {
        std::string ignored;
        db->run("ROLLBACK", {}, nullptr, ignored);
        return std::nullopt;
    }
    return rows;
}

}  // namespace rivlo::collector
