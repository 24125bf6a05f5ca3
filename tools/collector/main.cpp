// rivlo-collector: command-line front of the reference service.
//
//   rivlo-collector serve --data DIR [options]    serve until SIGINT or SIGTERM
//   rivlo-collector report --data DIR             print what DIR holds
//   rivlo-collector delete --data DIR --installation ID | --user NAME --app-key KEY
//   rivlo-collector user add NAME --password-file FILE --data DIR [--role admin|viewer]

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

#include <pthread.h>

#include "CollectorConfig.h"
#include "CollectorIndex.h"
#include "CollectorReport.h"
#include "CollectorServer.h"
#include "CollectorStore.h"
#include "ConsoleAccounts.h"
#include "ConsoleApi.h"

using rivlo::collector::CollectorApp;
using rivlo::collector::CollectorConfig;
using rivlo::collector::CollectorIndex;
using rivlo::collector::CollectorLog;
using rivlo::collector::CollectorReport;
using rivlo::collector::CollectorServer;
using rivlo::collector::CollectorStore;
using rivlo::collector::ConsoleAccounts;
using rivlo::collector::ConsoleApi;

namespace {

const char* const kUsage = R"(usage:
  rivlo-collector serve --data DIR [options]
  rivlo-collector report --data DIR [--database URL]
  rivlo-collector delete --data DIR [--database URL] --installation ID
  rivlo-collector delete --data DIR [--database URL] --user NAME --app-key KEY
  rivlo-collector user add NAME --password-file FILE --data DIR [--database URL]
                  [--role admin|viewer] [--replace]
  rivlo-collector user remove NAME --data DIR [--database URL]
  rivlo-collector user list --data DIR [--database URL]

The console (sessions, the player, heat maps) is served by `serve` under /console/ on the same
listener; its people are added with `user add` (role viewer unless --role admin; the password is
the first line of FILE, 8 bytes at least, stored as an Argon2id hash; --replace sets a new
password and role for an existing user and ends their logins).

serve options:
  --host HOST                 address to listen on (default 127.0.0.1)
  --port N                    port (default 0: a free port is chosen)
  --database URL              the index: an SQLite file (default DIR/collector.sqlite) or
                              postgresql://user@host:port/name
  --config FILE               JSON configuration, applied before the options below
  --app-key KEY               accept this application key (repeatable)
  --app-name NAME             name of the application of the last --app-key
  --settings JSON             "settings" object handed out for the last --app-key
  --no-video-record           answer "video_record": false for the last --app-key
  --retention-days N          remove the last --app-key's uploads N days after arrival
  --quota-bytes N             at most N bytes stored for the last --app-key (0: no limit)
  --installation-quota-bytes N  at most N bytes per installation (default 2 GiB; 0: none)
  --max-installations N       at most N installations of the last --app-key (0: no limit)
  --cert FILE --key FILE      serve HTTPS with this certificate and private key (PEM)
  --max-body-bytes N          refuse larger upload bodies, counted decoded (default 1 GiB)
  --max-verify-body-bytes N   refuse larger verification bodies (default 16384)
  --threads N                 worker threads (default 8)
  --queue N                   requests waiting for a worker before "busy" (default 64)
  --io-threads N              threads reading and writing connections (default 2)
  --max-connections N         connections open at once (default 1024)
  --max-connections-per-address N  from one address (default 32)
  --header-timeout-ms N       a request head must arrive within N ms (default 10000)
  --body-grace-ms N           then its body may take N ms before ... (default 10000)
  --min-bytes-per-second N    ... it must keep this average rate (default 16384)
  --shutdown-grace-ms N       SIGTERM ends requests still running after N ms (default 5000)
  --url-file FILE             write the served URL into FILE once listening
  --fail-share X              answer this share of requests with status 500
  --reset-share X             reset the connection of this share of requests (uploads:
                              in the middle of the body)
  --refuse-share X            refuse uploads of this share of file names with status 400
                              (the same files every time)
  --delay-ms N                hold answers back N milliseconds
  --delay-share X             share of answers held back (default 1 with --delay-ms)
  --malformed-verify-share X  answer this share of verifications with broken JSON
  --fault-seed N              seed of the fault draws

configuration file:
  {"data": DIR, "database": URL, "host": HOST, "port": N, "max_body_bytes": N,
   "max_verify_body_bytes": N, "threads": N, "queue": N, "io_threads": N,
   "max_connections": N, "max_connections_per_address": N, "header_bytes": N,
   "header_timeout_ms": N, "body_grace_ms": N, "min_bytes_per_second": N,
   "write_timeout_ms": N, "shutdown_grace_ms": N, "retention_interval_s": N,
   "tls": {"cert": FILE, "key": FILE},
   "apps": [{"key": KEY, "name": NAME, "video_record": true, "settings": {...},
             "retention_days": N, "quota_bytes": N, "installation_quota_bytes": N,
             "max_installations": N}],
   "faults": {"fail_share": X, "reset_share": X, "refuse_share": X, "delay_ms": N,
              "delay_share": X,
              "malformed_verify_share": X, "seed": N}}
)";

int usageError(const std::string& message) {
    std::fprintf(stderr, "rivlo-collector: %s\n\n%s", message.c_str(), kUsage);
    return 2;
}

bool parseNumber(const std::string& text, double& out) {
    try {
        size_t used = 0;
        out = std::stod(text, &used);
        return used == text.size();
    } catch (...) {
        return false;
    }
}

bool parseUnsigned(const std::string& text, unsigned long long& out) {
    if (text.empty() || text[0] == '-') return false;
    try {
        size_t used = 0;
        out = std::stoull(text, &used);
        return used == text.size();
    } catch (...) {
        return false;
    }
}

int runReport(const std::string& dataDir, const std::string& database) {
    std::string text, error;
    if (!CollectorReport::build(dataDir, text, error, database)) {
        std::fprintf(stderr, "rivlo-collector: %s\n", error.c_str());
        return 1;
    }
    std::fputs(text.c_str(), stdout);
    return 0;
}

// Deletes one installation's or one user's data; each deletion is logged on standard error.
int runDelete(const std::vector<std::pair<std::string, std::string>>& options) {
    std::string dataDir, database, installation, user, appKey;
    for (const auto& [name, value] : options) {
        if (name == "--data") {
            dataDir = value;
        } else if (name == "--database") {
            database = value;
        } else if (name == "--installation") {
            installation = value;
        } else if (name == "--user") {
            user = value;
        } else if (name == "--app-key") {
            appKey = value;
        } else {
            return usageError("delete does not take " + name);
        }
    }
    if (dataDir.empty()) return usageError("delete needs --data DIR");
    if (installation.empty() == user.empty() || (!user.empty() && appKey.empty())) {
        return usageError("delete needs --installation ID, or --user NAME with --app-key KEY");
    }
    CollectorIndex index;
    std::string error;
    if (!index.open(database.empty() ? CollectorIndex::defaultUrl(dataDir) : database, false,
                    error)) {
        std::fprintf(stderr, "rivlo-collector: %s\n", error.c_str());
        return 1;
    }
    CollectorLog log;
    CollectorStore store(dataDir, index, log);
    auto removed = installation.empty() ? store.deleteUser(appKey, user, error)
                                        : store.deleteInstallation(installation, error);
    if (!removed) {
        std::fprintf(stderr, "rivlo-collector: %s\n", error.c_str());
        return 1;
    }
    std::printf("deleted %zu files (%llu bytes)\n", removed->files,
                static_cast<unsigned long long>(removed->bytes));
    return 0;
}

// The first line of a file, without its line end.
bool readPassword(const std::string& path, std::string& password, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read the password file " + path;
        return false;
    }
    std::getline(in, password);
    if (!password.empty() && password.back() == '\r') password.pop_back();
    return true;
}

// The console's people: add, remove, list.
int runUser(int argc, char** argv) {
    if (argc < 3) return usageError("user needs add, remove or list");
    const std::string action = argv[2];
    std::string name, dataDir, database, passwordFile, role = ConsoleAccounts::kViewer;
    bool replace = false;
    int i = 3;
    if (action == "add" || action == "remove") {
        if (argc < 4 || std::string(argv[3]).rfind("--", 0) == 0)
            return usageError("user " + action + " needs a NAME");
        name = argv[i++];
    } else if (action != "list") {
        return usageError("unknown user action " + action);
    }
    for (; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--replace") {
            replace = true;
            continue;
        }
        if (i + 1 >= argc) return usageError("option " + option + " needs a value");
        const std::string value = argv[++i];
        if (option == "--data") {
            dataDir = value;
        } else if (option == "--database") {
            database = value;
        } else if (option == "--password-file" && action == "add") {
            passwordFile = value;
        } else if (option == "--role" && action == "add") {
            role = value;
        } else {
            return usageError("user " + action + " does not take " + option);
        }
    }
    if (dataDir.empty()) return usageError("user needs --data DIR");
    if (action == "add" && passwordFile.empty())
        return usageError("user add needs --password-file");
    CollectorIndex index;
    std::string error;
    if (!index.open(database.empty() ? CollectorIndex::defaultUrl(dataDir) : database, false,
                    error)) {
        std::fprintf(stderr, "rivlo-collector: %s\n", error.c_str());
        return 1;
    }
    ConsoleAccounts accounts(index);
    if (action == "list") {
        for (const auto& user : accounts.users())
            std::printf("%s\t%s\t%s\n", user.name.c_str(), user.role.c_str(),
                        user.createdAt.c_str());
        return 0;
    }
    if (action == "remove") {
        if (!accounts.removeUser(name, error)) {
            std::fprintf(stderr, "rivlo-collector: %s\n", error.c_str());
            return 1;
        }
        std::printf("removed user %s\n", name.c_str());
        return 0;
    }
    std::string password;
    if (!readPassword(passwordFile, password, error) ||
        !accounts.addUser(name, password, role, replace, error)) {
        std::fprintf(stderr, "rivlo-collector: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s user %s (%s)\n", replace ? "set" : "added", name.c_str(), role.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usageError("a command is required");
    std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (command == "user") return runUser(argc, argv);
    if (command != "serve" && command != "report" && command != "delete") {
        return usageError("unknown command " + command);
    }

    CollectorConfig config;
    std::string dataOption, urlFile, error;
    bool delayShareGiven = false;
    CollectorApp* lastApp = nullptr;
    std::vector<CollectorApp> cliApps;
    // Options are collected first so that --config applies before them whatever the order.
    std::string configFile;
    std::vector<std::pair<std::string, std::string>> options;
    for (int i = 2; i < argc; ++i) {
        std::string name = argv[i];
        if (name == "--no-video-record") {
            options.emplace_back(name, "");
            continue;
        }
        if (name.rfind("--", 0) != 0) return usageError("unexpected argument " + name);
        if (i + 1 >= argc) return usageError("option " + name + " needs a value");
        std::string value = argv[++i];
        if (name == "--config") {
            configFile = value;
        } else {
            options.emplace_back(name, value);
        }
    }
    if (command == "report") {
        std::string database;
        for (const auto& [name, value] : options) {
            if (name == "--data") {
                dataOption = value;
            } else if (name == "--database") {
                database = value;
            } else {
                return usageError("report takes only --data and --database");
            }
        }
        if (dataOption.empty()) return usageError("report needs --data DIR");
        return runReport(dataOption, database);
    }
    if (command == "delete") return runDelete(options);

    if (!configFile.empty() && !config.loadFile(configFile, error)) {
        std::fprintf(stderr, "rivlo-collector: %s\n", error.c_str());
        return 2;
    }
    for (const auto& [name, value] : options) {
        double share = 0;
        unsigned long long number = 0;
        if (name == "--data") {
            config.dataDir = value;
        } else if (name == "--host") {
            config.host = value;
        } else if (name == "--database") {
            config.databaseUrl = value;
        } else if (name == "--port") {
            if (!parseUnsigned(value, number) || number > 65535) return usageError("bad --port");
            config.port = static_cast<int>(number);
        } else if (name == "--app-key") {
            cliApps.emplace_back();
            cliApps.back().key = value;
            cliApps.back().name = value;
        } else if (name == "--retention-days" || name == "--quota-bytes" ||
                   name == "--installation-quota-bytes" || name == "--max-installations") {
            if (cliApps.empty()) return usageError(name + " must follow an --app-key");
            if (!parseUnsigned(value, number) || number > (1ull << 62)) {
                return usageError("bad " + name);
            }
            CollectorApp& app = cliApps.back();
            if (name == "--retention-days") {
                if (number > 100000) return usageError("bad --retention-days");
                app.retentionDays = static_cast<int>(number);
            }
            if (name == "--quota-bytes") app.quotaBytes = number;
            if (name == "--installation-quota-bytes") app.installationQuotaBytes = number;
            if (name == "--max-installations") app.maxInstallations = number;
        } else if (name == "--max-verify-body-bytes" || name == "--queue" ||
                   name == "--io-threads" || name == "--max-connections" ||
                   name == "--max-connections-per-address" || name == "--header-timeout-ms" ||
                   name == "--body-grace-ms" || name == "--min-bytes-per-second" ||
                   name == "--shutdown-grace-ms") {
            if (!parseUnsigned(value, number) || number > (1ull << 40)) {
                return usageError("bad " + name);
            }
            auto& l = config.limits;
            if (name == "--max-verify-body-bytes") config.maxVerifyBodyBytes = number;
            if (name == "--queue") l.queueLimit = number;
            if (name == "--io-threads") l.ioThreads = number;
            if (name == "--max-connections") l.maxConnections = number;
            if (name == "--max-connections-per-address") l.maxConnectionsPerAddress = number;
            if (name == "--header-timeout-ms") l.headerTimeout = std::chrono::milliseconds(number);
            if (name == "--body-grace-ms") l.bodyGrace = std::chrono::milliseconds(number);
            if (name == "--min-bytes-per-second") l.minBytesPerSecond = number;
            if (name == "--shutdown-grace-ms") l.shutdownGrace = std::chrono::milliseconds(number);
        } else if (name == "--app-name" || name == "--settings" || name == "--no-video-record") {
            if (cliApps.empty()) return usageError(name + " must follow an --app-key");
            lastApp = &cliApps.back();
            if (name == "--app-name") {
                lastApp->name = value;
            } else if (name == "--no-video-record") {
                lastApp->videoRecord = false;
            } else {
                auto settings = nlohmann::json::parse(value, nullptr, false);
                if (settings.is_discarded() || !settings.is_object()) {
                    return usageError("--settings must be a JSON object");
                }
                lastApp->settings = settings;
            }
        } else if (name == "--cert") {
            config.certFile = value;
        } else if (name == "--key") {
            config.keyFile = value;
        } else if (name == "--max-body-bytes") {
            if (!parseUnsigned(value, number)) return usageError("bad --max-body-bytes");
            config.maxBodyBytes = number;
        } else if (name == "--threads") {
            if (!parseUnsigned(value, number) || number > 256) return usageError("bad --threads");
            config.threads = static_cast<int>(number);
        } else if (name == "--url-file") {
            urlFile = value;
        } else if (name == "--delay-ms") {
            if (!parseUnsigned(value, number) || number > 60000)
                return usageError("bad --delay-ms");
            config.faults.delayMs = static_cast<int>(number);
        } else if (name == "--fault-seed") {
            if (!parseUnsigned(value, number)) return usageError("bad --fault-seed");
            config.faults.seed = number;
        } else if (name == "--fail-share" || name == "--reset-share" || name == "--delay-share" ||
                   name == "--refuse-share" || name == "--malformed-verify-share") {
            if (!parseNumber(value, share)) return usageError("bad " + name);
            if (name == "--fail-share") config.faults.failShare = share;
            if (name == "--reset-share") config.faults.resetShare = share;
            if (name == "--refuse-share") config.faults.refuseShare = share;
            if (name == "--malformed-verify-share") config.faults.malformedVerifyShare = share;
            if (name == "--delay-share") {
                config.faults.delayShare = share;
                delayShareGiven = true;
            }
        } else {
            return usageError("unknown option " + name);
        }
    }
    if (config.faults.delayMs > 0 && !delayShareGiven && config.faults.delayShare == 0) {
        config.faults.delayShare = 1.0;
    }
    for (CollectorApp& app : cliApps)
        config.apps.push_back(std::move(app));
    if (config.apps.empty()) {
        std::fprintf(stderr,
                     "rivlo-collector: warning: no application keys configured; every "
                     "verification will be refused\n");
    }

    // SIGINT and SIGTERM are taken by sigwait below; every thread started from here on inherits
    // the blocked mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    CollectorServer server(config);
    ConsoleApi console(server, config);
    console.attach();
    if (!server.start(error)) {
        std::fprintf(stderr, "rivlo-collector: %s\n", error.c_str());
        return 1;
    }
    std::printf("rivlo-collector serving %s (console: %s/console/)\n", server.url().c_str(),
                server.url().c_str());
    std::fflush(stdout);
    if (!urlFile.empty()) {
        std::string temp = urlFile + ".tmp";
        {
            std::ofstream out(temp);
            out << server.url() << "\n";
        }
        std::rename(temp.c_str(), urlFile.c_str());
    }
    int received = 0;
    sigwait(&stopSignals, &received);
    server.stop();
    return 0;
}
