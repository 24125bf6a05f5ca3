#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "CollectorLog.h"
#include "HttpServer.h"

namespace rivlo::collector {

// One application the collector knows: verification with `key` succeeds and hands out
// `settings` (when `videoRecord` is true the library applies them).
struct CollectorApp {
    std::string key;
    std::string name;
    bool videoRecord = true;
    nlohmann::json settings = defaultSettings();
    int retentionDays = 0;                         // 0: kept until deleted
    uint64_t quotaBytes = 0;                       // all its installations together; 0: no limit
    uint64_t installationQuotaBytes = 2ull << 30;  // each installation; 0: no limit
    uint64_t maxInstallations = 0;                 // 0: no limit

    // Screen recording at two frames per second, camera off, uploads allowed on every network.
    static nlohmann::json defaultSettings();
};

// Faults for tests and soak runs; everything is off by default. Shares are probabilities in
// [0, 1] drawn per request.
struct FaultConfig {
    double failShare = 0.0;  // answered with status 500, nothing stored
    double resetShare =
        0.0;  // connection reset (uploads: in the middle of the body), nothing stored
    // Uploads of this share of file names (chosen by a hash of the name and the seed, so the
    // same file is refused every time) are answered with status 400, nothing stored.
    double refuseShare = 0.0;
    double delayShare = 0.0;  // answer held back by delayMs
    int delayMs = 0;
    double malformedVerifyShare = 0.0;  // verification answered with broken JSON
    uint64_t seed = 0;                  // 0: seeded from the clock

    bool enabled() const;
};

// Everything the collector needs to run. Fill it from a JSON file, then from command-line
// options, then call validate().
struct CollectorConfig {
    std::string dataDir;
    std::string host = "127.0.0.1";
    int port = 0;          // 0: the system chooses a free port
    std::string certFile;  // HTTPS when both files are given
    std::string keyFile;
    // "" : the SQLite file in the data folder; else "postgresql://..." (or an SQLite path).
    std::string databaseUrl;
    uint64_t maxBodyBytes = 1024ull * 1024 * 1024;  // uploads, counted as decoded
    uint64_t maxVerifyBodyBytes = 16 * 1024;        // verification forms
    int threads = 8;                                // worker threads
    HttpLimits limits;  // connections, deadlines, queue (workerThreads comes from `threads`)
    int retentionIntervalSeconds = 3600;  // how often expired data are looked for
    std::vector<CollectorApp> apps;
    FaultConfig faults;
    CollectorLog::Sink logSink;  // empty: standard error

    // Reads a configuration file (layout in the tool's README section of `rivlo-collector
    // --help`). Returns false with a readable message on any error; the config is then partial.
    bool loadFile(const std::string& path, std::string& error);
    bool applyJson(const nlohmann::json& document, std::string& error);
    bool validate(std::string& error) const;
    bool usesTls() const { return !certFile.empty() || !keyFile.empty(); }
};

}  // namespace rivlo::collector
