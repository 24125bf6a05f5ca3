#include "StoreTestSupport.h"

#include "foundation/Clock.h"

#include <regex>
#include <set>
#include <thread>

using namespace rivlo;
using namespace rivlo::test;

class RVUtilTest : public StoreTest {};

TEST_F(RVUtilTest, FileStampsIncreaseStrictlyWithinASecondAndAcrossThreads) {
    const long long now = static_cast<long long>(Clock::now());
    const long long a = std::stoll(RVUtil::dateForFile());
    const long long b = std::stoll(RVUtil::dateForFile());
    const long long c = std::stoll(RVUtil::dateForFile());
    EXPECT_GE(a, now);
    EXPECT_EQ(b, a + 1);
    EXPECT_EQ(c, a + 2);

    std::mutex mutex;
    std::set<std::string> stamps;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 50; ++i) {
                auto stamp = RVUtil::dateForFile();
                std::lock_guard<std::mutex> lock(mutex);
                stamps.insert(stamp);
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(stamps.size(), 200u);
}

TEST_F(RVUtilTest, FileStampsSkipNamesAlreadyOnDisk) {
    const long long last = std::stoll(RVUtil::dateForFile());
    for (long long s = last + 1; s <= last + 3; ++s) {
        writeFile(folder("/RVScreenVideos") / ("VENDOR_" + std::to_string(s) + ".mp4"), "old");
    }
    const long long stamp = std::stoll(RVUtil::dateForFile("/RVScreenVideos", "VENDOR_", ".mp4"));
    EXPECT_GT(stamp, last + 3);

    std::set<std::string> refused;
    const std::string chosen = RVUtil::dateForFile([&](const std::string& candidate) {
        if (refused.size() < 2) {
            refused.insert(candidate);
            return true;
        }
        return false;
    });
    EXPECT_EQ(refused.size(), 2u);
    EXPECT_EQ(refused.count(chosen), 0u);
}

TEST_F(RVUtilTest, FolderPathsHangOffTheStoreRoot) {
    const std::string caches = (root_ / "caches").string();
    EXPECT_EQ(RVUtil::cachesDirectory(), caches + "/com.rivlo.rivlosdk");
    EXPECT_EQ(RVUtil::folderPath("/RVData"), caches + "/com.rivlo.rivlosdk/RVData");
    EXPECT_EQ(RVUtil::folderPath("RVScreenVideos/"), caches + "/com.rivlo.rivlosdk/RVScreenVideos");
    EXPECT_EQ(RVUtil::folderPath(""), caches + "/com.rivlo.rivlosdk");
    RVUtil::setApplicationCachesDirectory(caches + "/");
    EXPECT_EQ(RVUtil::folderPath("/RVData"), caches + "/com.rivlo.rivlosdk/RVData");
}

TEST_F(RVUtilTest, SessionValuesAndTheirTextForms) {
    RVUtil::sharedHandler()->setCount(12);
    EXPECT_EQ(RVUtil::deviceRunNo(), "12");
    RVUtil::appDeviceId("");
    EXPECT_EQ(RVUtil::appDeviceId(), "");

    RVUtil::sharedHandler()->startApplicationTimer();
    EXPECT_EQ(RVUtil::sharedHandler()->applicationTotalTime(), "0");
    Clock::setWallOffsetForTesting(125.7);
    EXPECT_EQ(RVUtil::sharedHandler()->applicationTotalTime(), "125");
    Clock::setWallOffsetForTesting(0);

    const std::regex pattern(R"(\d{4}-\d{2}-\d{2} (0[1-9]|1[0-2]):\d{2}:\d{2} (AM|PM))");
    EXPECT_TRUE(std::regex_match(RVUtil::sharedHandler()->currentDate(), pattern))
        << RVUtil::sharedHandler()->currentDate();
}
