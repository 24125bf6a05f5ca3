// Pending-upload store: the list operations the uploaders and producers run, each including
// the atomic flush of the defaults file (temporary file, fsync, rename, fsync of the folder).
// Run: bench_store --benchmark_repetitions=9 --benchmark_report_aggregates_only=true
#include "core/RVUtil.h"
#include "foundation/Log.h"
#include "foundation/UserDefaults.h"
#include "store/RVPlistHandler.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace rivlo;
namespace fs = std::filesystem;

namespace {

class StoreBenchDir {
  public:
    StoreBenchDir() {
        root_ = fs::temp_directory_path() / ("rivlo-store-bench-" + std::to_string(::getpid()));
        fs::remove_all(root_);
        fs::create_directories(root_ / "config");
        RVUtil::setApplicationCachesDirectory((root_ / "caches").string());
        UserDefaults::setStandardDirectory((root_ / "config").string());
        UserDefaults::standard().reload();
        fs::create_directories(RVUtil::folderPath("/RVData"));
        Log::setSink([](const std::string&) {});
    }
    ~StoreBenchDir() { fs::remove_all(root_); }

  private:
    fs::path root_;
};

std::string docName(int i) {
    return "bench" + std::to_string(i) + ".txt";
}

// A text-file list of count entries; the first withFiles entries also get their file.
void plantList(int count, int withFiles) {
    Value list = Value::array();
    for (int i = 0; i < count; ++i) {
        list.push_back({{"fileName", docName(i)}, {"appDeviceId", "bench-device"}});
    }
    const std::string folder = RVUtil::folderPath("/RVData");
    for (int i = 0; i < withFiles; ++i)
        std::ofstream(folder + "/" + docName(i)) << "{}";
    UserDefaults::standard().set(RVPlistHandler::kTextFileKey, list);
    UserDefaults::standard().synchronize();
}

void BM_ReadAndTrimList(benchmark::State& state) {
    StoreBenchDir dir;
    for (auto _ : state) {
        state.PauseTiming();
        plantList(501, 1);  // one entry over the maximum: every read trims and flushes
        state.ResumeTiming();
        auto records = RVPlistHandler::sharedHandler()->textFileList();
        benchmark::DoNotOptimize(records);
    }
}

void BM_ReadList(benchmark::State& state) {
    StoreBenchDir dir;
    plantList(500, 0);
    for (auto _ : state) {
        auto records = RVPlistHandler::sharedHandler()->textFileList();
        benchmark::DoNotOptimize(records);
    }
}

// No list at all: the cost of the hop onto the store's queue and back.
void BM_ReadEmptyList(benchmark::State& state) {
    StoreBenchDir dir;
    for (auto _ : state) {
        auto records = RVPlistHandler::sharedHandler()->textFileList();
        benchmark::DoNotOptimize(records);
    }
}

void BM_RemoveOneEntry(benchmark::State& state) {
    StoreBenchDir dir;
    for (auto _ : state) {
        state.PauseTiming();
        plantList(500, 1);
        state.ResumeTiming();
        RVPlistHandler::sharedHandler()->removeTextFile(RVTextFile(docName(0), ""));
    }
}

void BM_AddOneEntry(benchmark::State& state) {
    StoreBenchDir dir;
    for (auto _ : state) {
        state.PauseTiming();
        plantList(499, 0);
        state.ResumeTiming();
        RVPlistHandler::sharedHandler()->addTextFile(RVTextFile("new.txt", "bench-device"));
    }
}

}  // namespace

BENCHMARK(BM_ReadAndTrimList)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(9)
    ->ReportAggregatesOnly();
BENCHMARK(BM_ReadList)->Unit(benchmark::kMicrosecond)->Repetitions(9)->ReportAggregatesOnly();
BENCHMARK(BM_ReadEmptyList)->Unit(benchmark::kMicrosecond)->Repetitions(9)->ReportAggregatesOnly();
BENCHMARK(BM_RemoveOneEntry)->Unit(benchmark::kMicrosecond)->Repetitions(9)->ReportAggregatesOnly();
BENCHMARK(BM_AddOneEntry)->Unit(benchmark::kMicrosecond)->Repetitions(9)->ReportAggregatesOnly();

BENCHMARK_MAIN();
