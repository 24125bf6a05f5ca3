// The screen movie's bit rate, quality and encoding cost on a scripted minute of use (text read
// while it scrolls, a pause, a shop's web page flicked through, a longer pause, a form filled in;
// see tests/screen/ScriptedScreenSession.h), played at two frames a second through the real movie
// writer as the recorder hands frames over.
//
//   bench_screen_bitrate --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
//
// Each iteration writes the movie twice, with the writer's settings under test and with the
// settings movies were written with before (libx264's average alone, "ultrafast"), in turns, and
// reports for the first, against the configured rate and against the second:
//   bit_per_s, x_rate          the file's bits per second of the movie and their ratio to the rate
//   worst_30s_bit_per_s, worst_30s_x_rate   the most the video track holds in any 30 s, per second
//   ssim, ssim_lowest          the decoded pictures against the frames drawn (mean, lowest frame)
//   encoder_ms_per_frame, encoder_x_before   the encoder thread's CPU time per frame captured,
//                              and its ratio to before's in the same iteration (the median)
//   before_*                   the same figures of the movie written as before
//
// The goals: x_rate and worst_30s_x_rate at most 1.05, ssim at least 0.98 at the default rate,
// encoder_x_before at most 1.1.

#include "movieprobe/MovieProbe.h"
#include "platform/linux/FfmpegMovieWriter.h"
#include "screen/ScriptedScreenSession.h"

#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

using namespace rivlo;
using rivlo::test::ScriptedScreenSession;

namespace {

// The frames, drawn once on the main thread before the benchmarks run.
std::vector<std::shared_ptr<const Image>>* gFrames = nullptr;
std::string gDirectory;

double cpuSeconds(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

struct Figures {
    double bitsPerSecond = 0;
    double worst30BitsPerSecond = 0;
    double similarity = 0;
    double lowestSimilarity = 0;
    double encoderMsPerFrame = 0;

    Figures& operator+=(const Figures& o) {
        bitsPerSecond += o.bitsPerSecond;
        worst30BitsPerSecond += o.worst30BitsPerSecond;
        similarity += o.similarity;
        lowestSimilarity += o.lowestSimilarity;
        encoderMsPerFrame += o.encoderMsPerFrame;
        return *this;
    }
};

// Writes the movie and measures it. The encoder thread's CPU time is the process's during the
// recording less this (the appending) thread's: nothing else runs meanwhile.
bool measure(const std::string& preset, H264RateControl::Mode mode, double bitRate,
             Figures& figures, std::string& error) {
    static int movies = 0;
    const std::string path = gDirectory + "/movie" + std::to_string(movies++) + ".mov";
    FfmpegMovieWriterFactory factory(preset, mode);
    const double process = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
    const double self = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
    if (!test::recordFrames(factory, path, *gFrames, bitRate, &error)) return false;
    const double encoder = (cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - process) -
                           (cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - self);
    media::MovieProbe probe;
    const auto similarity = test::movieSimilarity(path, *gFrames, &probe);
    std::remove(path.c_str());
    if (similarity.pictures != gFrames->size()) {
        error = "the movie holds " + std::to_string(similarity.pictures) + " pictures";
        return false;
    }
    figures.bitsPerSecond = probe.bitsPerSecond();
    figures.worst30BitsPerSecond = probe.mostBitsPerSecondOver(30);
    figures.similarity = similarity.mean;
    figures.lowestSimilarity = similarity.lowest;
    figures.encoderMsPerFrame = encoder * 1000 / static_cast<double>(gFrames->size());
    return true;
}

const char* const kPresets[] = {"ultrafast", "superfast", "veryfast"};

// Arguments: the preset (index into kPresets) and the configured rate in bits per second.
void BM_ScriptedSession(benchmark::State& state) {
    const std::string preset = kPresets[state.range(0)];
    const double rate = static_cast<double>(state.range(1));
    Figures now, before;
    std::vector<double> encoderRatios;
    int iterations = 0;
    for (auto _ : state) {
        // In turns, so that a change of load falls on both alike.
        Figures one, other;
        std::string error;
        const auto writeBefore = [&] {
            return measure("ultrafast", H264RateControl::Mode::AverageOnly, rate, other, error);
        };
        const bool ok = (iterations % 2 == 0 || writeBefore()) &&
                        measure(preset, H264RateControl::Mode::Capped, rate, one, error) &&
                        (iterations % 2 == 1 || writeBefore());
        if (!ok) {
            state.SkipWithError(error.c_str());
            return;
        }
        now += one;
        before += other;
        encoderRatios.push_back(one.encoderMsPerFrame / other.encoderMsPerFrame);
        ++iterations;
    }
    const double n = iterations;
    state.counters["bit_per_s"] = now.bitsPerSecond / n;
    state.counters["x_rate"] = now.bitsPerSecond / n / rate;
    state.counters["worst_30s_bit_per_s"] = now.worst30BitsPerSecond / n;
    state.counters["worst_30s_x_rate"] = now.worst30BitsPerSecond / n / rate;
    state.counters["ssim"] = now.similarity / n;
    state.counters["ssim_lowest"] = now.lowestSimilarity / n;
    state.counters["encoder_ms_per_frame"] = now.encoderMsPerFrame / n;
    // The median pair: CPU time on a shared machine has outliers either way.
    std::sort(encoderRatios.begin(), encoderRatios.end());
    state.counters["encoder_x_before"] = encoderRatios[encoderRatios.size() / 2];
    state.counters["before_x_rate"] = before.bitsPerSecond / n / rate;
    state.counters["before_worst_30s_x_rate"] = before.worst30BitsPerSecond / n / rate;
    state.counters["before_ssim"] = before.similarity / n;
    state.counters["before_ssim_lowest"] = before.lowestSimilarity / n;
    state.counters["before_encoder_ms_per_frame"] = before.encoderMsPerFrame / n;
    state.SetLabel(preset + " at " + std::to_string(state.range(1)) + " bit/s");
}

}  // namespace

// The writer's preset at the default rate, half and twice it; the next two presets at the
// default rate (slower per frame; their streams take no copies, so repeats are encoded).
BENCHMARK(BM_ScriptedSession)
    ->Args({0, 307200})
    ->Args({0, 153600})
    ->Args({0, 614400})
    ->Args({1, 307200})
    ->Args({2, 307200})
    ->Iterations(3)
    ->Unit(benchmark::kSecond);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    ScriptedScreenSession session;  // makes this thread the main one
    std::vector<std::shared_ptr<const Image>> frames = session.drawAll();
    gFrames = &frames;
    char pattern[] = "/tmp/rivlo-bitrate-XXXXXX";
    if (!::mkdtemp(pattern)) return 1;
    gDirectory = pattern;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    ::rmdir(pattern);
    return 0;
}
