#include "SqliteDatabase.h"

#include <sqlite3.h>

namespace rivlo::collector {

SqliteDatabase::~SqliteDatabase() {
    if (db_) sqlite3_close(db_);
}

bool SqliteDatabase::open(const std::string& path, bool readOnly, std::string& error) {
    const int flags =
        readOnly ? SQLITE_OPEN_READONLY : (SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    if (sqlite3_open_v2(path.c_str(), &db_, flags | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
        error = "cannot open index " + path + ": " + (db_ ? sqlite3_errmsg(db_) : "out of memory");
        sqlite3_close(db_);
        db_ = nullptr;
        return false;
    }
    sqlite3_busy_timeout(db_, 5000);
    if (readOnly) return true;
    return script("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", error);
}

std::string SqliteDatabase::dialect(const std::string& sql) {
    std::string out;
    out.reserve(sql.size());
    bool quoted = false;
    for (size_t i = 0; i < sql.size(); ++i) {
        const char c = sql[i];
        if (c == '\'') quoted = !quoted;
        if (!quoted && c == '$' && i + 1 < sql.size() && sql[i + 1] >= '0' && sql[i + 1] <= '9') {
            out.push_back('?');
            continue;
        }
        out.push_back(c);
    }
    return out;
}

bool SqliteDatabase::run(const std::string& sql, const std::vector<Param>& params,
                         std::vector<Row>* rows, std::string& error) {
    diskFull_ = false;
    if (!db_) {
        error = "index is not open";
        return false;
    }
    sqlite3_stmt* statement = nullptr;
    const std::string text = dialect(sql);
    if (sqlite3_prepare_v2(db_, text.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
        error = std::string("index error: ") + sqlite3_errmsg(db_);
        return false;
    }
    for (size_t i = 0; i < params.size(); ++i) {
        const int at = static_cast<int>(i + 1);
        const Param& p = params[i];
        if (p.kind == Param::Kind::Integer) {
            sqlite3_bind_int64(statement, at, p.integer);
        } else if (p.kind == Param::Kind::Text) {
            sqlite3_bind_text(statement, at, p.text.data(), static_cast<int>(p.text.size()),
                              SQLITE_TRANSIENT);
        } else {
            sqlite3_bind_null(statement, at);
        }
    }
    int step;
    while ((step = sqlite3_step(statement)) == SQLITE_ROW) {
        if (!rows) continue;
        Row row;
        const int columns = sqlite3_column_count(statement);
        for (int c = 0; c < columns; ++c) {
            if (sqlite3_column_type(statement, c) == SQLITE_NULL) {
                row.cells.emplace_back(std::nullopt);
                continue;
            }
            const auto* value = reinterpret_cast<const char*>(sqlite3_column_text(statement, c));
            row.cells.emplace_back(
                std::string(value, static_cast<size_t>(sqlite3_column_bytes(statement, c))));
        }
        rows->push_back(std::move(row));
    }
    const bool ok = step == SQLITE_DONE;
    if (!ok) {
        diskFull_ = step == SQLITE_FULL || sqlite3_extended_errcode(db_) == SQLITE_IOERR_WRITE;
        error = std::string("index error: ") + sqlite3_errmsg(db_);
    }
    sqlite3_finalize(statement);
    return ok;
}

bool SqliteDatabase::script(const std::string& sql, std::string& error) {
    diskFull_ = false;
    char* message = nullptr;
    const int result = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message);
    if (result != SQLITE_OK) {
        diskFull_ = result == SQLITE_FULL;
        error = std::string("index error: ") + (message ? message : "unknown");
        sqlite3_free(message);
        return false;
    }
    return true;
}

}  // namespace rivlo::collector
