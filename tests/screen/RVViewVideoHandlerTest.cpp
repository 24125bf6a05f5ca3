// The screen recorder on the headless device, checked by decoding the movies it stores.

#include "foundation/Clock.h"
#include "platform/Graphics.h"
#include "platform/Label.h"
#include "screen/MovieProbe.h"
#include "screen/RVScreenVideo.h"
#include "screen/ScreenRecorderFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <thread>

namespace fs = std::filesystem;
using namespace rivlo;
using rivlo::test::DecodedFrame;
using rivlo::test::LogCapture;
using rivlo::test::MovieProbe;
using rivlo::test::ScreenRecorderWorld;

namespace {

RVViewVideoHandler* recorder() {
    return RVViewVideoHandler::sharedHandler();
}

std::vector<Value> storedEntries() {
    return RVPlistHandler::sharedHandler()->screenVideoEntries();
}

void clearStore() {
    for (const auto& entry : storedEntries()) {
        RVPlistHandler::sharedHandler()->removeScreenVideo(PropertyList::text(entry, "videoName"));
    }
}

// Stops from a thread of its own, as the session controller does.
void stopOnAnotherThread() {
    std::thread([] { recorder()->stopScreenRecording(); }).join();
}

// Records for about `seconds` while the main loop runs, stops, and waits until the recording
// has ended. Returns the wall-clock seconds from the start to the stop call.
double recordFor(double seconds) {
    const double started = Clock::now();
    recorder()->startScreenRecording();
    EXPECT_TRUE(recorder()->isRecording());
    RunLoop::main().runUntil([] { return false; }, seconds);
    const double elapsed = Clock::now() - started;
    stopOnAnotherThread();
    EXPECT_TRUE(RunLoop::main().runUntil([] { return !recorder()->isRecording(); }, 30));
    return elapsed;
}

bool isRed(const DecodedFrame::RGB& c) {
    return c.r > 200 && c.g < 60 && c.b < 60;
}
bool isBlue(const DecodedFrame::RGB& c) {
    return c.b > 200 && c.r < 60 && c.g < 60;
}
bool isWhite(const DecodedFrame::RGB& c) {
    return c.r > 200 && c.g > 200 && c.b > 200;
}

// Every pixel of the rectangle (movie pixels, edges included) is red.
::testing::AssertionResult allRed(const DecodedFrame& f, int x0, int y0, int x1, int y1) {
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
            const auto c = f.at(x, y);
            if (!isRed(c)) {
                return ::testing::AssertionFailure()
                       << "pixel (" << x << ", " << y << ") at " << f.seconds << " s is " << c.r
                       << "," << c.g << "," << c.b;
            }
        }
    }
    return ::testing::AssertionSuccess();
}

class ScreenRecorderTest : public ::testing::Test {
  protected:
    void TearDown() override {
        if (recorder()->isRecording()) {
            stopOnAnotherThread();
            RunLoop::main().runUntil([] { return !recorder()->isRecording(); }, 30);
        }
        clearStore();
    }
};

// The path of the one stored movie.
std::string storedMoviePath() {
    const auto entries = storedEntries();
    EXPECT_EQ(entries.size(), 1u);
    if (entries.empty()) return "";
    return RVPlistHandler::pathInFolder("/RVScreenVideos",
                                        PropertyList::text(entries[0], "videoName"));
}

}  // namespace

TEST_F(ScreenRecorderTest, RecordsTheKeyWindowWithSensitiveViewsPaintedOver) {
    ScreenRecorderWorld world(320, 568);
    clearStore();
    ScreenRecorderWorld::setScreenVideoOn(true);
    auto secret = world.addView(Rect(20, 100, 120, 60), Color::rgb(0, 255, 0));
    auto password = world.addSecureField(Rect(20, 300, 200, 40));
    auto plain = world.addView(Rect(180, 100, 100, 60), Color::rgb(0, 0, 255));
    RVViewVideoHandler::addSensitiveView(secret);
    RVViewVideoHandler::addSensitiveView(password);

    const double elapsed = recordFor(2.6);

    const auto entries = storedEntries();
    ASSERT_EQ(entries.size(), 1u);
    auto record = RVScreenVideo::initFromSavedDictionary(entries[0]);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->videoType, "screen");
    EXPECT_FALSE(fs::exists(world.screenVideoFolder() + "/UserActivity.mov"));
    const std::string path = storedMoviePath();
    ASSERT_TRUE(fs::exists(path));

    const MovieProbe movie = MovieProbe::open(path);
    ASSERT_TRUE(movie.opened);
    EXPECT_EQ(movie.majorBrand, "qt  ");
    EXPECT_EQ(movie.codecName, "h264");
    EXPECT_EQ(movie.width, 320);
    EXPECT_EQ(movie.height, 568);
    // The movie runs from the start to the stop, however many frames were written.
    EXPECT_NEAR(movie.duration, elapsed, 0.6);
    EXPECT_EQ(record->videoDuration, std::to_string(static_cast<int>(movie.duration)));
    ASSERT_GE(movie.frames.size(), 3u);
    EXPECT_NEAR(movie.frames[0].seconds, 0.5, 0.35);
    double previous = 0;
    for (const auto& frame : movie.frames) {
        EXPECT_GT(frame.seconds, previous);
        EXPECT_LE(frame.seconds, movie.duration);
        previous = frame.seconds;
        EXPECT_TRUE(allRed(frame, 20, 100, 140, 160));
        EXPECT_TRUE(allRed(frame, 20, 300, 220, 340));
        EXPECT_TRUE(isBlue(frame.at(230, 130)));
        EXPECT_TRUE(isWhite(frame.at(300, 500)));
    }
    auto image = recorder()->currentImage();
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width(), 320);
    EXPECT_EQ(image->height(), 568);
}

TEST_F(ScreenRecorderTest, WidthRaisedToSixteenStretchesContentAndOcclusionAlike) {
    ScreenRecorderWorld world(375, 667);
    clearStore();
    ScreenRecorderWorld::setScreenVideoOn(true);
    // Left half blue: stretched, its right edge moves from 187.5 to 192 pixels.
    world.addView(Rect(0, 0, 187.5, 80), Color::rgb(0, 0, 255));
    // A sensitive view touching the right edge of the window.
    auto edge = world.addView(Rect(345, 200, 30, 40), Color::rgb(0, 255, 0));
    RVViewVideoHandler::addSensitiveView(edge);

    recordFor(1.8);
    EXPECT_EQ(recorder()->frameWidth(), 384);
    EXPECT_EQ(recorder()->frameHeight(), 667);

    const MovieProbe movie = MovieProbe::open(storedMoviePath());
    ASSERT_TRUE(movie.opened);
    EXPECT_EQ(movie.width, 384);
    EXPECT_EQ(movie.height, 667);
    ASSERT_GE(movie.frames.size(), 2u);
    for (const auto& frame : movie.frames) {
        // 345 x 384/375 = 353.3: from there to the last column, nothing of the view shows.
        EXPECT_TRUE(allRed(frame, 354, 200, 384, 240));
        EXPECT_TRUE(isBlue(frame.at(190, 40)));
        EXPECT_TRUE(isWhite(frame.at(196, 40)));
        // The odd bottom row is the window's, not padding.
        EXPECT_TRUE(isWhite(frame.at(100, 666)));
    }
}

// The frame size is fixed when the recording starts; the key window turns, is resized and is
// replaced by another of another size while it runs. The occlusion follows each stretch.
TEST_F(ScreenRecorderTest, NoSensitivePixelShowsWhenTheKeyWindowChangesSize) {
    ScreenRecorderWorld world(320, 568);
    clearStore();
    ScreenRecorderWorld::setScreenVideoOn(true);
    auto& app = world.platform().application();
    // Green marks sensitive content; nothing else on the screen is green.
    auto secret = world.addView(Rect(20, 100, 120, 60), Color::rgb(0, 255, 0));
    auto password = world.addSecureField(Rect(150, 220, 160, 40));
    password->setBackgroundColor(Color::rgb(0, 200, 0));
    world.addView(Rect(0, 0, 320, 40), Color::rgb(0, 0, 255));
    RVViewVideoHandler::addSensitiveView(secret);
    RVViewVideoHandler::addSensitiveView(password);
    auto other = std::make_shared<Window>(Rect(0, 0, 200, 900));
    other->setBackgroundColor(Color::white());
    auto otherSecret = std::make_shared<View>(Rect(30, 700, 150, 150));
    otherSecret->setBackgroundColor(Color::rgb(0, 255, 0));
    other->addSubview(otherSecret);
    RVViewVideoHandler::addSensitiveView(otherSecret);

    auto run = [](double seconds) { RunLoop::main().runUntil([] { return false; }, seconds); };
    recorder()->startScreenRecording();
    ASSERT_TRUE(recorder()->isRecording());
    run(1.1);
    app.rotate(DeviceOrientation::LandscapeLeft);  // 568 x 320, drawn into 320 x 568
    ASSERT_EQ(world.window()->bounds().size.width, 568);
    run(1.1);
    app.rotate(DeviceOrientation::Portrait);
    world.window()->setFrame(Rect(0, 0, 300, 420));  // resized
    run(1.1);
    other->makeKeyAndVisible();  // another key window of another size
    run(1.1);
    stopOnAnotherThread();
    ASSERT_TRUE(RunLoop::main().runUntil([] { return !recorder()->isRecording(); }, 30));

    const MovieProbe movie = MovieProbe::open(storedMoviePath());
    ASSERT_TRUE(movie.opened);
    EXPECT_EQ(movie.width, 320);
    EXPECT_EQ(movie.height, 568);
    ASSERT_GE(movie.frames.size(), 6u);
    int redFrames = 0;
    for (const auto& frame : movie.frames) {
        for (int y = 0; y < frame.height; ++y) {
            for (int x = 0; x < frame.width; ++x) {
                const auto c = frame.at(x, y);
                ASSERT_FALSE(c.g > c.r + 60 && c.g > c.b + 60)
                    << "sensitive pixel (" << x << ", " << y << ") at " << frame.seconds << " s";
            }
        }
        bool red = false;
        for (int y = 0; y < frame.height && !red; y += 4)
            for (int x = 0; x < frame.width && !red; x += 4)
                red = isRed(frame.at(x, y));
        redFrames += red;
    }
    EXPECT_EQ(redFrames, static_cast<int>(movie.frames.size()));  // each frame masks something
    other->setHidden(true);
}

// Mean absolute difference per channel (of 255) between a decoded frame and its source.
double meanDifference(const DecodedFrame& frame, const Image& image) {
    double sum = 0;
    for (int y = 0; y < frame.height; ++y) {
        for (int x = 0; x < frame.width; ++x) {
            const auto c = frame.at(x, y);
            const auto p = image.pixelAt(x, y);
            sum += std::abs(c.r - p.r) + std::abs(c.g - p.g) + std::abs(c.b - p.b);
        }
    }
    return sum / (3.0 * frame.width * frame.height);
}

// Every pixel of the rectangle is pure red after 4:2:0 and the encoder: the masked area shows
// nothing of what is below it.
::testing::AssertionResult pureRed(const DecodedFrame& f, int x0, int y0, int x1, int y1) {
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
            const auto c = f.at(x, y);
            if (c.r < 245 || c.g > 10 || c.b > 10) {
                return ::testing::AssertionFailure()
                       << "pixel (" << x << ", " << y << ") at " << f.seconds << " s is " << c.r
                       << "," << c.g << "," << c.b;
            }
        }
    }
    return ::testing::AssertionSuccess();
}

// A still screen keeps a frame at every capture time, each close to the screen it shows, the
// masked area pure red in all of them (an odd frame height, the size of a phone's window).
TEST_F(ScreenRecorderTest, MovieIsTrueToTheScreenWithAFrameAtEveryCapture) {
    ScreenRecorderWorld world(384, 667);
    clearStore();
    ScreenRecorderWorld::setScreenVideoOn(true);
    world.addView(Rect(0, 0, 384, 64), Color::rgb(30, 90, 200));
    for (int i = 0; i < 6; ++i) {
        auto label = std::make_shared<Label>(Rect(16, 80 + i * 36, 340, 30));
        label->setText("Row " + std::to_string(i) + ": the quick brown fox");
        world.window()->addSubview(label);
    }
    auto card = world.addView(Rect(40, 320, 200, 100), Color::rgb(0, 200, 0));
    RVViewVideoHandler::addSensitiveView(card);
    auto badge = world.addView(Rect(250, 500, 80, 40), Color::rgb(240, 160, 0));
    auto context = Platform::current().graphics()->makeBitmapContext(Size{384, 667}, true, 1.0);
    ASSERT_TRUE(context);
    auto source = [&] {
        recorder()->drawFrame(*context);
        return context->makeImage();
    };
    const Image before = source();

    auto run = [](double seconds) { RunLoop::main().runUntil([] { return false; }, seconds); };
    recorder()->startScreenRecording();
    ASSERT_TRUE(recorder()->isRecording());
    run(1.7);  // about three frames of one picture
    badge->setBackgroundColor(Color::rgb(120, 0, 160));
    const Image after = source();
    run(1.7);  // about three of the next
    stopOnAnotherThread();
    ASSERT_TRUE(RunLoop::main().runUntil([] { return !recorder()->isRecording(); }, 30));

    const MovieProbe movie = MovieProbe::open(storedMoviePath());
    ASSERT_TRUE(movie.opened);
    ASSERT_GE(movie.frames.size(), 4u);  // still frames are frames too
    double previous = -1;
    int afterFrames = 0;
    for (const auto& frame : movie.frames) {
        SCOPED_TRACE("frame at " + std::to_string(frame.seconds) + " s");
        EXPECT_GT(frame.seconds, previous);
        previous = frame.seconds;
        ASSERT_EQ(frame.width, 384);
        ASSERT_EQ(frame.height, 667);
        // The picture it shows is one of the two; the encoder's rounding of text edges and of
        // 4:2:0 colour is all that may differ.
        const double toBefore = meanDifference(frame, before);
        const double toAfter = meanDifference(frame, after);
        EXPECT_LT(std::min(toBefore, toAfter), 3.0);
        afterFrames += toAfter < toBefore;
        // The card inside the pixel where 4:2:0 blends its edge with the neighbours' colour.
        EXPECT_TRUE(pureRed(frame, 41, 321, 239, 419));
    }
    EXPECT_LT(meanDifference(movie.frames.front(), before),
              meanDifference(movie.frames.front(), after));
    EXPECT_GE(afterFrames, 1);
    EXPECT_LT(meanDifference(movie.frames.back(), after),
              meanDifference(movie.frames.back(),
                             before));  // Still for over a second twice: key frames still come at
                                        // least once a second (a capture
    // that came late or was dropped may push the next one a frame interval further).
    EXPECT_EQ(movie.decodeErrors, 0);
    double longestFrameGap = 0.5;
    for (size_t i = 1; i < movie.frames.size(); ++i)
        longestFrameGap =
            std::max(longestFrameGap, movie.frames[i].seconds - movie.frames[i - 1].seconds);
    const auto gaps = test::expectKeyFramesAtMostASecondApart(movie, longestFrameGap);
    EXPECT_GE(gaps.size(), 1u) << test::describeGaps(gaps);
    std::printf("key-frame gaps (s): %s; frames %zu\n", test::describeGaps(gaps).c_str(),
                movie.frames.size());
}

// A screen whose pixels stay the same except for a mask: a view that becomes sensitive, then
// moves. Every frame taken after either change shows the mask where the view now is.
TEST_F(ScreenRecorderTest, AMaskAddedOrMovedOnAStillScreenShowsInTheNextFrames) {
    ScreenRecorderWorld world(320, 568);
    clearStore();
    ScreenRecorderWorld::setScreenVideoOn(true);
    auto view = world.addView(Rect(40, 100, 120, 80), Color::rgb(0, 0, 255));
    auto run = [](double seconds) { RunLoop::main().runUntil([] { return false; }, seconds); };

    const double started = Clock::now();  // before the recording's own start
    recorder()->startScreenRecording();
    ASSERT_TRUE(recorder()->isRecording());
    run(1.5);
    RVViewVideoHandler::addSensitiveView(view);
    const double masked = Clock::now() - started;
    run(1.5);
    view->setFrame(Rect(160, 300, 120, 80));
    const double moved = Clock::now() - started;
    run(1.5);
    stopOnAnotherThread();
    ASSERT_TRUE(RunLoop::main().runUntil([] { return !recorder()->isRecording(); }, 30));

    const MovieProbe movie = MovieProbe::open(storedMoviePath());
    ASSERT_TRUE(movie.opened);
    ASSERT_GE(movie.frames.size(), 4u);
    int blue = 0, maskedThere = 0, maskedHere = 0;
    for (const auto& frame : movie.frames) {
        SCOPED_TRACE("frame at " + std::to_string(frame.seconds) + " s");
        // A frame's time is taken before it is drawn: a later time than a change means drawn
        // after it (with a margin for the movie's ticks).
        if (frame.seconds > moved + 0.01) {
            EXPECT_TRUE(allRed(frame, 160, 300, 280, 380));
            EXPECT_FALSE(isRed(frame.at(100, 140)));
            ++maskedHere;
        } else if (frame.seconds > masked + 0.01) {
            // Drawn after the mask came, before or just after the move.
            const bool there = allRed(frame, 40, 100, 160, 180);
            EXPECT_TRUE(there || allRed(frame, 160, 300, 280, 380));
            maskedThere += there;
        } else {
            blue += isBlue(frame.at(100, 140));
        }
        // Never the view's own pixels once it is sensitive.
        if (frame.seconds > masked + 0.01) {
            EXPECT_FALSE(isBlue(frame.at(100, 140)));
            EXPECT_FALSE(isBlue(frame.at(220, 340)));
        }
    }
    EXPECT_GE(blue, 1);
    EXPECT_GE(maskedThere, 1);
    EXPECT_GE(maskedHere, 1);
}

TEST_F(ScreenRecorderTest, NothingIsRecordedWhenScreenVideoIsOff) {
    ScreenRecorderWorld world(320, 568);
    clearStore();
    ScreenRecorderWorld::setScreenVideoOn(false);
    recorder()->startScreenRecording();
    EXPECT_FALSE(recorder()->isRecording());
    RunLoop::main().runUntil([] { return false; }, 0.8);
    EXPECT_FALSE(fs::exists(world.screenVideoFolder() + "/UserActivity.mov"));
    stopOnAnotherThread();
    EXPECT_TRUE(storedEntries().empty());
}

TEST_F(ScreenRecorderTest, SecondStartAndSecondStopChangeNothing) {
    ScreenRecorderWorld world(320, 568);
    clearStore();
    ScreenRecorderWorld::setScreenVideoOn(true);
    LogCapture log;
    recorder()->startScreenRecording();
    ASSERT_TRUE(recorder()->isRecording());
    recorder()->startScreenRecording();  // while recording
    EXPECT_TRUE(recorder()->isRecording());
    RunLoop::main().runUntil([] { return false; }, 1.3);

    std::thread([] {
        recorder()->stopScreenRecording();
        recorder()->stopScreenRecording();
    }).join();
    recorder()->startScreenRecording();  // while finishing
    ASSERT_TRUE(RunLoop::main().runUntil([] { return !recorder()->isRecording(); }, 30));
    // Nothing left behind that could run a second frame loop or finish a second time.
    RunLoop::main().runUntil([] { return false; }, 0.8);
    EXPECT_FALSE(recorder()->isRecording());
    EXPECT_EQ(storedEntries().size(), 1u);
    EXPECT_FALSE(log.contains("Problem stopping"));
    EXPECT_TRUE(MovieProbe::open(storedMoviePath(), false).opened);
}

// The movie keeps the frame size it began with. A window whose height changed since (a
// desktop window resized by its user) is stretched into the frame vertically too: the mask
// follows the view, so nothing of it shows.
TEST_F(ScreenRecorderTest, SensitiveViewStaysMaskedWhenTheWindowNoLongerFitsTheFrame) {
    ScreenRecorderWorld world(320, 568);
    RVViewVideoHandler::resetSensitiveViews();
    auto context = Platform::current().graphics()->makeBitmapContext(Size{320, 568}, true, 1.0);
    ASSERT_TRUE(context);
    auto secret = world.addView(Rect(20, 100, 100, 40), Color::rgb(0, 255, 0));
    RVViewVideoHandler::addSensitiveView(secret);
    world.window()->setFrame(Rect(0, 0, 320, 284));  // half the height the movie began with

    recorder()->drawFrame(*context);
    const Image image = context->makeImage();
    auto red = [&](int x, int y) {
        const auto p = image.pixelAt(x, y);
        return p.r == 255 && p.g == 0 && p.b == 0;
    };
    auto green = [&](int x, int y) {
        const auto p = image.pixelAt(x, y);
        return p.g > 200 && p.r < 60;
    };
    // The view is drawn at y 200...280 of the frame; all of it is red there.
    for (int y = 201; y < 280; y += 6) {
        EXPECT_TRUE(red(70, y)) << "y " << y;
        EXPECT_FALSE(green(70, y)) << "y " << y;
    }
    RVViewVideoHandler::resetSensitiveViews();
}

TEST_F(ScreenRecorderTest, SensitiveViewRegistry) {
    ScreenRecorderWorld world(320, 568);
    RVViewVideoHandler::resetSensitiveViews();
    auto graphics = Platform::current().graphics();
    ASSERT_TRUE(graphics);
    auto context = graphics->makeBitmapContext(Size{320, 568}, true, 1.0);
    ASSERT_TRUE(context);
    auto frame = [&] {
        recorder()->drawFrame(*context);
        return context->makeImage();
    };
    auto red = [](const Image& image, int x, int y) {
        const auto p = image.pixelAt(x, y);
        return p.r == 255 && p.g == 0 && p.b == 0;
    };

    auto kept = world.addView(Rect(10, 10, 50, 50), Color::rgb(0, 255, 0));
    auto moved = world.addView(Rect(100, 10, 50, 50), Color::rgb(0, 255, 0));
    RVViewVideoHandler::addSensitiveView(kept);
    RVViewVideoHandler::addSensitiveView(kept);
    RVViewVideoHandler::addSensitiveView(moved);
    EXPECT_EQ(RVViewVideoHandler::sensitiveViewCount(), 2u);
    {
        auto released = world.addView(Rect(200, 10, 50, 50), Color::rgb(0, 255, 0));
        RVViewVideoHandler::addSensitiveView(released);
        released->removeFromSuperview();
    }
    EXPECT_EQ(RVViewVideoHandler::sensitiveViewCount(), 3u);

    // Out of its window: not painted, still registered. Released by the host: dropped.
    moved->removeFromSuperview();
    Image image = frame();
    EXPECT_TRUE(red(image, 30, 30));
    EXPECT_FALSE(red(image, 120, 30));
    EXPECT_EQ(RVViewVideoHandler::sensitiveViewCount(), 2u);

    // Back in a window: painted again.
    world.window()->addSubview(moved);
    image = frame();
    EXPECT_TRUE(red(image, 120, 30));

    // A new session forgets them all.
    RVViewVideoHandler::resetSensitiveViews();
    EXPECT_EQ(RVViewVideoHandler::sensitiveViewCount(), 0u);
    image = frame();
    EXPECT_FALSE(red(image, 30, 30));
    EXPECT_FALSE(red(image, 120, 30));
}

TEST(ScreenRecorderGeometry, FrameSizeFromTheKeyWindow) {
    EXPECT_EQ(RVViewVideoHandler::frameWidthForWindowWidth(320), 320);
    EXPECT_EQ(RVViewVideoHandler::frameWidthForWindowWidth(375), 384);
    EXPECT_EQ(RVViewVideoHandler::frameWidthForWindowWidth(375.9), 384);
    EXPECT_EQ(RVViewVideoHandler::frameWidthForWindowWidth(414), 416);
    EXPECT_EQ(RVViewVideoHandler::frameWidthForWindowWidth(1), 16);
    EXPECT_EQ(RVViewVideoHandler::frameWidthForWindowWidth(0), 0);
    EXPECT_EQ(RVViewVideoHandler::frameWidthForWindowWidth(NAN), 0);
    EXPECT_EQ(RVViewVideoHandler::frameHeightForWindowHeight(667.6), 667);
    EXPECT_EQ(RVViewVideoHandler::frameHeightForWindowHeight(-3), 0);
}

TEST(ScreenRecorderGeometry, PresentationTimesCountTheElapsedSeconds) {
    // 1/24 s is no whole number of milliseconds: ticks of a millisecond, ten seconds are 10000
    // of them (truncating the scale to 41 a second and counting 41.67 a second ran 1.6 % fast).
    MediaTime t = RVViewVideoHandler::presentationTime(10.0, 1.0f / 24);
    EXPECT_EQ(t.timescale, 1000);
    EXPECT_EQ(t.value, 10000);
    t = RVViewVideoHandler::presentationTime(10.0, 1.0f / 30);
    EXPECT_DOUBLE_EQ(t.seconds(), 10.0);
    // Whole milliseconds keep their scale: 500 a second at the default interval.
    t = RVViewVideoHandler::presentationTime(0.5, 0.5f);
    EXPECT_EQ(t.timescale, 500);
    EXPECT_EQ(t.value, 250);
    EXPECT_EQ(RVViewVideoHandler::movieTimescale(0.1f), 100);
    EXPECT_EQ(RVViewVideoHandler::presentationTime(-1, 0.5f).value, 0);
}

// ---- Faults from the movie writer ---------------------------------------------------------

namespace {

// Wraps the real writer, failing in one chosen way.
enum class Fault { ThrowOnFinish, FailedMovie };

class FaultyWriter : public MovieWriter {
  public:
    FaultyWriter(std::shared_ptr<MovieWriter> real, Fault fault)
        : real_(std::move(real)), fault_(fault) {}
    const std::string& path() const override { return real_->path(); }
    MovieWriterStatus status() const override {
        if (fault_ == Fault::FailedMovie && finished_) return MovieWriterStatus::Failed;
        return real_->status();
    }
    std::string errorDescription() const override { return "disk full"; }
    bool addInput(std::shared_ptr<MovieWriterInput> input) override {
        return real_->addInput(std::move(input));
    }
    bool startWriting() override { return real_->startWriting(); }
    void startSessionAtSourceTime(MediaTime t) override { real_->startSessionAtSourceTime(t); }
    void endSessionAtSourceTime(MediaTime t) override { real_->endSessionAtSourceTime(t); }
    void finishWriting(std::function<void()> handler) override {
        if (fault_ == Fault::ThrowOnFinish) {
            throw MovieWriterException("NSInternalInconsistencyException", "cannot finish");
        }
        finished_ = true;
        real_->finishWriting(std::move(handler));
    }

  private:
    std::shared_ptr<MovieWriter> real_;
    Fault fault_;
    std::atomic<bool> finished_{false};
};

class FaultyFactory : public MovieWriterFactory {
  public:
    explicit FaultyFactory(Fault fault) : fault_(fault) {}
    std::shared_ptr<MovieWriter> createWriter(const std::string& path, MovieFileType type,
                                              std::string* error) override {
        auto real = real_.createWriter(path, type, error);
        return real ? std::make_shared<FaultyWriter>(real, fault_) : nullptr;
    }
    std::shared_ptr<MovieWriterInput> createVideoInput(const VideoOutputSettings& s) override {
        return real_.createVideoInput(s);
    }
    std::shared_ptr<PixelBufferAdaptor> createPixelBufferAdaptor(
        std::shared_ptr<MovieWriterInput> input, PixelFormat format) override {
        return real_.createPixelBufferAdaptor(std::move(input), format);
    }

  private:
    FfmpegMovieWriterFactory real_;
    Fault fault_;
};

}  // namespace

TEST_F(ScreenRecorderTest, FinishingThatFailsStillEndsTheRecordingWithoutARecord) {
    ScreenRecorderWorld world(320, 568);
    clearStore();
    ScreenRecorderWorld::setScreenVideoOn(true);
    const std::string workingFile = world.screenVideoFolder() + "/UserActivity.mov";
    {
        SCOPED_TRACE("the platform raises while finishing");
        LogCapture log;
        Platform::current().setService<MovieWriterFactory>(
            std::make_shared<FaultyFactory>(Fault::ThrowOnFinish));
        recordFor(1.2);
        EXPECT_FALSE(recorder()->isRecording());
        EXPECT_TRUE(
            log.contains("Rivlo: Problem stopping the screen recording: "
                         "NSInternalInconsistencyException - cannot finish Extra data: "
                         "none"));
        EXPECT_TRUE(storedEntries().empty());
        EXPECT_FALSE(fs::exists(workingFile));
    }
    {
        SCOPED_TRACE("the writer fails");
        LogCapture log;
        Platform::current().setService<MovieWriterFactory>(
            std::make_shared<FaultyFactory>(Fault::FailedMovie));
        recordFor(1.2);
        EXPECT_FALSE(recorder()->isRecording());
        EXPECT_TRUE(log.contains("could not be written (disk full)"));
        EXPECT_TRUE(storedEntries().empty());
        EXPECT_FALSE(fs::exists(workingFile));
    }
    {
        SCOPED_TRACE("no movie writer at all");
        LogCapture log;
        Platform::current().setService<MovieWriterFactory>(nullptr);
        recorder()->startScreenRecording();
        EXPECT_FALSE(recorder()->isRecording());
        EXPECT_TRUE(log.contains("RVViewVideoHandler: No movie writer is available"));
    }
    FfmpegMovieWriterFactory::installDefaults();
    {
        SCOPED_TRACE("not a single frame could be drawn");
        LogCapture log;
        // The graphics go away once the recording has started (frames are taken later).
        PlatformServices services = Platform::current().services();
        auto graphics = services.graphics;
        recorder()->startScreenRecording();
        EXPECT_TRUE(recorder()->isRecording());
        services.graphics = nullptr;
        Platform::current().install(services);
        RunLoop::main().runUntil([] { return false; }, 1.2);
        stopOnAnotherThread();
        EXPECT_TRUE(RunLoop::main().runUntil([] { return !recorder()->isRecording(); }, 30));
        services.graphics = graphics;
        Platform::current().install(services);
        EXPECT_TRUE(log.contains("The screen movie holds no frames; it is discarded"));
        EXPECT_TRUE(storedEntries().empty());
        EXPECT_FALSE(fs::exists(workingFile));
    }
    {
        SCOPED_TRACE("no screen at all (a host without a toolkit)");
        LogCapture log;
        PlatformServices services = Platform::current().services();
        auto graphics = services.graphics;
        services.graphics = nullptr;
        Platform::current().install(services);
        recorder()->startScreenRecording();
        EXPECT_FALSE(recorder()->isRecording());
        EXPECT_TRUE(log.contains("RVViewVideoHandler: No screen to record"));
        services.graphics = graphics;
        Platform::current().install(services);
        EXPECT_FALSE(fs::exists(workingFile));
    }
    // A good writer again: recording works after all of that.
    FfmpegMovieWriterFactory::installDefaults();
    recordFor(1.2);
    EXPECT_EQ(storedEntries().size(), 1u);
}
