#include "foundation/Clock.h"
#include "foundation/Error.h"
#include "foundation/Log.h"
#include "foundation/StorageSpace.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>

using namespace rivlo;

TEST(LogTest, OneFormattedLinePerCallToTheSink) {
    std::vector<std::string> lines;
    Log::setSink([&](const std::string& l) { lines.push_back(l); });
    RVLog("Rivlo: %s %d", "run", 3);
    Log::write("%s", std::string(1000, 'x').c_str());
    Log::setSink(nullptr);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "Rivlo: run 3");
    EXPECT_EQ(lines[1].size(), 1000u);
}

TEST(ErrorTest, DescriptionFallsBackAndKeepsEntryOrder) {
    Error e("RVAFNetworkingErrorDomain", -1011);
    EXPECT_EQ(e.localizedDescription(),
              "The operation couldn\u2019t be completed. (RVAFNetworkingErrorDomain error -1011.)");
    e.setInfo(ErrorKey::LocalizedRecoverySuggestion, "body");
    e.setInfo(ErrorKey::LocalizedDescription, "Expected status code in (200-299), got 500");
    EXPECT_EQ(e.localizedDescription(), "Expected status code in (200-299), got 500");
    EXPECT_EQ(e.localizedRecoverySuggestion(), "body");
    EXPECT_FALSE(e.localizedFailureReason());
    EXPECT_EQ(e.keyOrder, (std::vector<std::string>{ErrorKey::LocalizedRecoverySuggestion,
                                                    ErrorKey::LocalizedDescription}));
}

TEST(ClockTest, WallClockIsSecondsSince1970AndMonotonicNeverGoesBack) {
    double now = Clock::now();
    EXPECT_GT(now, 1.7e9);
    double a = Clock::monotonic();
    double b = Clock::monotonic();
    EXPECT_LE(a, b);
}

// A full disk costs one line, however much the library's own clean-up frees and fills again in
// between; the period ends when a write finds the file system with room.
TEST(StorageSpace, AFullPeriodIsOneLineUntilAWriteFindsRoomAgain) {
    rivlo::test::LogCapture log;
    EXPECT_FALSE(rivlo::StorageSpace::noteWriteFailure(EACCES, "a"));  // not ours to log
    EXPECT_TRUE(rivlo::StorageSpace::noteWriteFailure(ENOSPC, "defaults"));
    EXPECT_TRUE(rivlo::StorageSpace::isFull());
    // A deleted movie freed a little; a small write fitted, the next one did not.
    rivlo::StorageSpace::noteWriteSuccess(uint64_t{200 * 1024});
    EXPECT_TRUE(rivlo::StorageSpace::noteWriteFailure(ENOSPC, "document"));
    EXPECT_TRUE(rivlo::StorageSpace::noteWriteFailure(EDQUOT, "movie"));
    EXPECT_EQ(log.count("storage is full"), 1u) << log.all();
    EXPECT_EQ(log.count("available again"), 0u) << log.all();
    // Space returned.
    rivlo::StorageSpace::noteWriteSuccess(uint64_t{64} << 20);
    EXPECT_FALSE(rivlo::StorageSpace::isFull());
    EXPECT_EQ(log.count("available again"), 1u) << log.all();
    rivlo::StorageSpace::noteWriteSuccess(uint64_t{64} << 20);  // nothing more to say
    EXPECT_EQ(log.lines().size(), 2u) << log.all();
}
