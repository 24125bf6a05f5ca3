// The library in a host, measured against a baseline in the same run:
//
//   BM_LoadIntoACProcess: loading librivlo.so.1 into a plain C process (rivlo-load-probe, a
//     fresh process each time) against loading libcurl alone, alternately; the medians' ratio
//     (goal: at most 2.5) and the difference in peak resident size (goal: at most 8 MiB).
//   BM_CloseAgainstASilentService: close with a 2 s limit while a session's uploads go to a
//     collector that was stopped (SIGSTOP: its socket accepts, nobody answers); how long close
//     took against its limit (goal: at most 1.1, that is 2.2 s).
//   BM_IdleQtProgram (with the Qt bridge): an idle Qt Widgets program on the shared libraries
//     (rivlo-qt-idle-probe, a fresh process for each phase) without the library, with the
//     bridge installed, and recording at 2 frames a second, the three interleaved three times;
//     the main thread's wake-ups a second the library adds to the program alone (goal: at most
//     5; recording needs 2) and its CPU time.
//
//   build/release/bench/lifecycle/bench_lifecycle

#include "lifecycle/CollectorProcess.h"
#include "lifecycle/IdlePrograms.h"

#include <rivlo/rivlo.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

struct Load {
    double milliseconds = 0;
    double residentKiB = 0;
};

// One load in a fresh process.
Load probe(const std::string& library) {
    const std::string command = std::string(RIVLO_LOAD_PROBE) + " '" + library + "'";
    Load load;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        if (std::fscanf(pipe, "%lf %lf", &load.milliseconds, &load.residentKiB) != 2) {
            load = Load{};
        }
        pclose(pipe);
    }
    return load;
}

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void BM_LoadIntoACProcess(benchmark::State& state) {
    std::vector<double> rivloMs, curlMs, rivloKiB, curlKiB;
    for (auto _ : state) {
        // Alternately, so that a change of load falls on both alike.
        const Load curl = probe(RIVLO_LIBCURL);
        const Load rivlo = probe(RIVLO_LIBRARY);
        if (rivlo.milliseconds <= 0 || curl.milliseconds <= 0) {
            state.SkipWithError("a library did not load");
            return;
        }
        curlMs.push_back(curl.milliseconds);
        rivloMs.push_back(rivlo.milliseconds);
        curlKiB.push_back(curl.residentKiB);
        rivloKiB.push_back(rivlo.residentKiB);
        state.SetIterationTime(rivlo.milliseconds / 1000.0);
    }
    state.counters["librivlo_ms"] = median(rivloMs);
    state.counters["libcurl_ms"] = median(curlMs);
    state.counters["time_ratio"] = median(rivloMs) / median(curlMs);
    state.counters["rss_added_MiB"] = (median(rivloKiB) - median(curlKiB)) / 1024.0;
}
BENCHMARK(BM_LoadIntoACProcess)->UseManualTime()->Iterations(21)->Unit(benchmark::kMillisecond);

void BM_CloseAgainstASilentService(benchmark::State& state) {
    const std::string root = rivlo::test::makeTemporaryDirectory("rivlo-bench-close");
    setenv("HOME", root.c_str(), 1);
    setenv("XDG_CACHE_HOME", (root + "/cache").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
    rivlo_set_log_handler([](const char*, void*) {}, nullptr);
    const double limit = 2.0;
    std::vector<double> ratios;
    int run = 0;
    for (auto _ : state) {
        const std::string data = root + "/collector-" + std::to_string(run++);
        std::filesystem::create_directories(data);
        rivlo::test::CollectorProcess collector(data, "bench-key");
        if (!collector.start()) {
            state.SkipWithError("the collector did not start");
            return;
        }
        rivlo_options_t* options = rivlo_options_new();
        rivlo_options_set_application_id(options, "com.example.bench-close");
        rivlo_options_set_service_url(options, collector.url().c_str());
        rivlo_options_set_application_key(options, "bench-key");
        rivlo_options_set_headless_platform(options, 1);
        rivlo_init(options);
        rivlo_options_free(options);
        rivlo_flush(60000);
        rivlo_run_main_loop(1.0);
        collector.pause();
        const auto start = std::chrono::steady_clock::now();
        const int rc = rivlo_close(static_cast<uint64_t>(limit * 1000));
        const double took =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        collector.kill();
        if (rc != RIVLO_ERROR_TIMEOUT) {
            state.SkipWithError("close did not run into its limit");
            return;
        }
        state.SetIterationTime(took);
        ratios.push_back(took / limit);
    }
    state.counters["close_s_over_limit"] = median(ratios);
    state.counters["worst_over_limit"] = *std::max_element(ratios.begin(), ratios.end());
    rivlo_set_log_handler(nullptr, nullptr);
    std::filesystem::remove_all(root);
}
BENCHMARK(BM_CloseAgainstASilentService)
    ->UseManualTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);

#ifdef RIVLO_QT_IDLE_PROBE
void BM_IdleQtProgram(benchmark::State& state) {
    rivlo::bench::IdlePhases phases;
    for (auto _ : state) {
        phases = rivlo::bench::runIdlePhases(RIVLO_QT_IDLE_PROBE, 2, 3, 10);
        state.SetIterationTime(3 * 3 * 10.0);
    }
    rivlo::bench::reportIdlePhases(state, phases);
    state.SetLabel("390x844 window, nothing changing, 10 s per phase, medians of 3");
}
BENCHMARK(BM_IdleQtProgram)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);
#endif

}  // namespace

BENCHMARK_MAIN();
