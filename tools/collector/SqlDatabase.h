#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace rivlo::collector {

// One connection to the database behind the collector's index. The index speaks one SQL
// dialect to both engines (parameters written $1, $2 ...; integers for truth values); the
// engines differ only in how they connect, in a few words of the schema, and in how they
// report a full disk. One thread at a time per connection.
class SqlDatabase {
  public:
    // A statement parameter: nothing, an integer or a text.
    struct Param {
        enum class Kind { Null, Integer, Text } kind = Kind::Null;
        int64_t integer = 0;
        std::string text;

        Param(std::nullptr_t) {}
        Param(int64_t value) : kind(Kind::Integer), integer(value) {}
        Param(std::string value) : kind(Kind::Text), text(std::move(value)) {}
        Param(const char* value) : kind(Kind::Text), text(value) {}
    };

    struct Row {
        std::vector<std::optional<std::string>> cells;
        std::string text(size_t column) const;
        int64_t integer(size_t column) const;
        bool isNull(size_t column) const;
    };

    virtual ~SqlDatabase() = default;

    // Runs one statement; fills `rows` (when given) with what it returns. False with a readable
    // `error` when the statement fails.
    virtual bool run(const std::string& sql, const std::vector<Param>& params,
                     std::vector<Row>* rows, std::string& error) = 0;
    // Runs several statements without parameters (the schema).
    virtual bool script(const std::string& sql, std::string& error) = 0;
    // "BEGIN" as the engine wants it for a transaction that writes.
    virtual const char* beginWrite() const = 0;
    // The primary key column of a table whose rows are numbered by the database.
    virtual const char* serialKey() const = 0;
    // Whether the last failure was for lack of disk space.
    virtual bool lastFailureWasDiskFull() const = 0;
    virtual const char* engine() const = 0;
};

}  // namespace rivlo::collector
