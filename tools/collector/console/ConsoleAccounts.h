#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "CollectorIndex.h"

namespace rivlo::collector {

// The console's people and their logins, kept in the collector's index (so collectors sharing a
// PostgreSQL index share them). Passwords are stored as Argon2id hashes (libsodium's
// interactive limits); a login is a random token whose SHA-256 alone is stored, with a second
// random token that state-changing requests must repeat in a header (a page of another site
// can neither read it nor send that header). Any thread.
class ConsoleAccounts {
  public:
    static constexpr const char* kAdmin = "admin";
    static constexpr const char* kViewer = "viewer";
    static constexpr size_t kMinPasswordBytes = 8;
    static constexpr size_t kMaxPasswordBytes = 1024;
    // Password checks at once (each takes 64 MiB for a moment) and failures an address may have
    // within `kFailureWindow` before it must wait.
    static constexpr int kConcurrentChecks = 2;
    static constexpr size_t kFailuresPerWindow = 10;
    static constexpr std::chrono::minutes kFailureWindow{10};

    explicit ConsoleAccounts(CollectorIndex& index,
                             std::chrono::seconds loginLifetime = std::chrono::hours(12));

    struct User {
        std::string name;
        std::string role;  // kAdmin or kViewer
        std::string createdAt;
    };
    // 1 to 64 letters, digits, '.', '_', '-', '@'.
    static bool validName(const std::string& name);
    // Adds a user, or with `replace` sets the password and role of an existing one.
    bool addUser(const std::string& name, const std::string& password, const std::string& role,
                 bool replace, std::string& error);
    bool removeUser(const std::string& name, std::string& error);
    std::vector<User> users();

    struct Login {
        std::string token;      // the cookie's value (only its hash is stored)
        std::string csrfToken;  // to be repeated in "X-Rivlo-CSRF"
        User user;
        int64_t expiresUnix = 0;
    };
    enum class Outcome { LoggedIn, Refused, Throttled, Failed };
    // Checks the password; a new login when it matches. `address` is the client's, for the
    // failure count. Unknown names cost the same check as known ones.
    Outcome logIn(const std::string& name, const std::string& password, const std::string& address,
                  Login& login);
    // The login a cookie token belongs to, while it lasts and its user exists.
    std::optional<Login> loginOf(const std::string& token);
    void logOut(const std::string& token);

    static std::string hashPassword(const std::string& password);
    static bool passwordMatches(const std::string& hash, const std::string& password);

  private:
    bool failedTooOften(const std::string& address, std::chrono::steady_clock::time_point now);
    void noteFailure(const std::string& address, std::chrono::steady_clock::time_point now);

    CollectorIndex& index_;
    const std::chrono::seconds lifetime_;
    std::mutex mutex_;
    int checking_ = 0;
    std::map<std::string, std::deque<std::chrono::steady_clock::time_point>> failures_;
};

}  // namespace rivlo::collector
