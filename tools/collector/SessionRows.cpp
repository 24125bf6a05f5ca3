#include "SessionRows.h"

#include <algorithm>
#include <map>
#include <set>
#include <tuple>

#include "CollectorNames.h"
#include "CollectorSessions.h"

namespace rivlo::collector {

using Param = SqlDatabase::Param;
using Row = SqlDatabase::Row;

namespace {

Param text(const std::string& value) {
    return CollectorNames::storable(value);
}

// Rows inserted a few hundred at a time: one statement each, within every engine's limit on
// parameters.
bool insertRows(SqlDatabase& db, const std::string& head, size_t columns,
                const std::vector<std::vector<Param>>& rows, const std::string& tail,
                std::string& error) {
    constexpr size_t kRowsPerStatement = 200;
    for (size_t at = 0; at < rows.size(); at += kRowsPerStatement) {
        std::string sql = head + " VALUES ";
        std::vector<Param> params;
        const size_t end = std::min(rows.size(), at + kRowsPerStatement);
        for (size_t r = at; r < end; ++r) {
            sql += r == at ? "(" : ", (";
            for (size_t c = 0; c < columns; ++c) {
                params.push_back(rows[r][c]);
                sql += (c ? ", $" : "$") + std::to_string(params.size());
            }
            sql += ")";
        }
        if (!db.run(sql + tail, params, nullptr, error)) return false;
    }
    return true;
}

std::string idList(size_t count) {
    std::string out = "(";
    for (size_t i = 0; i < count; ++i)
        out += (i ? ", $" : "$") + std::to_string(i + 1);
    return out + ")";
}

}  // namespace

int64_t SessionRows::dayOf(int64_t unixSeconds) {
    return unixSeconds >= 0 ? unixSeconds / 86400 : -((-unixSeconds + 86399) / 86400);
}

bool SessionRows::insert(SqlDatabase& db, int64_t uploadId, const SessionRecord& session,
                         std::string& error) {
    if (!db.run("INSERT INTO sessions (upload_id, app_key, app_device_id, run, started_unix, "
                "duration, screens, gestures, crash, favourite, user_name) "
                "VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11)",
                {uploadId, text(session.appKey), text(session.appDeviceId), session.run,
                 session.startedUnix, session.duration, session.screens, session.gestures,
                 int64_t(session.crash ? 1 : 0), int64_t(session.favourite ? 1 : 0),
                 text(session.userName)},
                nullptr, error)) {
        return false;
    }
    std::vector<std::vector<Param>> tags;
    for (const std::string& tag : session.tags)
        tags.push_back({uploadId, text(tag)});
    return insertRows(db, "INSERT INTO session_tags (upload_id, tag)", 2, tags, "", error) &&
           insertDetails(db, uploadId, session, error);
}

bool SessionRows::insertDetails(SqlDatabase& db, int64_t uploadId, const SessionRecord& session,
                                std::string& error) {
    if (!db.run("UPDATE sessions SET version = $2 WHERE upload_id = $1",
                {uploadId, text(session.version)}, nullptr, error)) {
        return false;
    }
    std::vector<std::vector<Param>> screens;
    std::set<std::string> seen;
    for (const SessionScreen& s : session.visited) {
        // Names that differ only in malformed bytes become one stored name.
        if (!seen.insert(CollectorNames::storable(s.name)).second) continue;
        screens.push_back({uploadId, text(session.appKey), text(s.name), text(session.version),
                           session.startedUnix, int64_t(screens.size()), s.appearedAt,
                           s.firstGestureAt, int64_t(s.web ? 1 : 0)});
    }
    if (!insertRows(db,
                    "INSERT INTO session_screens (upload_id, app_key, screen, version, "
                    "started_unix, position, appeared_at, first_gesture_at, web)",
                    9, screens, "", error)) {
        return false;
    }
    // Summed again by the stored screen name, as the heat-map sums key them.
    std::map<std::tuple<std::string, int, int64_t, int64_t>, int64_t> points;
    for (const SessionPoint& p : session.points)
        points[{CollectorNames::storable(p.screen), p.kind, p.x, p.y}] += p.count;
    std::vector<std::vector<Param>> own, sums;
    const int64_t day = dayOf(session.startedUnix);
    for (const auto& [key, count] : points) {
        const auto& [screen, kind, x, y] = key;
        own.push_back({uploadId, screen, int64_t(kind), x, y, count});
        sums.push_back(
            {text(session.appKey), screen, text(session.version), day, int64_t(kind), x, y, count});
    }
    return insertRows(db, "INSERT INTO session_points (upload_id, screen, kind, x, y, count)", 6,
                      own, "", error) &&
           insertRows(db,
                      "INSERT INTO heat_points (app_key, screen, version, day, kind, x, y, count)",
                      8, sums,
                      " ON CONFLICT (app_key, screen, day, version, kind, x, y) DO UPDATE SET "
                      "count = heat_points.count + excluded.count",
                      error) &&
           touchApplication(db, session.appKey, error);
}

bool SessionRows::touchApplication(SqlDatabase& db, const std::string& appKey, std::string& error) {
    return db.run("UPDATE applications SET generation = generation + 1 WHERE app_key = $1",
                  {text(appKey)}, nullptr, error);
}

bool SessionRows::remove(SqlDatabase& db, const std::vector<int64_t>& uploadIds,
                         std::string& error) {
    constexpr size_t kIdsPerStatement = 500;
    for (size_t at = 0; at < uploadIds.size(); at += kIdsPerStatement) {
        std::vector<Param> ids;
        for (size_t i = at; i < std::min(uploadIds.size(), at + kIdsPerStatement); ++i)
            ids.push_back(uploadIds[i]);
        const std::string list = idList(ids.size());
        std::vector<Row> rows;
        if (!db.run("SELECT s.app_key, s.version, s.started_unix, p.screen, p.kind, p.x, p.y, "
                    "p.count FROM session_points p JOIN sessions s ON s.upload_id = p.upload_id "
                    "WHERE p.upload_id IN " +
                        list,
                    ids, &rows, error)) {
            return false;
        }
        // What these sessions added to the sums comes off again, summed per row of the sums.
        std::map<
            std::tuple<std::string, std::string, std::string, int64_t, int64_t, int64_t, int64_t>,
            int64_t>
            taken;
        std::set<std::string> apps;
        for (const Row& row : rows) {
            taken[{row.text(0), row.text(3), row.text(1), dayOf(row.integer(2)), row.integer(4),
                   row.integer(5), row.integer(6)}] += row.integer(7);
        }
        for (const auto& [key, count] : taken) {
            const auto& [app, screen, version, day, kind, x, y] = key;
            apps.insert(app);
            if (!db.run("UPDATE heat_points SET count = count - $8 WHERE app_key = $1 AND "
                        "screen = $2 AND version = $3 AND day = $4 AND kind = $5 AND x = $6 AND "
                        "y = $7",
                        {app, screen, version, day, kind, x, y, count}, nullptr, error)) {
                return false;
            }
        }
        rows.clear();
        if (!db.run("SELECT DISTINCT app_key FROM sessions WHERE upload_id IN " + list, ids, &rows,
                    error)) {
            return false;
        }
        for (const Row& row : rows)
            apps.insert(row.text(0));
        for (const std::string& app : apps) {
            if (!db.run("DELETE FROM heat_points WHERE app_key = $1 AND count <= 0", {app}, nullptr,
                        error) ||
                !touchApplication(db, app, error)) {
                return false;
            }
        }
        if (!db.run("DELETE FROM session_points WHERE upload_id IN " + list, ids, nullptr, error) ||
            !db.run("DELETE FROM session_screens WHERE upload_id IN " + list, ids, nullptr,
                    error) ||
            !db.run("DELETE FROM session_tags WHERE upload_id IN " + list, ids, nullptr, error) ||
            !db.run("DELETE FROM sessions WHERE upload_id IN " + list, ids, nullptr, error) ||
            !db.run("UPDATE uploads SET session_id = 0 WHERE session_id IN " + list, ids, nullptr,
                    error)) {
            return false;
        }
    }
    return true;
}

bool SessionRows::place(SqlDatabase& db, const std::string& appDeviceId,
                        std::optional<int64_t> upload, std::string& error) {
    std::vector<Row> rows;
    if (!db.run("SELECT u.id, u.file_name, s.duration FROM uploads u JOIN sessions s ON "
                "s.upload_id = u.id WHERE u.app_device_id = $1 ORDER BY u.id",
                {text(appDeviceId)}, &rows, error)) {
        return false;
    }
    std::vector<CollectorSessions::PlacedDocument> documents;
    for (const Row& row : rows) {
        CollectorSessions::PlacedDocument d;
        d.id = row.integer(0);
        d.length = std::max<int64_t>(0, row.integer(2));
        if (auto stamp = CollectorSessions::stampOf(row.text(1))) {
            d.hasStamp = true;
            d.stamp = *stamp;
        }
        documents.push_back(d);
    }
    // In the order the report groups them: by stamp, the first stored first on a tie.
    std::stable_sort(documents.begin(), documents.end(),
                     [](const auto& a, const auto& b) { return a.stamp < b.stamp; });
    rows.clear();
    std::string sql =
        "SELECT id, kind, file_name, session_id FROM uploads WHERE app_device_id = $1 AND "
        "kind <> 'data'";
    std::vector<Param> params{text(appDeviceId)};
    if (upload) {
        sql += " AND id = $2";
        params.push_back(*upload);
    }
    if (!db.run(sql, params, &rows, error)) return false;
    for (const Row& row : rows) {
        const auto owner = CollectorSessions::ownerOf(row.text(1), row.text(2), documents);
        const int64_t session = owner ? documents[*owner].id : 0;
        if (session == row.integer(3)) continue;
        if (!db.run("UPDATE uploads SET session_id = $2 WHERE id = $1", {row.integer(0), session},
                    nullptr, error)) {
            return false;
        }
    }
    return true;
}

}  // namespace rivlo::collector
