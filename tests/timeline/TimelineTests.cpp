#include "store/RVJSONDataHandler.h"
#include "support/Registrations.h"
#include "timeline/RVHeatTimeHandler.h"

#include <gtest/gtest.h>

#include <thread>

using namespace rivlo;

namespace {

// The hooks and session steps the library's start registers, for the recorders this suite
// links.
const bool kRegistered = (rivlo::test::registerTimeline(), true);

std::shared_ptr<RVHeatTimeDetail> gesture(const std::string& screen, const std::string& at,
                                          RVCoordinate record, bool web = false) {
    auto d = std::make_shared<RVHeatTimeDetail>(screen, at, web);
    d->coordinateList()->append(record);
    return d;
}

RVCoordinate tap(double x, double y, double second) {
    return {x, y, 1, 0, 1, second, x, y};
}

class Timeline : public ::testing::Test {
  protected:
    void SetUp() override {
        RVHeatTimeHandler::resetTimer();
        RVHeatTimeHandler::reset();
        RVHeatTimeHandler::sharedHandler()->setVcDetail(std::make_shared<RVVCDetail>());
    }
    RVHeatTimeHandler* h = RVHeatTimeHandler::sharedHandler();
};

}  // namespace

TEST_F(Timeline, ExampleEntrySerialisesAsTheDocumentExpects) {
    h->addTimeLine(gesture("unknown", "0", tap(160.5, 300, 14)));
    h->addTimeLine(gesture("unknown", "0", {-999, -999, 0, 10, 1, 20, -999, -999}));
    EXPECT_EQ(
        h->timeLineList().dump(),
        R"([{"an":"unknown","at":"0","cor":[[160.5,300,1,0,1,14,160.5,300],[-999,-999,0,10,1,20,-999,-999]],"wb":0}])");
}

TEST_F(Timeline, RunsOfEqualScreenNamesGroupIntoOneEntry) {
    // A, then B without gestures (never reaches the timeline), then A again: one entry.
    h->addTimeLine(gesture("A", "1", tap(1, 1, 1)));
    h->addTimeLine(gesture("A", "5", tap(2, 2, 6)));
    auto list = h->timeLineList();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0]["at"], "1");  // the first gesture's appear time
    EXPECT_EQ(list[0]["cor"].size(), 2u);

    // A, B, A: three entries.
    h->addTimeLine(gesture("B", "7", tap(3, 3, 7), true));
    h->addTimeLine(gesture("A", "9", tap(4, 4, 9)));
    list = h->timeLineList();
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[1]["an"], "B");
    EXPECT_EQ(list[1]["wb"], 1);
    EXPECT_EQ(list[2]["an"], "A");
    EXPECT_EQ(list[2]["at"], "9");
}

TEST_F(Timeline, ResetEmptiesTheTimelineAndZeroesTheAppearTime) {
    h->addTimeLine(gesture("A", "3", tap(1, 1, 3)));
    h->vcDetail()->setWillAppearVCName("Shop");
    RVHeatTimeHandler::reset();
    EXPECT_EQ(h->timeLineList().size(), 0u);
    EXPECT_EQ(h->vcDetail()->vcName(), "Shop");
    EXPECT_EQ(h->vcDetail()->appearTime(), "0");
    // The last record is forgotten too: the same name opens a fresh entry.
    h->addTimeLine(gesture("A", "0", tap(1, 1, 0)));
    EXPECT_EQ(h->timeLineList().size(), 1u);
}

TEST_F(Timeline, ClockReadsZeroWhileStoppedAndWholeSecondsWhileRunning) {
    EXPECT_EQ(RVHeatTimeHandler::timeLineTimer(), "0");
    RVHeatTimeHandler::startTimer();
    EXPECT_EQ(RVHeatTimeHandler::timeLineTimer(), "0");
    RVHeatTimeHandler::resetTimer();
    EXPECT_EQ(RVHeatTimeHandler::timeLineTimer(), "0");
}

TEST_F(Timeline, SaveHeatMapHandsTheDocumentACopy) {
    h->addTimeLine(gesture("A", "0", tap(5, 6, 0)));
    RVHeatTimeHandler::saveHeatMap();
    h->addTimeLine(gesture("A", "0", tap(7, 8, 1)));  // after the hand-over
    auto saved = RVJSONDataHandler::sharedHandler()->heatTimeList();
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_EQ(saved[0]["cor"].size(), 1u);
}

TEST_F(Timeline, GesturesAndSavesOnTwoThreadsStayConsistent) {
    std::thread saver([] {
        for (int i = 0; i < 200; ++i)
            RVHeatTimeHandler::saveHeatMap();
    });
    for (int i = 0; i < 500; ++i)
        h->addTimeLine(gesture(i % 50 < 25 ? "A" : "B", "0", tap(i, i, 0)));
    saver.join();
    auto list = h->timeLineList();
    size_t records = 0;
    for (const auto& e : list)
        records += e["cor"].size();
    EXPECT_EQ(records, 500u);
    EXPECT_EQ(list.size(), 20u);
}

TEST(ScreenRecord, FreshRecordAndNamingRules) {
    RVHeatTimeHandler::resetTimer();
    RVVCDetail d;
    EXPECT_EQ(d.vcName(), "unknown");
    EXPECT_EQ(d.appearTime(), "0");
    EXPECT_EQ(d.description(), "willAppear VC Name:unknown, didAppear VC Name:unknown");

    // Will-appear then did-appear of the same screen: the did-appear changes nothing.
    d.setWillAppearVCName("A");
    EXPECT_EQ(d.vcName(), "A");
    EXPECT_FALSE(d.didAppearVCName());
    d.setDidAppearVCName("A");
    EXPECT_FALSE(d.didAppearVCName());
    EXPECT_EQ(d.willAppearTime(), "0");

    // A did-appear with another name renames and takes the did-appear time.
    d.setDidAppearVCName("B");
    EXPECT_EQ(d.vcName(), "B");
    EXPECT_FALSE(d.willAppearVCName());
    EXPECT_FALSE(d.willAppearTime());
    EXPECT_EQ(d.appearTime(), "0");

    d.resetAppearTime();
    EXPECT_EQ(d.appearTime(), "0");
    EXPECT_EQ(d.vcName(), "B");
}
