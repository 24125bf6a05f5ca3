#include "ConsoleAccounts.h"

#include <sodium.h>

#include <algorithm>
#include <cctype>

#include "CollectorNames.h"

namespace rivlo::collector {

using Row = SqlDatabase::Row;

namespace {

bool sodiumReady() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}

std::string randomHex(size_t bytes) {
    std::string raw(bytes, '\0');
    randombytes_buf(raw.data(), raw.size());
    std::string hex(bytes * 2 + 1, '\0');
    sodium_bin2hex(hex.data(), hex.size(), reinterpret_cast<const unsigned char*>(raw.data()),
                   raw.size());
    hex.pop_back();
    return hex;
}

int64_t unixNow() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace

ConsoleAccounts::ConsoleAccounts(CollectorIndex& index, std::chrono::seconds loginLifetime)
    : index_(index), lifetime_(loginLifetime) {}

bool ConsoleAccounts::validName(const std::string& name) {
    if (name.empty() || name.size() > 64) return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '-' ||
               c == '@';
    });
}

std::string ConsoleAccounts::hashPassword(const std::string& password) {
    if (!sodiumReady()) return {};
    char hash[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str_alg(
            hash, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
            crypto_pwhash_MEMLIMIT_INTERACTIVE, crypto_pwhash_ALG_ARGON2ID13) != 0)
        return {};
    return hash;
}

bool ConsoleAccounts::passwordMatches(const std::string& hash, const std::string& password) {
    if (!sodiumReady() || hash.empty() || hash.size() >= crypto_pwhash_STRBYTES) return false;
    return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}

bool ConsoleAccounts::addUser(const std::string& name, const std::string& password,
                              const std::string& role, bool replace, std::string& error) {
    if (!validName(name)) {
        error = "a user name is 1 to 64 letters, digits, '.', '_', '-' or '@'";
        return false;
    }
    if (role != kAdmin && role != kViewer) {
        error = "the role is \"admin\" or \"viewer\"";
        return false;
    }
    if (password.size() < kMinPasswordBytes || password.size() > kMaxPasswordBytes) {
        error = "a password has " + std::to_string(kMinPasswordBytes) + " to " +
                std::to_string(kMaxPasswordBytes) + " bytes";
        return false;
    }
    const std::string hash = hashPassword(password);
    if (hash.empty()) {
        error = "the password could not be hashed (libsodium)";
        return false;
    }
    std::vector<Row> rows;
    const std::string upsert =
        replace ? " ON CONFLICT (name) DO UPDATE SET password_hash = excluded.password_hash, "
                  "role = excluded.role"
                : " ON CONFLICT (name) DO NOTHING";
    const bool ran = index_.use([&](SqlDatabase& db) {
        return db.run(
            "INSERT INTO console_users (name, password_hash, role, created_at) VALUES "
            "($1, $2, $3, $4)" +
                upsert + " RETURNING name",
            {name, hash, role, CollectorNames::utcNow()}, &rows, error);
    });
    if (!ran) {
        if (error.empty()) error = "the index is not open";
        return false;
    }
    if (rows.empty()) {
        error = "there is a user " + name + " already (--replace sets a new password)";
        return false;
    }
    // A new password ends the logins made with the old one.
    if (replace) {
        std::string ignored;
        index_.use([&](SqlDatabase& db) {
            return db.run("DELETE FROM console_logins WHERE user_name = $1", {name}, nullptr,
                          ignored);
        });
    }
    return true;
}

bool ConsoleAccounts::removeUser(const std::string& name, std::string& error) {
    std::vector<Row> rows;
    const bool ran = index_.use([&](SqlDatabase& db) {
        return db.run("DELETE FROM console_logins WHERE user_name = $1", {name}, nullptr, error) &&
               db.run("DELETE FROM console_users WHERE name = $1 RETURNING name", {name}, &rows,
                      error);
    });
    if (ran && rows.empty()) error = "there is no user " + name;
    return ran && !rows.empty();
}

std::vector<ConsoleAccounts::User> ConsoleAccounts::users() {
    std::vector<User> out;
    std::vector<Row> rows;
    std::string error;
    index_.use([&](SqlDatabase& db) {
        return db.run("SELECT name, role, created_at FROM console_users ORDER BY name", {}, &rows,
                      error);
    });
    for (const Row& row : rows)
        out.push_back({row.text(0), row.text(1), row.text(2)});
    return out;
}

bool ConsoleAccounts::failedTooOften(const std::string& address,
                                     std::chrono::steady_clock::time_point now) {
    auto it = failures_.find(address);
    if (it == failures_.end()) return false;
    while (!it->second.empty() && now - it->second.front() > kFailureWindow)
        it->second.pop_front();
    if (it->second.empty()) {
        failures_.erase(it);
        return false;
    }
    return it->second.size() >= kFailuresPerWindow;
}

void ConsoleAccounts::noteFailure(const std::string& address,
                                  std::chrono::steady_clock::time_point now) {
    // The table stays small whatever the number of addresses: old entries go first.
    if (failures_.size() > 10000) {
        for (auto it = failures_.begin(); it != failures_.end();) {
            it = it->second.empty() || now - it->second.back() > kFailureWindow
                     ? failures_.erase(it)
                     : std::next(it);
        }
        if (failures_.size() > 10000) failures_.clear();
    }
    failures_[address].push_back(now);
}

ConsoleAccounts::Outcome ConsoleAccounts::logIn(const std::string& name,
                                                const std::string& password,
                                                const std::string& address, Login& login) {
    const auto now = std::chrono::steady_clock::now();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (failedTooOften(address, now) || checking_ >= kConcurrentChecks)
            return Outcome::Throttled;
        ++checking_;
    }
    std::vector<Row> rows;
    std::string error;
    const bool known = validName(name) && index_.use([&](SqlDatabase& db) {
        return db.run("SELECT password_hash, role, created_at FROM console_users WHERE name = $1",
                      {name}, &rows, error);
    }) && !rows.empty();
    // An unknown name is checked against a hash of nothing anyone knows, in the same time.
    static const std::string unknownHash = hashPassword(randomHex(16));
    const bool matches = password.size() <= kMaxPasswordBytes &&
                         passwordMatches(known ? rows[0].text(0) : unknownHash, password) && known;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        --checking_;
        if (!matches) noteFailure(address, now);
    }
    if (!matches) return Outcome::Refused;

    login.token = randomHex(32);
    login.csrfToken = randomHex(32);
    login.user = {name, rows[0].text(1), rows[0].text(2)};
    login.expiresUnix = unixNow() + lifetime_.count();
    const bool stored = index_.use([&](SqlDatabase& db) {
        std::string ignored;
        db.run("DELETE FROM console_logins WHERE expires_unix <= $1", {unixNow()}, nullptr,
               ignored);
        return db.run(
            "INSERT INTO console_logins (token_hash, user_name, csrf_token, "
            "created_unix, expires_unix) VALUES ($1, $2, $3, $4, $5)",
            {CollectorNames::sha256Hex(login.token), name, login.csrfToken, unixNow(),
             login.expiresUnix},
            nullptr, error);
    });
    return stored ? Outcome::LoggedIn : Outcome::Failed;
}

std::optional<ConsoleAccounts::Login> ConsoleAccounts::loginOf(const std::string& token) {
    if (token.size() != 64) return std::nullopt;
    std::vector<Row> rows;
    std::string error;
    index_.use([&](SqlDatabase& db) {
        return db.run(
            "SELECT l.user_name, u.role, u.created_at, l.csrf_token, l.expires_unix "
            "FROM console_logins l JOIN console_users u ON u.name = l.user_name "
            "WHERE l.token_hash = $1 AND l.expires_unix > $2",
            {CollectorNames::sha256Hex(token), unixNow()}, &rows, error);
    });
    if (rows.empty()) return std::nullopt;
    Login login;
    login.token = token;
    login.user = {rows[0].text(0), rows[0].text(1), rows[0].text(2)};
    login.csrfToken = rows[0].text(3);
    login.expiresUnix = rows[0].integer(4);
    return login;
}

void ConsoleAccounts::logOut(const std::string& token) {
    std::string error;
    index_.use([&](SqlDatabase& db) {
        return db.run("DELETE FROM console_logins WHERE token_hash = $1",
                      {CollectorNames::sha256Hex(token)}, nullptr, error);
    });
}

}  // namespace rivlo::collector
