#include "ConsoleQueries.h"

#include <algorithm>
#include <map>

#include "CollectorNames.h"

namespace rivlo::collector {

using Param = SqlDatabase::Param;
using Row = SqlDatabase::Row;

namespace {

// A statement built a condition at a time, each with its parameter numbered in order.
struct Statement {
    std::string sql;
    std::vector<Param> params;

    std::string next(Param value) {
        params.push_back(std::move(value));
        return "$" + std::to_string(params.size());
    }
};

std::string idList(const std::vector<SessionRecord*>& rows, Statement& statement) {
    std::string out = "(";
    for (size_t i = 0; i < rows.size(); ++i)
        out += (i ? ", " : "") + statement.next(rows[i]->uploadId);
    return out + ")";
}

const char* const kSessionColumns =
    "s.upload_id, s.app_key, s.app_device_id, s.run, s.started_unix, s.duration, s.screens, "
    "s.gestures, s.crash, s.favourite, s.user_name, s.version, "
    "CASE WHEN EXISTS (SELECT 1 FROM uploads m WHERE m.session_id = s.upload_id AND "
    "m.kind = 'screen') THEN 1 ELSE 0 END";

ConsoleQueries::SessionRow sessionRowOf(const Row& row) {
    ConsoleQueries::SessionRow out;
    SessionRecord& s = out.session;
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
    s.version = row.text(11);
    out.movie = row.integer(12) != 0;
    return out;
}

// The screens and tags of a page of sessions, two statements for the page.
bool addLists(SqlDatabase& db, std::vector<ConsoleQueries::SessionRow>& rows, std::string& error) {
    if (rows.empty()) return true;
    std::map<int64_t, ConsoleQueries::SessionRow*> byId;
    std::vector<SessionRecord*> records;
    for (auto& row : rows) {
        byId[row.session.uploadId] = &row;
        records.push_back(&row.session);
    }
    Statement screens;
    const std::string list = idList(records, screens);
    std::vector<Row> found;
    if (!db.run("SELECT upload_id, screen FROM session_screens WHERE upload_id IN " + list +
                    " ORDER BY upload_id, position",
                screens.params, &found, error)) {
        return false;
    }
    for (const Row& r : found)
        byId[r.integer(0)]->screens.push_back(r.text(1));
    found.clear();
    if (!db.run("SELECT upload_id, tag FROM session_tags WHERE upload_id IN " + list +
                    " ORDER BY upload_id, tag",
                screens.params, &found, error)) {
        return false;
    }
    for (const Row& r : found)
        byId[r.integer(0)]->session.tags.push_back(r.text(1));
    return true;
}

}  // namespace

std::vector<ConsoleQueries::App> ConsoleQueries::apps() {
    std::vector<App> out;
    std::vector<Row> rows;
    std::string error;
    index_.use([&](SqlDatabase& db) {
        return db.run(
            "SELECT a.app_key, a.name, a.folder, (SELECT COUNT(*) FROM sessions s "
            "WHERE s.app_key = a.app_key) FROM applications a ORDER BY a.name, a.folder",
            {}, &rows, error);
    });
    for (const Row& row : rows)
        out.push_back({row.text(0), row.text(1), row.text(2), row.integer(3)});
    return out;
}

std::optional<ConsoleQueries::App> ConsoleQueries::appByFolder(const std::string& folder) {
    std::vector<Row> rows;
    std::string error;
    index_.use([&](SqlDatabase& db) {
        return db.run("SELECT app_key, name, folder FROM applications WHERE folder = $1",
                      {CollectorNames::storable(folder)}, &rows, error);
    });
    if (rows.empty()) return std::nullopt;
    return App{rows[0].text(0), rows[0].text(1), rows[0].text(2), 0};
}

bool ConsoleQueries::sessions(const SessionFilter& filter, SessionPage& page, std::string& error) {
    // With a screen the sessions are found through the screens they visited, in the order of
    // that index; otherwise through the application's sessions in order of start.
    Statement where;
    std::string from;
    std::string order;
    if (!filter.screen.empty()) {
        from =
            " FROM session_screens ss JOIN sessions s ON s.upload_id = ss.upload_id WHERE "
            "ss.app_key = " +
            where.next(CollectorNames::storable(filter.appKey)) +
            " AND ss.screen = " + where.next(CollectorNames::storable(filter.screen));
        order = "ss.started_unix DESC, ss.upload_id DESC";
    } else {
        from = " FROM sessions s WHERE s.app_key = " +
               where.next(CollectorNames::storable(filter.appKey));
        order = "s.started_unix DESC, s.upload_id DESC";
    }
    const std::string started = filter.screen.empty() ? "s.started_unix" : "ss.started_unix";
    if (filter.from) from += " AND " + started + " >= " + where.next(*filter.from);
    if (filter.to) from += " AND " + started + " < " + where.next(*filter.to);
    if (filter.crashed) from += " AND s.crash = " + where.next(int64_t(*filter.crashed ? 1 : 0));
    if (filter.minDuration > 0) from += " AND s.duration >= " + where.next(filter.minDuration);
    if (!filter.tag.empty()) {
        from +=
            " AND EXISTS (SELECT 1 FROM session_tags t WHERE t.upload_id = s.upload_id AND "
            "t.tag = " +
            where.next(CollectorNames::storable(filter.tag)) + ")";
    }
    Statement list = where;
    std::string sql = std::string("SELECT ") + kSessionColumns + from;
    if (filter.after) {
        const std::string id = filter.screen.empty() ? "s.upload_id" : "ss.upload_id";
        const std::string at = list.next(filter.after->started);
        sql += " AND (" + started + " < " + at + " OR (" + started + " = " + at + " AND " + id +
               " < " + list.next(filter.after->id) + "))";
    }
    const int64_t limit = std::clamp<int64_t>(filter.limit, 1, 500);
    // One more than the page, to know whether another page follows.
    sql += " ORDER BY " + order + " LIMIT " + list.next(limit + 1);
    return index_.use([&](SqlDatabase& db) {
        std::vector<Row> rows;
        if (!db.run(sql, list.params, &rows, error)) return false;
        for (const Row& row : rows)
            page.rows.push_back(sessionRowOf(row));
        if (static_cast<int64_t>(page.rows.size()) > limit) {
            page.rows.resize(static_cast<size_t>(limit));
            page.next =
                Cursor{page.rows.back().session.startedUnix, page.rows.back().session.uploadId};
        }
        rows.clear();
        if (!db.run("SELECT COUNT(*)" + from, where.params, &rows, error) || rows.empty())
            return false;
        page.total = rows[0].integer(0);
        return addLists(db, page.rows, error);
    });
}

std::optional<ConsoleQueries::SessionRow> ConsoleQueries::session(int64_t documentId) {
    std::vector<SessionRow> rows;
    std::string error;
    const bool ok = index_.use([&](SqlDatabase& db) {
        std::vector<Row> found;
        if (!db.run(std::string("SELECT ") + kSessionColumns +
                        " FROM sessions s WHERE s.upload_id = $1",
                    {documentId}, &found, error)) {
            return false;
        }
        for (const Row& row : found)
            rows.push_back(sessionRowOf(row));
        return addLists(db, rows, error);
    });
    if (!ok || rows.empty()) return std::nullopt;
    return rows[0];
}

bool ConsoleQueries::screens(const std::string& appKey, int64_t recent,
                             std::vector<Screen>& screens, std::vector<std::string>& versions,
                             std::string& error) {
    return index_.use([&](SqlDatabase& db) {
        std::vector<Row> rows;
        if (!db.run("SELECT ss.screen, MAX(ss.web), COUNT(*) FROM session_screens ss WHERE "
                    "ss.upload_id IN (SELECT s.upload_id FROM sessions s WHERE s.app_key = $1 "
                    "ORDER BY s.started_unix DESC, s.upload_id DESC LIMIT $2) "
                    "GROUP BY ss.screen ORDER BY COUNT(*) DESC, ss.screen LIMIT 1000",
                    {CollectorNames::storable(appKey), recent}, &rows, error)) {
            return false;
        }
        for (const Row& row : rows)
            screens.push_back({row.text(0), row.integer(1) != 0, row.integer(2)});
        rows.clear();
        if (!db.run("SELECT DISTINCT version FROM sessions WHERE app_key = $1 AND version <> '' "
                    "ORDER BY version LIMIT 1000",
                    {CollectorNames::storable(appKey)}, &rows, error)) {
            return false;
        }
        for (const Row& row : rows)
            versions.push_back(row.text(0));
        return true;
    });
}

bool ConsoleQueries::heat(const HeatQuery& query, HeatSums& sums, std::string& error) {
    Statement where;
    std::string points = "SELECT kind, x, y, SUM(count) FROM heat_points WHERE app_key = " +
                         where.next(CollectorNames::storable(query.appKey)) +
                         " AND screen = " + where.next(CollectorNames::storable(query.screen)) +
                         " AND day >= " + where.next(query.fromDay) +
                         " AND day <= " + where.next(query.toDay);
    Statement visits;
    std::string sessions = "SELECT COUNT(*) FROM session_screens WHERE app_key = " +
                           visits.next(CollectorNames::storable(query.appKey)) +
                           " AND screen = " + visits.next(CollectorNames::storable(query.screen)) +
                           " AND started_unix >= " + visits.next(query.fromDay * 86400) +
                           " AND started_unix < " + visits.next((query.toDay + 1) * 86400);
    if (query.version) {
        points += " AND version = " + where.next(CollectorNames::storable(*query.version));
        sessions += " AND version = " + visits.next(CollectorNames::storable(*query.version));
    }
    points += " GROUP BY kind, x, y HAVING SUM(count) > 0";
    return index_.use([&](SqlDatabase& db) {
        std::vector<Row> rows;
        if (!db.run(points, where.params, &rows, error)) return false;
        sums.points.reserve(rows.size());
        for (const Row& row : rows) {
            sums.points.push_back(
                {static_cast<int>(row.integer(0)), row.integer(1), row.integer(2), row.integer(3)});
        }
        rows.clear();
        if (!db.run(sessions, visits.params, &rows, error) || rows.empty()) return false;
        sums.sessions = rows[0].integer(0);
        rows.clear();
        if (!db.run(
                "SELECT web FROM session_screens WHERE app_key = $1 AND screen = $2 LIMIT 1",
                {CollectorNames::storable(query.appKey), CollectorNames::storable(query.screen)},
                &rows, error)) {
            return false;
        }
        sums.web = !rows.empty() && rows[0].integer(0) != 0;
        return true;
    });
}

std::optional<int64_t> ConsoleQueries::generation(const std::string& appKey) {
    std::vector<Row> rows;
    std::string error;
    index_.use([&](SqlDatabase& db) {
        return db.run("SELECT generation FROM applications WHERE app_key = $1",
                      {CollectorNames::storable(appKey)}, &rows, error);
    });
    if (rows.empty()) return std::nullopt;
    return rows[0].integer(0);
}

std::optional<ConsoleQueries::PictureSource> ConsoleQueries::pictureSource(const HeatQuery& query,
                                                                           bool web) {
    std::optional<PictureSource> out;
    std::string error;
    index_.use([&](SqlDatabase& db) {
        // The latest visits first: in the period (and version), then at any time.
        for (int pass = 0; pass < 2 && !out; ++pass) {
            Statement s;
            std::string sql =
                "SELECT ss.upload_id, ss.appeared_at, ss.first_gesture_at, d.path FROM "
                "session_screens ss JOIN uploads d ON d.id = ss.upload_id WHERE ss.app_key = " +
                s.next(CollectorNames::storable(query.appKey)) +
                " AND ss.screen = " + s.next(CollectorNames::storable(query.screen)) +
                " AND EXISTS (SELECT 1 FROM uploads m WHERE m.session_id = ss.upload_id AND "
                "m.kind = " +
                s.next(web ? "tile" : "screen") + ")";
            if (pass == 0) {
                sql += " AND ss.started_unix >= " + s.next(query.fromDay * 86400) +
                       " AND ss.started_unix < " + s.next((query.toDay + 1) * 86400);
                if (query.version)
                    sql += " AND ss.version = " + s.next(CollectorNames::storable(*query.version));
            }
            sql += " ORDER BY ss.started_unix DESC, ss.upload_id DESC LIMIT 20";
            std::vector<Row> rows;
            if (!db.run(sql, s.params, &rows, error)) return false;
            for (const Row& row : rows) {
                PictureSource source;
                source.session = row.integer(0);
                source.documentPath = row.text(3);
                // A moment after the screen's first gesture (or its appearance), when it shows.
                const int64_t first = row.integer(2) >= 0 ? row.integer(2) : row.integer(1);
                source.seconds = static_cast<double>(first) + 0.6;
                std::vector<Row> items;
                if (!db.run(std::string(CollectorIndex::uploadColumns()) +
                                " WHERE session_id = $1 AND kind = $2 ORDER BY id",
                            {source.session, std::string(web ? "tile" : "screen")}, &items,
                            error)) {
                    return false;
                }
                for (const Row& item : items) {
                    UploadRecord record = CollectorIndex::uploadOf(item);
                    if (!web) {
                        source.moviePath = record.path;
                    } else if (record.fields.is_object() &&
                               record.fields.value("activity_name", std::string()) ==
                                   query.screen) {
                        source.tiles.push_back(std::move(record));
                    }
                }
                if (web ? !source.tiles.empty() : !source.moviePath.empty()) {
                    out = std::move(source);
                    break;
                }
            }
        }
        return true;
    });
    return out;
}

std::optional<UploadRecord> ConsoleQueries::upload(int64_t id) {
    std::vector<Row> rows;
    std::string error;
    index_.use([&](SqlDatabase& db) {
        return db.run(std::string(CollectorIndex::uploadColumns()) + " WHERE id = $1", {id}, &rows,
                      error);
    });
    if (rows.empty()) return std::nullopt;
    return CollectorIndex::uploadOf(rows[0]);
}

std::vector<UploadRecord> ConsoleQueries::itemsOf(int64_t documentId) {
    std::vector<UploadRecord> out;
    std::vector<Row> rows;
    std::string error;
    index_.use([&](SqlDatabase& db) {
        return db.run(
            std::string(CollectorIndex::uploadColumns()) + " WHERE session_id = $1 ORDER BY id",
            {documentId}, &rows, error);
    });
    for (const Row& row : rows)
        out.push_back(CollectorIndex::uploadOf(row));
    return out;
}

}  // namespace rivlo::collector
