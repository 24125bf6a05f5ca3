// The library started and closed a hundred times in one process, each time recording a session
// on the headless device against the collector (in a process of its own) and closing with its
// uploads: afterwards the process has exactly the threads and descriptors it had before the
// first start, and the memory in use has not grown with the cycles.

#include "CollectorProcess.h"
#include "ProcessCounts.h"

#include <rivlo/Rivlo.h>
#include <rivlo/rivlo.h>

#include <gtest/gtest.h>

#include <malloc.h>

#include <cstdlib>
#include <string>

namespace {

using rivlo::test::CollectorProcess;
using rivlo::test::ProcessCounts;

constexpr int kCycles = 100;
constexpr const char* kKey = "cycles-key";

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kMallocCounts = false;  // the sanitizers keep their own heap
#else
constexpr bool kMallocCounts = true;
#endif

size_t heapInUse() {
    return mallinfo2().uordblks;
}

// One cycle: start with a key on the headless device, let the session be verified and record,
// tag it, close (stop, uploads) within its limit.
void cycle(const std::string& url, int n) {
    rivlo_options_t* options = rivlo_options_new();
    ASSERT_NE(options, nullptr);
    ASSERT_EQ(rivlo_options_set_application_id(options, "com.example.cycles"), RIVLO_OK);
    ASSERT_EQ(rivlo_options_set_service_url(options, url.c_str()), RIVLO_OK);
    ASSERT_EQ(rivlo_options_set_application_key(options, kKey), RIVLO_OK);
    ASSERT_EQ(rivlo_options_set_headless_platform(options, 1), RIVLO_OK);
    ASSERT_EQ(rivlo_init(options), RIVLO_OK) << "cycle " << n;
    rivlo_options_free(options);
    // The verification and what it starts.
    ASSERT_EQ(rivlo_flush(60000), RIVLO_OK) << "cycle " << n;
    rivlo_run_main_loop(0.2);  // a frame or two of the screen movie
    rivlo_add_tag(("cycle-" + std::to_string(n)).c_str());
    ASSERT_EQ(rivlo_close(60000), RIVLO_OK) << "cycle " << n;
}

}  // namespace

TEST(InitCloseCycles, AHundredStartsAndClosesLeaveNoThreadNoDescriptorAndNoGrowingHeap) {
    const std::string root = rivlo::test::makeTemporaryDirectory("rivlo-cycles");
    ASSERT_FALSE(root.empty());
    setenv("HOME", root.c_str(), 1);
    setenv("XDG_CACHE_HOME", (root + "/cache").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
    const std::string data = root + "/collector";
    std::filesystem::create_directories(data);
    CollectorProcess collector(data, kKey);
    ASSERT_TRUE(collector.start());
    rivlo_set_log_handler([](const char*, void*) {}, nullptr);  // quiet: a hundred sessions

    const ProcessCounts before = ProcessCounts::now();
    size_t heapAfterWarmUp = 0;
    for (int n = 0; n < kCycles; ++n) {
        cycle(collector.url(), n);
        if (HasFatalFailure()) return;
        const ProcessCounts now = ProcessCounts::now();
        ASSERT_EQ(now.threads, before.threads) << "after cycle " << n << ": " << now.describe();
        ASSERT_EQ(now.descriptors, before.descriptors)
            << "after cycle " << n << ": " << now.describe();
        if (n == 9) heapAfterWarmUp = heapInUse();  // caches of the libraries below us are full
    }
    if (kMallocCounts) {
        // 90 cycles: a leak of a few hundred bytes each would pass; a session's worth would not.
        const size_t grown = heapInUse() > heapAfterWarmUp ? heapInUse() - heapAfterWarmUp : 0;
        EXPECT_LT(grown, 2u << 20)
            << "the heap in use grew by " << grown << " bytes in " << kCycles - 10 << " cycles";
    }
    // Every cycle's session arrived.
    const std::string report = collector.report();
    EXPECT_NE(report.find("cycle-0"), std::string::npos) << report.substr(0, 2000);
    EXPECT_NE(report.find("cycle-99"), std::string::npos) << report.substr(0, 2000);
    rivlo_set_log_handler(nullptr, nullptr);
    collector.kill();
    std::filesystem::remove_all(root);
}
