// The movie's clock against the wall clock at a frame rate whose interval is not a whole number
// of milliseconds. The recorder copies its capture interval once, when it is created, so each
// rate is a program of its own (RIVLO_TEST_FPS).

#include "foundation/Clock.h"
#include "screen/MovieProbe.h"
#include "screen/ScreenRecorderFixture.h"
#include "support/Registrations.h"

#include <gtest/gtest.h>

#include <cmath>
#include <thread>

using namespace rivlo;
using rivlo::test::MovieProbe;
using rivlo::test::ScreenRecorderWorld;

// The session steps the library's start registers for the screen recorder.
static const bool kRegistered = (rivlo::test::registerScreenRecorder(), true);

#ifndef RIVLO_TEST_FPS
#error "RIVLO_TEST_FPS names the frame rate under test"
#endif
#define RIVLO_CLOCK_TEST_NAME2(fps) MovieTimeIsElapsedTimeAt##fps##Fps
#define RIVLO_CLOCK_TEST_NAME(fps) RIVLO_CLOCK_TEST_NAME2(fps)

TEST(ScreenMovieClock, RIVLO_CLOCK_TEST_NAME(RIVLO_TEST_FPS)) {
    ScreenRecorderWorld world(320, 568);
    ScreenRecorderWorld::setScreenVideoOn(true);
    const float interval = 1.0f / RIVLO_TEST_FPS;  // as the settings derive it
    RVUtil::setting()->setVideoFrameRate(interval);
    auto* recorder = RVViewVideoHandler::sharedHandler();
    ASSERT_FLOAT_EQ(recorder->videoFrameRate(), interval);
    world.addView(Rect(0, 0, 320, 100), Color::rgb(0, 0, 255));

    // The recording starts between `starting` and `started` and ends between `stopping` and
    // `stopped`; on a loaded machine the stop's thread may take a while to run.
    const double starting = Clock::now();
    recorder->startScreenRecording();
    ASSERT_TRUE(recorder->isRecording());
    const double started = Clock::now();
    RunLoop::main().runUntil([] { return false; }, 6.0);
    const double stopping = Clock::now();
    std::thread([recorder] { recorder->stopScreenRecording(); }).join();
    const double stopped = Clock::now();
    ASSERT_TRUE(RunLoop::main().runUntil([recorder] { return !recorder->isRecording(); }, 30));

    const auto entries = RVPlistHandler::sharedHandler()->screenVideoEntries();
    ASSERT_EQ(entries.size(), 1u);
    const MovieProbe movie = MovieProbe::open(RVPlistHandler::pathInFolder(
        "/RVScreenVideos", PropertyList::text(entries[0], "videoName")));
    ASSERT_TRUE(movie.opened);
    const double shortest = stopping - started, longest = stopped - starting;
    const double tolerance = 0.005 * shortest;
    EXPECT_GE(movie.duration, shortest - tolerance);
    EXPECT_LE(movie.duration, longest + tolerance);
    // Frames follow the wall clock too: many of them, in order, never beyond the end.
    ASSERT_GE(movie.frames.size(), 6u * RIVLO_TEST_FPS / 4);
    double previous = -1;
    for (const auto& frame : movie.frames) {
        EXPECT_GT(frame.seconds, previous);
        previous = frame.seconds;
    }
    EXPECT_LE(previous, movie.duration);
}
