// The console's server time on a large index: one page of the session list with a filter, and
// a heat map of one screen over its sessions, the first time (summed from the index) and after
// (the drawn answer kept). Each on an index of 100,000 sessions over 30 days, 10,000 of which
// visit the screen of the heat map with five gestures each, and, as the baseline of the same
// run, on an index of 1,000 such sessions (100 on that screen): the ratio says how the time
// grows with the index.
//
// SQLite by default; RIVLO_BENCH_DATABASE=postgresql://... runs it on an empty PostgreSQL
// database instead. RIVLO_BENCH_SESSIONS changes the large index's size.
// Run: bench_console --benchmark_min_time=0.5
#include "CollectorIndex.h"
#include "ConsoleQueries.h"
#include "HeatMapCache.h"
#include "HeatMapView.h"
#include "SessionRows.h"
#include "protocol/RVWireProtocol.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <random>

#include <unistd.h>

using namespace rivlo::collector;
namespace fs = std::filesystem;

namespace {

constexpr const char* kAppKey = "bench-key";
constexpr const char* kHeatScreen = "CheckoutViewController";
constexpr int64_t kStart = 1796000000;  // the first session's start (Unix seconds)
constexpr int64_t kDays = 30;

// One index filled with `sessions` sessions, kept for the program's run.
class BenchIndex {
  public:
    explicit BenchIndex(int64_t sessions) {
        dir_ = fs::temp_directory_path() / ("rivlo-console-bench-" + std::to_string(::getpid()) +
                                            "-" + std::to_string(sessions));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        dataDirText_ = dir_.string();
        std::string url = CollectorIndex::defaultUrl(dir_.string());
        if (const char* pg = std::getenv("RIVLO_BENCH_DATABASE"); pg && *pg) url = pg;
        std::string error;
        if (!index_.open(url, false, error)) {
            std::fprintf(stderr, "bench_console: %s\n", error.c_str());
            std::exit(1);
        }
        fill(sessions);
        queries_ = std::make_unique<ConsoleQueries>(index_);
    }
    ~BenchIndex() {
        // A PostgreSQL database is left for the next size to empty again.
        index_.close();
        fs::remove_all(dir_);
    }

    ConsoleQueries& queries() { return *queries_; }
    const std::string& dataDir() const { return dataDirText_; }

  private:
    void fill(int64_t count) {
        std::mt19937 random(7);
        const char* screens[] = {"HomeViewController",        "SearchViewController",
                                 "ProductListViewController", "ProductPageViewController",
                                 "CartViewController",        "AccountViewController",
                                 "SettingsViewController",    "HelpViewController"};
        std::string error;
        const bool ok = index_.use([&](SqlDatabase& db) {
            // Rows of an earlier, larger run on the same PostgreSQL database go first.
            for (const char* table : {"sessions", "session_tags", "session_screens",
                                      "session_points", "heat_points", "applications"}) {
                if (!db.run(std::string("DELETE FROM ") + table, {}, nullptr, error)) return false;
            }
            if (!db.run("INSERT INTO applications (app_key, name, folder) VALUES ($1, $2, $3)",
                        {kAppKey, "Bench", "Bench-1"}, nullptr, error)) {
                return false;
            }
            for (int64_t i = 0; i < count; ++i) {
                if (i % 1000 == 0 && !db.run(db.beginWrite(), {}, nullptr, error)) return false;
                SessionRecord s;
                s.appKey = kAppKey;
                s.appDeviceId = "device-" + std::to_string(i % 5000);
                s.run = i / 5000 + 1;
                s.startedUnix = kStart + i * (kDays * 86400) / count;
                s.duration = 20 + static_cast<int64_t>(random() % 600);
                s.crash = random() % 50 == 0;
                s.userName = "user-" + std::to_string(i % 5000);
                s.version = i % 2 ? "2.1" : "2.0";
                s.tags.push_back("campaign-" + std::to_string(random() % 50));
                const bool checkout = i % 10 == 0;  // one session in ten
                for (int k = 0; k < 4; ++k) {
                    SessionScreen visit;
                    visit.name = screens[(i + k) % 8];
                    visit.appearedAt = k * 5;
                    s.visited.push_back(visit);
                }
                if (checkout) {
                    SessionScreen visit;
                    visit.name = kHeatScreen;
                    visit.appearedAt = 20;
                    visit.firstGestureAt = 21;
                    s.visited.push_back(visit);
                    for (int g = 0; g < 5; ++g) {
                        SessionPoint p;
                        p.screen = kHeatScreen;
                        p.kind = g == 4 ? rivlo::RVTimelineEvent::SwipeUp
                                        : rivlo::RVTimelineEvent::SingleTap;
                        p.x = static_cast<int64_t>(random() % 375);
                        p.y = static_cast<int64_t>(random() % 667);
                        p.count = 1;
                        s.points.push_back(p);
                    }
                }
                s.screens = static_cast<int64_t>(s.visited.size());
                s.gestures = checkout ? 5 : 0;
                if (!SessionRows::insert(db, i + 1, s, error)) return false;
                if ((i % 1000 == 999 || i + 1 == count) && !db.run("COMMIT", {}, nullptr, error))
                    return false;
            }
            return true;
        });
        if (!ok) {
            std::fprintf(stderr, "bench_console: filling the index: %s\n", error.c_str());
            std::exit(1);
        }
    }

    fs::path dir_;
    std::string dataDirText_;
    CollectorIndex index_;
    std::unique_ptr<ConsoleQueries> queries_;
};

int64_t largeCount() {
    const char* text = std::getenv("RIVLO_BENCH_SESSIONS");
    return text && *text ? std::atoll(text) : 100000;
}

// The two indexes of the run, built when first needed (one at a time: PostgreSQL holds one).
BenchIndex& indexOf(int64_t sessions) {
    static std::unique_ptr<BenchIndex> current;
    static int64_t size = -1;
    if (size != sessions) {
        current.reset();
        current = std::make_unique<BenchIndex>(sessions);
        size = sessions;
    }
    return *current;
}

int64_t sizeOf(const benchmark::State& state) {
    return state.range(0) == 0 ? 1000 : largeCount();
}

void listWith(benchmark::State& state, ConsoleQueries::SessionFilter filter) {
    ConsoleQueries& queries = indexOf(sizeOf(state)).queries();
    filter.appKey = kAppKey;
    filter.limit = 50;
    int64_t total = 0;
    for (auto _ : state) {
        ConsoleQueries::SessionPage page;
        std::string error;
        if (!queries.sessions(filter, page, error)) state.SkipWithError(error.c_str());
        total = page.total;
        benchmark::DoNotOptimize(page);
    }
    state.counters["sessions"] = static_cast<double>(sizeOf(state));
    state.counters["matching"] = static_cast<double>(total);
}

// Arguments: 0 the baseline index (1,000 sessions), 1 the large one.
void BM_ListByTag(benchmark::State& state) {
    ConsoleQueries::SessionFilter filter;
    filter.tag = "campaign-7";
    listWith(state, filter);
}

void BM_ListByScreenNotCrashedInAWeek(benchmark::State& state) {
    ConsoleQueries::SessionFilter filter;
    filter.screen = kHeatScreen;
    filter.crashed = false;
    filter.from = kStart + 10 * 86400;
    filter.to = kStart + 17 * 86400;
    listWith(state, filter);
}

ConsoleQueries::HeatQuery heatQuery() {
    ConsoleQueries::HeatQuery query;
    query.appKey = kAppKey;
    query.screen = kHeatScreen;
    query.fromDay = SessionRows::dayOf(kStart);
    query.toDay = SessionRows::dayOf(kStart) + kDays;
    return query;
}

// The first time: summed from the index and written as JSON.
void BM_HeatMapFirst(benchmark::State& state) {
    BenchIndex& index = indexOf(sizeOf(state));
    HeatMapView view(index.queries(), index.dataDir());
    const std::set<std::string> kinds = {"tap", "double_tap", "swipe", "pinch"};
    int64_t sessions = 0;
    for (auto _ : state) {
        nlohmann::json out;
        std::string error;
        if (!view.asJson(heatQuery(), kinds, out, error)) state.SkipWithError(error.c_str());
        sessions = out["sessions"].get<int64_t>();
        benchmark::DoNotOptimize(out.dump());
    }
    state.counters["heat_sessions"] = static_cast<double>(sessions);
}

// After: what the console does for a question already answered (its application's generation
// read from the index, the kept answer found).
void BM_HeatMapKept(benchmark::State& state) {
    BenchIndex& index = indexOf(sizeOf(state));
    HeatMapCache cache;
    const auto generation = index.queries().generation(kAppKey);
    HeatMapCache::Entry entry;
    entry.generation = generation.value_or(0);
    entry.contentType = "application/json";
    entry.body.assign(200000, 'x');
    cache.put("question", entry);
    for (auto _ : state) {
        const auto now = index.queries().generation(kAppKey);
        auto kept = cache.find("question", now.value_or(-1));
        if (!kept) state.SkipWithError("not kept");
        benchmark::DoNotOptimize(kept);
    }
}

}  // namespace

// Every benchmark on the baseline index, then every one on the large index (each is filled once).
BENCHMARK(BM_ListByTag)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListByScreenNotCrashedInAWeek)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HeatMapFirst)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HeatMapKept)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListByTag)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListByScreenNotCrashedInAWeek)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HeatMapFirst)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HeatMapKept)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
