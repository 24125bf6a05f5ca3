#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rivlo::collector {

// Simulated devices against a collector on this machine: each device runs sessions as the
// library does (a verification, then its screen movie, its session document and its web tiles
// as multipart uploads byte for byte in the library's layout, over one kept-alive connection),
// one after the other, until it has run its sessions or the time is up. Loopback only.
struct LoadOptions {
    std::string url;  // http://127.0.0.1:PORT (or localhost, [::1])
    std::string appKey;
    int devices = 1;             // devices at once, one thread each
    int sessionsPerDevice = 10;  // bounded count
    double seconds = 60;         // bounded time: no session starts after it
    size_t movieBytes = 200 * 1024;
    int tiles = 3;
    size_t tileBytes = 20 * 1024;
    int collectorPid = 0;  // sampled for resident memory when set
};

struct LoadReport {
    int sessions = 0;  // complete: every request answered 200
    int failedRequests = 0;
    double seconds = 0;
    std::vector<double> latenciesMs;  // every request
    long peakResidentKiB = 0;         // the collector's largest resident set seen while running
    double percentile(double p) const;
    std::string summary() const;
};

class LoadGenerator {
  public:
    // Refuses (false, `error`) an address that is not loopback.
    static bool run(const LoadOptions& options, LoadReport& report, std::string& error);
};

}  // namespace rivlo::collector
