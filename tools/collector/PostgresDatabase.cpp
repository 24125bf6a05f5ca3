#include "PostgresDatabase.h"

#include <cstring>

#include <libpq-fe.h>

namespace rivlo::collector {

namespace {

// Notices (such as "relation already exists, skipping") are not the collector's business.
void quiet(void*, const char*) {}

std::string messageOf(PGconn* conn) {
    std::string text = conn ? PQerrorMessage(conn) : "out of memory";
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

}  // namespace

PostgresDatabase::~PostgresDatabase() {
    if (conn_) PQfinish(conn_);
}

bool PostgresDatabase::open(const std::string& url, std::string& error) {
    url_ = url;
    conn_ = PQconnectdb(url.c_str());
    if (!conn_ || PQstatus(conn_) != CONNECTION_OK) {
        error = "cannot connect to the index database: " + messageOf(conn_);
        if (conn_) PQfinish(conn_);
        conn_ = nullptr;
        return false;
    }
    PQsetNoticeProcessor(conn_, quiet, nullptr);
    return true;
}

bool PostgresDatabase::ensureConnected(std::string& error) {
    if (conn_ && PQstatus(conn_) == CONNECTION_OK) return true;
    if (conn_) {
        PQreset(conn_);
        if (PQstatus(conn_) == CONNECTION_OK) return true;
        error = "the index database connection is lost: " + messageOf(conn_);
        return false;
    }
    return open(url_, error);
}

bool PostgresDatabase::run(const std::string& sql, const std::vector<Param>& params,
                           std::vector<Row>* rows, std::string& error) {
    diskFull_ = false;
    if (!ensureConnected(error)) return false;
    std::vector<std::string> texts(params.size());
    std::vector<const char*> values(params.size(), nullptr);
    for (size_t i = 0; i < params.size(); ++i) {
        if (params[i].kind == Param::Kind::Integer) {
            texts[i] = std::to_string(params[i].integer);
            values[i] = texts[i].c_str();
        } else if (params[i].kind == Param::Kind::Text) {
            values[i] = params[i].text.c_str();
        }
    }
    PGresult* result = PQexecParams(conn_, sql.c_str(), static_cast<int>(params.size()), nullptr,
                                    values.data(), nullptr, nullptr, 0);
    const ExecStatusType status = result ? PQresultStatus(result) : PGRES_FATAL_ERROR;
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
        const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
        diskFull_ = state && std::strcmp(state, "53100") == 0;
        error = "index error: " + messageOf(conn_);
        if (result) PQclear(result);
        return false;
    }
    if (rows && status == PGRES_TUPLES_OK) {
        const int count = PQntuples(result);
        const int columns = PQnfields(result);
        for (int r = 0; r < count; ++r) {
            Row row;
            for (int c = 0; c < columns; ++c) {
                if (PQgetisnull(result, r, c)) {
                    row.cells.emplace_back(std::nullopt);
                } else {
                    row.cells.emplace_back(std::string(
                        PQgetvalue(result, r, c), static_cast<size_t>(PQgetlength(result, r, c))));
                }
            }
            rows->push_back(std::move(row));
        }
    }
    PQclear(result);
    return true;
}

bool PostgresDatabase::script(const std::string& sql, std::string& error) {
    diskFull_ = false;
    if (!ensureConnected(error)) return false;
    PGresult* result = PQexec(conn_, sql.c_str());
    const ExecStatusType status = result ? PQresultStatus(result) : PGRES_FATAL_ERROR;
    const bool ok = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
    if (!ok) error = "index error: " + messageOf(conn_);
    if (result) PQclear(result);
    return ok;
}

}  // namespace rivlo::collector
