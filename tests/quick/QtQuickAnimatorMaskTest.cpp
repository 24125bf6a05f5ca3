// Animators (XAnimator, OpacityAnimator and the like: the page transitions of a StackView) move
// and fade items through their scene-graph nodes while the items' properties keep their values
// until the animation ends. Recorded through the Qt Quick bridge and decoded, a registered card
// in a page sliding out with an XAnimator, a password input in an item rotated by a
// RotationAnimator, and one in an item fading in from opacity 0 with an OpacityAnimator must not
// show in any frame. Masks placed from the properties alone showed the QML shop's member card
// beside its mask while the login page slid away (3,200 pixels in one frame).

#include "QtRecording.h"
#include "QuickTestSupport.h"
#include "QtTestSupport.h"

#include "platform/quick/QtQuickBridge.h"
#include "platform/quick/QtQuickWindows.h"
#include "rivlo/qt/QtQuickPlatform.h"

#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>

using namespace rivlo;
using rivlo::test::QtRecorder;
using rivlo::test::QtRecording;

namespace {

const QColor kCard(224, 16, 224);    // the registered card in the sliding page
const QColor kRotated(16, 208, 16);  // a password input in a rotating item
const QColor kFading(240, 160, 0);   // a password input in an item fading in
const QColor kShown(16, 224, 224);   // the sliding page's plain rectangle: may show

const char* const kScene = R"(
import QtQuick
Window {
    objectName: "animators"
    width: 480; height: 360; visible: true; color: "white"
    Item {
        id: page
        width: 480; height: 120
        XAnimator on x { from: 0; to: -400; duration: 1100; loops: Animation.Infinite }
        Rectangle { objectName: "card"; x: 20; y: 20; width: 160; height: 80; color: "#e010e0" }
        Rectangle { x: 300; y: 20; width: 100; height: 80; color: "#10e0e0" }
    }
    Item {
        x: 40; y: 150; width: 200; height: 60
        RotationAnimator on rotation { from: 0; to: 360; duration: 1300; loops: Animation.Infinite }
        TextInput {
            width: 200; height: 60
            font.pixelSize: 44; color: "#10d010"; echoMode: TextInput.Password; text: "secret"
        }
    }
    Item {
        x: 260; y: 250; width: 200; height: 60
        opacity: 0
        OpacityAnimator on opacity { from: 0; to: 1; duration: 900; loops: Animation.Infinite }
        TextInput {
            width: 200; height: 60
            font.pixelSize: 44; color: "#f0a000"; echoMode: TextInput.Password; text: "secret"
        }
    }
}
)";

TEST(QtQuickAnimators, ItemsMovedOrFadedByAnimatorsStayMasked) {
    QtRecorder& rec = rivlo::test::quickRecorder();
    QQmlApplicationEngine engine;
    engine.loadData(kScene);
    QQuickWindow* window = rivlo::test::shownWindow(engine);
    ASSERT_NE(window, nullptr);
    auto* card = window->findChild<QQuickItem*>("card");
    ASSERT_NE(card, nullptr);
    QtQuickPlatform::occludeSensitiveItem(card);
    ASSERT_TRUE(rivlo::test::qtWaitFor(
        [&] { return QtQuickBridge::current()->windows().windowFor(window) != nullptr; }));

    const QtRecording recording = rec.record([] { QtRecorder::pass(3.0); });
    ASSERT_TRUE(recording.problems.empty()) << recording.problems.front();
    ASSERT_GE(recording.frames.size(), 8u);
    for (const auto& [colour, what] :
         {std::pair{kCard, "the registered card in the page an XAnimator slides"},
          std::pair{kRotated, "the password input a RotationAnimator turns"},
          std::pair{kFading, "the password input an OpacityAnimator fades in"}}) {
        const QtRecording::Seen seen = recording.find(colour, 50);
        EXPECT_EQ(seen.framePixels, 0u) << what << " shows, first " << seen.first;
    }
    // The page does slide: its plain rectangle is seen at different places (its property x
    // stays 0 all along).
    int leftmost = 480, rightmost = -1;
    for (size_t i = 0; i < recording.frames.size(); ++i) {
        for (int x = 0; x < 480; x += 4) {
            const auto c = recording.at(i, QPoint(x, 60));
            if (std::abs(c.r - kShown.red()) < 40 && std::abs(c.g - kShown.green()) < 40 &&
                std::abs(c.b - kShown.blue()) < 40) {
                leftmost = std::min(leftmost, x);
                rightmost = std::max(rightmost, x);
            }
        }
    }
    EXPECT_GT(rightmost - leftmost, 200) << "the page did not slide";
}

}  // namespace
