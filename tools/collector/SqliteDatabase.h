#pragma once

#include <string>

#include "SqlDatabase.h"

struct sqlite3;

namespace rivlo::collector {

// The embedded engine: one SQLite file in write-ahead-log mode, so a report can read while the
// collector writes.
class SqliteDatabase : public SqlDatabase {
  public:
    ~SqliteDatabase() override;

    bool open(const std::string& path, bool readOnly, std::string& error);

    bool run(const std::string& sql, const std::vector<Param>& params, std::vector<Row>* rows,
             std::string& error) override;
    bool script(const std::string& sql, std::string& error) override;
    const char* beginWrite() const override { return "BEGIN IMMEDIATE"; }
    const char* serialKey() const override { return "INTEGER PRIMARY KEY AUTOINCREMENT"; }
    bool lastFailureWasDiskFull() const override { return diskFull_; }
    const char* engine() const override { return "sqlite"; }

    // "$3" becomes "?3": SQLite numbers its parameters that way.
    static std::string dialect(const std::string& sql);

  private:
    sqlite3* db_ = nullptr;
    bool diskFull_ = false;
};

}  // namespace rivlo::collector
