#pragma once

#include "foundation/Value.h"

#include <mutex>
#include <optional>
#include <string>

namespace rivlo {

// Property-list values by key, persisted as a binary property-list file. Thread-safe.
// Changes are kept in memory until synchronize(), which writes the whole file atomically
// (temporary file, fsync, rename, fsync of the folder), so a crash or power loss mid-write
// never leaves a torn file. A corrupt file is logged, kept beside it with the suffix
// ".corrupt", and the defaults start empty.
class UserDefaults {
  public:
    // The application's defaults. Its file is "<defaults dir>/rivlo.defaults.plist" where the
    // directory is set with setStandardDirectory() (by the platform at start-up, or by tests).
    static UserDefaults& standard();
    static void setStandardDirectory(const std::string& directory);

    explicit UserDefaults(std::string filePath);

    const std::string& filePath() const { return path_; }

    // Any thread.
    Value object(const std::string& key) const;  // null when absent
    bool has(const std::string& key) const;
    void set(const std::string& key, Value value);
    void remove(const std::string& key);

    int64_t integer(const std::string& key) const;  // 0 when absent or not a number
    bool boolean(const std::string& key) const;     // false when absent
    std::optional<std::string> text(const std::string& key) const;
    Value array(const std::string& key) const;       // null unless an array
    Value dictionary(const std::string& key) const;  // null unless a dictionary
    Value snapshot() const;                          // all values

    // Writes the file when something changed since the last write. Returns false (and logs)
    // when the write failed; the values stay in memory. Any thread.
    bool synchronize();
    // Forgets the values in memory and reads the file again (tests; after another writer).
    void reload();
    // Reopens on another file (tests).
    void setFilePath(const std::string& filePath);

  private:
    void loadLocked();
    mutable std::mutex mutex_;
    std::string path_;
    Value values_ = Value::object();
    bool loaded_ = false;
    bool dirty_ = false;
    uint64_t generation_ = 0;
    std::mutex writeMutex_;
};

// Writes bytes to a file atomically: temporary file beside it, fsync, rename, fsync of the
// folder. The file gets mode 0600. Returns false on any failure (the old file stays intact).
bool writeFileAtomically(const std::string& path, const std::string& bytes);

}  // namespace rivlo
