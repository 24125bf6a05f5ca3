#include "IdlePrograms.h"

#include "lifecycle/CollectorProcess.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace rivlo::bench {

namespace {

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// One phase in a process of its own, with a home of its own; empty when it did not report.
std::vector<double> runPhase(const std::string& probe, const std::string& phase,
                             const std::string& home, size_t numbers, double seconds) {
    std::filesystem::create_directories(home);
    const std::string command = "HOME='" + home + "' XDG_CACHE_HOME='" + home +
                                "/cache' XDG_CONFIG_HOME='" + home + "/config' " + probe + " " +
                                phase + " " + std::to_string(seconds) + " bench-key 2>/dev/null";
    std::vector<double> values(numbers);
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return {};
    for (double& value : values) {
        if (std::fscanf(pipe, "%lf", &value) != 1) values.clear();
        if (values.empty()) break;
    }
    pclose(pipe);
    return values;
}

}  // namespace

IdlePhases runIdlePhases(const std::string& probe, size_t numbers, int rounds, double seconds) {
    IdlePhases out;
    const std::string root = rivlo::test::makeTemporaryDirectory("rivlo-bench-idle");
    std::filesystem::create_directories(root + "/collector");
    rivlo::test::CollectorProcess collector(root + "/collector", "bench-key");
    if (!collector.start()) {
        out.error = "the collector did not start";
        return out;
    }
    setenv("RIVLO_SERVICE_URL", collector.url().c_str(), 1);
    const char* phases[] = {"alone", "installed", "recording"};
    std::vector<std::vector<std::vector<double>>> seen(3,
                                                       std::vector<std::vector<double>>(numbers));
    int run = 0;
    for (int round = 0; round < rounds && out.error.empty(); ++round) {
        for (int p = 0; p < 3 && out.error.empty(); ++p) {
            const auto values = runPhase(probe, phases[p], root + "/home-" + std::to_string(run++),
                                         numbers, seconds);
            if (values.empty()) out.error = std::string(phases[p]) + " did not report";
            for (size_t n = 0; n < values.size(); ++n)
                seen[p][n].push_back(values[n]);
        }
    }
    unsetenv("RIVLO_SERVICE_URL");
    collector.kill();
    std::filesystem::remove_all(root);
    if (!out.error.empty()) return out;
    for (const auto& phase : seen) {
        out.medians.emplace_back();
        for (const auto& values : phase)
            out.medians.back().push_back(median(values));
    }
    return out;
}

void reportIdlePhases(benchmark::State& state, const IdlePhases& phases) {
    if (!phases.error.empty()) {
        state.SkipWithError(phases.error.c_str());
        return;
    }
    const double alone = phases.medians[0][0];
    state.counters["alone_wakeups_per_s"] = alone;
    state.counters["installed_added_wakeups_per_s"] = phases.medians[1][0] - alone;
    state.counters["recording_added_wakeups_per_s"] = phases.medians[2][0] - alone;
    state.counters["alone_cpu_ms_per_s"] = phases.medians[0][1];
    state.counters["installed_cpu_ms_per_s"] = phases.medians[1][1];
    state.counters["recording_cpu_ms_per_s"] = phases.medians[2][1];
}

}  // namespace rivlo::bench
