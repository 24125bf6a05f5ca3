// rivlo-collector-load: simulated devices against a collector on this machine.
//
//   rivlo-collector-load --url http://127.0.0.1:PORT --app-key KEY [--devices N]
//       [--sessions N] [--seconds S] [--movie-bytes N] [--tiles N] [--tile-bytes N] [--pid PID]

#include <cstdio>
#include <cstdlib>
#include <string>

#include "LoadGenerator.h"

int main(int argc, char** argv) {
    rivlo::collector::LoadOptions options;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i], value = argv[i + 1];
        if (name == "--url") {
            options.url = value;
        } else if (name == "--app-key") {
            options.appKey = value;
        } else if (name == "--devices") {
            options.devices = std::atoi(value.c_str());
        } else if (name == "--sessions") {
            options.sessionsPerDevice = std::atoi(value.c_str());
        } else if (name == "--seconds") {
            options.seconds = std::atof(value.c_str());
        } else if (name == "--movie-bytes") {
            options.movieBytes = std::strtoull(value.c_str(), nullptr, 10);
        } else if (name == "--tiles") {
            options.tiles = std::atoi(value.c_str());
        } else if (name == "--tile-bytes") {
            options.tileBytes = std::strtoull(value.c_str(), nullptr, 10);
        } else if (name == "--pid") {
            options.collectorPid = std::atoi(value.c_str());
        } else {
            std::fprintf(stderr, "rivlo-collector-load: unknown option %s\n", name.c_str());
            return 2;
        }
    }
    if (options.url.empty() || options.appKey.empty()) {
        std::fprintf(stderr,
                     "usage: rivlo-collector-load --url http://127.0.0.1:PORT --app-key "
                     "KEY [--devices N] [--sessions N] [--seconds S] [--movie-bytes N] "
                     "[--tiles N] [--tile-bytes N] [--pid PID]\n");
        return 2;
    }
    rivlo::collector::LoadReport report;
    std::string error;
    if (!rivlo::collector::LoadGenerator::run(options, report, error)) {
        std::fprintf(stderr, "rivlo-collector-load: %s\n", error.c_str());
        return 2;
    }
    std::printf("devices %d: %s\n", options.devices, report.summary().c_str());
    return report.failedRequests == 0 ? 0 : 1;
}
