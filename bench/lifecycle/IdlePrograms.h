#pragma once

// Idle programs measured phase by phase (bench_lifecycle's idle Qt Widgets program,
// bench_quick's idle QML program): a probe program, run as a process of its own for each phase
// ("alone", "installed", "recording"), prints its main thread's wake-ups a second, its CPU
// milliseconds a second and maybe more numbers; the phases run interleaved against the
// collector as a process, so that a change of load falls on every phase alike.

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace rivlo::bench {

struct IdlePhases {
    std::string error;  // why not every phase reported; "" when all did
    // medians[phase][n]: the median over the rounds of the probe's n-th number in that phase
    std::vector<std::vector<double>> medians;
};

// Runs `probe PHASE SECONDS KEY` for the three phases, `rounds` times interleaved, each reading
// `numbers` numbers from the probe's output. The calling thread.
IdlePhases runIdlePhases(const std::string& probe, size_t numbers, int rounds, double seconds);

// The wake-ups and CPU counters (the probe's first two numbers) of the phases, or the error.
void reportIdlePhases(benchmark::State& state, const IdlePhases& phases);

}  // namespace rivlo::bench
