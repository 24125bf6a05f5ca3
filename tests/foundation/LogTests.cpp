#include "foundation/Clock.h"
#include "foundation/Error.h"
#include "foundation/Log.h"

#include <gtest/gtest.h>

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
