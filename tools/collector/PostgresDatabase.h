#pragma once

#include <string>

#include "SqlDatabase.h"

typedef struct pg_conn PGconn;

namespace rivlo::collector {

// The shared engine: a PostgreSQL database reached by a libpq connection string or URL
// ("postgresql://user@host:port/name"), so several collectors can share one index.
class PostgresDatabase : public SqlDatabase {
  public:
    ~PostgresDatabase() override;

    bool open(const std::string& url, std::string& error);

    bool run(const std::string& sql, const std::vector<Param>& params, std::vector<Row>* rows,
             std::string& error) override;
    bool script(const std::string& sql, std::string& error) override;
    const char* beginWrite() const override { return "BEGIN"; }
    const char* serialKey() const override { return "BIGSERIAL PRIMARY KEY"; }
    bool lastFailureWasDiskFull() const override { return diskFull_; }
    const char* engine() const override { return "postgresql"; }

  private:
    // A connection lost between statements is opened again once before the next one.
    bool ensureConnected(std::string& error);

    PGconn* conn_ = nullptr;
    std::string url_;
    bool diskFull_ = false;
};

}  // namespace rivlo::collector
