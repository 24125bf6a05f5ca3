// The status overlay on the headless device: its window and dot for each orientation, the
// label, showing and dismissing (from any thread, the work on the main thread).

#include "foundation/RunLoop.h"
#include "overlay/RVStatusBar.h"
#include "platform/Platform.h"
#include "platform/headless/HeadlessPlatform.h"
#include "support/DeviceSandbox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <thread>

using namespace rivlo;
using namespace std::chrono_literals;

namespace {

class StatusBarTest : public ::testing::Test {
  protected:
    void SetUp() override {
        device_ = std::make_unique<test::DeviceSandbox>("overlay",
                                                        test::DeviceSandbox::screen(320, 480, 2.0));
    }
    void TearDown() override {
        RVStatusBar::dismiss();
        RunLoop::main().runUntil([] { return !shown(); }, 5s);
        device_.reset();
    }

    static bool shown() { return RVStatusBar::sharedView()->currentOverlayWindow() != nullptr; }
    static std::shared_ptr<Window> window() {
        return RVStatusBar::sharedView()->currentOverlayWindow();
    }
    static std::shared_ptr<View> dot() { return RVStatusBar::sharedView()->currentTopBar(); }

    void showAndWait(const std::string& text = "") {
        RVStatusBar::showWithStatus(text);
        ASSERT_TRUE(RunLoop::main().runUntil(
            [&] { return shown() && RVStatusBar::sharedView()->stringLabel()->text() == text; },
            5s));
    }
    void rotate(int orientation) {
        device_->app().setStatusBarOrientation(orientation);
        RunLoop::main().runPending();
    }
    bool onScreen(const std::shared_ptr<Window>& w) {
        auto windows = device_->app().windows();
        return std::find(windows.begin(), windows.end(), w) != windows.end();
    }

    static void expectRect(const Rect& actual, const Rect& expected) {
        EXPECT_NEAR(actual.origin.x, expected.origin.x, 1e-9);
        EXPECT_NEAR(actual.origin.y, expected.origin.y, 1e-9);
        EXPECT_NEAR(actual.size.width, expected.size.width, 1e-9);
        EXPECT_NEAR(actual.size.height, expected.size.height, 1e-9);
    }

    std::unique_ptr<test::DeviceSandbox> device_;
};

}  // namespace

TEST_F(StatusBarTest, TheStripLiesAlongTheStatusBarEdgeWithTheDotOffTheMiddle) {
    struct Case {
        int orientation;
        Rect strip;
        Rect dot;
        double angle;
    };
    // W = 320, H = 480: the strip is 20 deep; the dot sits 30 right of the strip's middle.
    const Case cases[] = {
        {1, Rect(0, 0, 320, 20), Rect(190, 5, 10, 10), 0},
        {2, Rect(0, 460, 320, 20), Rect(190, 5, 10, 10), M_PI},
        {3, Rect(300, 0, 20, 480), Rect(270, 5, 10, 10), M_PI / 2},
        {4, Rect(0, 0, 20, 480), Rect(270, 5, 10, 10), -M_PI / 2},
    };
    showAndWait();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.orientation);
        // Follows the status bar as it turns ...
        rotate(c.orientation);
        EXPECT_NEAR(RVStatusBar::sharedView()->rotation(), c.angle, 1e-12);
        expectRect(window()->frame(), c.strip);
        expectRect(dot()->frame(), c.dot);
        EXPECT_NEAR(window()->bounds().size.height, 20, 1e-9);
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.orientation);
        // ... and is laid out for the orientation it is shown in.
        RVStatusBar::dismiss();
        ASSERT_TRUE(RunLoop::main().runUntil([] { return !shown(); }, 5s));
        rotate(c.orientation);
        showAndWait();
        expectRect(window()->frame(), c.strip);
        expectRect(dot()->frame(), c.dot);
    }
    EXPECT_EQ(RVStatusBar::windowOriginForOrientation(9, {320, 480}).x, 0);
    EXPECT_EQ(RVStatusBar::windowOriginForOrientation(9, {320, 480}).y, 0);
}

TEST_F(StatusBarTest, AnEmptyTextGivesARedDotWithAZeroWidthLabel) {
    showAndWait();
    auto bar = dot();
    ASSERT_TRUE(bar);
    EXPECT_EQ(bar->backgroundColor(), RVStatusBar::redColor());
    EXPECT_DOUBLE_EQ(bar->cornerRadius(), 5);
    EXPECT_TRUE(bar->clipsToBounds());
    auto label = RVStatusBar::sharedView()->stringLabel();
    EXPECT_EQ(label->superview(), bar.get());
    EXPECT_EQ(label->frame().size.width, 0);
    EXPECT_EQ(label->text(), "");
    EXPECT_EQ(label->textColor(), Color::white());
    EXPECT_DOUBLE_EQ(label->alpha(), 1.0);

    // A long text is measured within the dot and clipped by it.
    showAndWait("Recording your camera");
    EXPECT_GT(label->frame().size.width, 0);
    EXPECT_LE(label->frame().size.height, 10);
    EXPECT_EQ(label->text(), "Recording your camera");
}

TEST_F(StatusBarTest, TheOverlayIsAWindowOfItsOwnAboveTheKeyWindowThatTakesNoTouches) {
    showAndWait();
    auto overlay = window();
    EXPECT_EQ(overlay->windowLevel(), WindowLevelStatusBar);
    EXPECT_FALSE(overlay->isUserInteractionEnabled());
    EXPECT_FALSE(overlay->backgroundColor().has_value());
    EXPECT_TRUE(onScreen(overlay));
    EXPECT_EQ(device_->app().keyWindow(), device_->window());
    EXPECT_FALSE(dot()->isDescendantOfView(device_->window().get()));
}

TEST_F(StatusBarTest, DismissDropsTheWindowAndTheNextShowMakesANewOne) {
    showAndWait();
    auto first = window();
    RVStatusBar::dismiss();
    ASSERT_TRUE(RunLoop::main().runUntil([] { return !shown(); }, 5s));
    EXPECT_FALSE(onScreen(first));
    EXPECT_FALSE(dot());

    showAndWait();
    EXPECT_NE(window(), first);
    EXPECT_TRUE(onScreen(window()));
    EXPECT_TRUE(dot());
}

TEST_F(StatusBarTest, AShowRightAfterADismissKeepsTheNewDot) {
    showAndWait();
    RVStatusBar::dismiss();
    RVStatusBar::showWithStatus("");
    // Longer than the fade-out the dismiss began.
    RunLoop::main().runUntil([] { return false; }, 1s);
    EXPECT_TRUE(shown());
    EXPECT_TRUE(dot());
}

TEST_F(StatusBarTest, SuccessAndErrorVariantsDismissThemselves) {
    RVStatusBar::showSuccessWithStatus("ok");
    ASSERT_TRUE(RunLoop::main().runUntil([] { return shown(); }, 5s));
    EXPECT_EQ(dot()->backgroundColor(), RVStatusBar::redColor());
    RunLoop::main().runUntil([] { return false; }, 1s);
    EXPECT_TRUE(shown());  // not before its two seconds
    EXPECT_TRUE(RunLoop::main().runUntil([] { return !shown(); }, 10s));

    RVStatusBar::showErrorWithStatus("failed");
    ASSERT_TRUE(RunLoop::main().runUntil([] { return shown(); }, 5s));
    const Color darkRed{97 / 255.0, 4 / 255.0, 4 / 255.0, 1};
    EXPECT_EQ(dot()->backgroundColor(), darkRed);
    EXPECT_EQ(RVStatusBar::sharedView()->stringLabel()->textColor(), Color::white());
    EXPECT_TRUE(RunLoop::main().runUntil([] { return !shown(); }, 10s));
}

TEST_F(StatusBarTest, CallsFromOtherThreadsAreCarriedOutOnTheMainThreadInOrder) {
    std::thread([] {
        RVStatusBar::showWithStatus("a");
        RVStatusBar::dismiss();
        RVStatusBar::showWithStatus("b");
    }).join();
    ASSERT_TRUE(RunLoop::main().runUntil([] { return shown(); }, 5s));
    RunLoop::main().runUntil([] { return false; }, 1s);
    EXPECT_TRUE(shown());
    EXPECT_EQ(RVStatusBar::sharedView()->stringLabel()->text(), "b");
    std::thread([] { RVStatusBar::dismiss(); }).join();
    EXPECT_TRUE(RunLoop::main().runUntil([] { return !shown(); }, 5s));
}
