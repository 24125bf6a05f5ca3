// rivlo-collector: command-line front of the reference service.
//
//   rivlo-collector serve --data DIR [options]    serve until SIGINT or SIGTERM
//   rivlo-collector report --data DIR             print what DIR holds

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

#include <pthread.h>

#include "CollectorConfig.h"
#include "CollectorReport.h"
#include "CollectorServer.h"

using rivlo::collector::CollectorApp;
using rivlo::collector::CollectorConfig;
using rivlo::collector::CollectorReport;
using rivlo::collector::CollectorServer;

namespace {

const char* const kUsage = R"(usage:
  rivlo-collector serve --data DIR [options]
  rivlo-collector report --data DIR

serve options:
  --host HOST                 address to listen on (default 127.0.0.1)
  --port N                    port (default 0: a free port is chosen)
  --config FILE               JSON configuration, applied before the options below
  --app-key KEY               accept this application key (repeatable)
  --app-name NAME             name of the application of the last --app-key
  --settings JSON             "settings" object handed out for the last --app-key
  --no-video-record           answer "video_record": false for the last --app-key
  --cert FILE --key FILE      serve HTTPS with this certificate and private key (PEM)
  --max-body-bytes N          refuse larger request bodies (default 1 GiB)
  --threads N                 request threads (default 8)
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
  {"data": DIR, "host": HOST, "port": N, "max_body_bytes": N, "threads": N,
   "tls": {"cert": FILE, "key": FILE},
   "apps": [{"key": KEY, "name": NAME, "video_record": true, "settings": {...}}],
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

int runReport(const std::string& dataDir) {
    std::string text, error;
    if (!CollectorReport::build(dataDir, text, error)) {
        std::fprintf(stderr, "rivlo-collector: %s\n", error.c_str());
        return 1;
    }
    std::fputs(text.c_str(), stdout);
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
    if (command != "serve" && command != "report") return usageError("unknown command " + command);

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
        for (const auto& [name, value] : options) {
            if (name != "--data") return usageError("report takes only --data");
            dataOption = value;
        }
        if (dataOption.empty()) return usageError("report needs --data DIR");
        return runReport(dataOption);
    }

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
        } else if (name == "--port") {
            if (!parseUnsigned(value, number) || number > 65535) return usageError("bad --port");
            config.port = static_cast<int>(number);
        } else if (name == "--app-key") {
            cliApps.emplace_back();
            cliApps.back().key = value;
            cliApps.back().name = value;
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
    if (!server.start(error)) {
        std::fprintf(stderr, "rivlo-collector: %s\n", error.c_str());
        return 1;
    }
    std::printf("rivlo-collector serving %s\n", server.url().c_str());
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
