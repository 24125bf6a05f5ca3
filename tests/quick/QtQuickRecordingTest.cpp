// Real QML recorded end to end on a QGuiApplication (no Qt Widgets): the scene is loaded
// offscreen on the software scene graph, recorded through the Qt Quick bridge, uploaded to the
// collector on loopback, and every frame of the movie it kept is decoded and searched for the
// colours only the masked items are drawn in, while they move, rotate, scroll and pop up; the
// session's taps are read back from its document. The popup opens over the rotating card's path:
// the software scene graph repaints only what it finds changed and left rows of the card's old
// pixels just below the popup's edge, so every frame must be painted whole.

#include "QuickTestSupport.h"

#include "foundation/RunLoop.h"
#include "platform/quick/QtQuickBridge.h"
#include "platform/quick/QtQuickWindows.h"
#include "rivlo/qt/QtQuickPlatform.h"

#include <QGuiApplication>
#include <QPointingDevice>
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

// Secret colours: nothing but the masked items is drawn in them.
const QColor kPassword(16, 208, 16);  // a TextInput in Password mode, moving
const QColor kField(16, 48, 240);     // a TextField in PasswordEchoOnEdit mode
const QColor kCard(224, 16, 224);     // a registered item, rotating, a child reaching out of it
const QColor kScrolled(240, 160, 0);  // a password field in a clipping Flickable
const QColor kPopup(150, 220, 0);     // a password field in a Popup opened while recording
const QColor kShown(16, 224, 224);    // what may show: a plain rectangle

// A scene with every kind of secret item, the card registered from C++ as a host would.
const QByteArray kScene = QByteArray(R"(
import QtQuick
import QtQuick.Controls
Window {
    objectName: "login"
    width: 480; height: 360; visible: true; color: "white"
    Rectangle { x: 260; y: 300; width: 200; height: 40; color: "#10e0e0" }
    TextInput {
        id: password
        x: 20; y: 20; width: 200; height: 50
        font.pixelSize: 40; color: "#10d010"; echoMode: TextInput.Password; text: "secretsecret"
        NumberAnimation on x { from: 20; to: 240; duration: 1300; loops: Animation.Infinite }
    }
    TextField {
        x: 20; y: 90; width: 200; height: 60
        font.pixelSize: 36; color: "#1030f0"; echoMode: TextInput.PasswordEchoOnEdit
        text: "hunter2hunter2"
        background: Rectangle { color: "white" }
    }
    Rectangle {
        objectName: "card"
        x: 300; y: 120; width: 100; height: 70; color: "#e010e0"
        RotationAnimation on rotation { from: 0; to: 360; duration: 1700; loops: Animation.Infinite }
        Rectangle { x: 90; y: 55; width: 50; height: 30; color: "#e010e0" }
    }
    Flickable {
        x: 250; y: 230; width: 200; height: 60; clip: true
        contentHeight: 200; contentY: 40
        TextInput {
            y: 50; width: 200; height: 120
            font.pixelSize: 90; color: "#f0a000"; echoMode: TextInput.Password; text: "pin"
        }
    }
    ShaderEffectSource { x: 20; y: 200; width: 200; height: 50; sourceItem: password; live: true }
)") + rivlo::test::kPasswordPopup +
                          "}\n";

TEST(QtQuickRecording, NoSecretItemShowsInAnyFrame) {
    QtRecorder& rec = rivlo::test::quickRecorder();
    QQmlApplicationEngine engine;
    engine.loadData(kScene);
    QQuickWindow* window = rivlo::test::shownWindow(engine);
    ASSERT_NE(window, nullptr);
    auto* card = window->findChild<QQuickItem*>("card");
    QObject* popup = window->findChild<QObject*>("popup");
    ASSERT_TRUE(card && popup);
    QtQuickPlatform::occludeSensitiveItem(card);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return QtQuickBridge::current()->windows().windowFor(window) != nullptr; }));

    static QPointingDevice* const touchScreen = QTest::createTouchDevice();
    const QPoint clicked(360, 320), touched(300, 330);
    const QtRecording recording = rec.record([&] {
        QtRecorder::pass(1.0);
        QTest::mouseClick(window, Qt::LeftButton, {}, clicked);
        QtRecorder::pass(0.5);
        QTest::touchEvent(window, touchScreen).press(0, touched, window);
        QTest::touchEvent(window, touchScreen).release(0, touched, window);
        QMetaObject::invokeMethod(popup, "open");
        QtRecorder::pass(1.5);
    });
    ASSERT_TRUE(recording.problems.empty()) << recording.problems.front();
    EXPECT_EQ(recording.width, 480);
    EXPECT_EQ(recording.height, 360);
    // At four frames a second for three seconds and more.
    ASSERT_GE(recording.frames.size(), 8u);

    for (const auto& [colour, what] :
         {std::pair{kPassword, "the moving password input (or its ShaderEffectSource copy)"},
          std::pair{kField, "the PasswordEchoOnEdit field"},
          std::pair{kCard, "the registered rotating card or its child"},
          std::pair{kScrolled, "the password input in the Flickable"},
          std::pair{kPopup, "the password field in the popup"}}) {
        const QtRecording::Seen seen = recording.find(colour, 50);
        EXPECT_EQ(seen.framePixels, 0u) << what << " shows, first " << seen.first;
    }
    // The frames are the scene, not frames painted over whole or dropped: the plain rectangle
    // shows in every one, and the masks only where the secrets are.
    size_t framesShowingIt = 0;
    for (size_t i = 0; i < recording.frames.size(); ++i) {
        if (rivlo::test::nearColour(recording.at(i, QPoint(360, 320)), kShown, 40))
            ++framesShowingIt;
    }
    EXPECT_EQ(framesShowingIt, recording.frames.size());
    // The Flickable's password field is painted over only where the Flickable shows it: its
    // lines cut off below the Flickable (up to y = 330) are not.
    const QColor red(255, 0, 0);
    for (size_t i = 0; i < recording.frames.size(); ++i) {
        EXPECT_FALSE(rivlo::test::nearColour(recording.at(i, QPoint(300, 310)), red, 60))
            << "frame " << i;
    }
    EXPECT_GT(recording.find(red, 40).framePixels, 0u);

    // The click and the touch are taps where they were made, in the window's screen (a window
    // of Qt's own QML type is named after its objectName).
    for (const QPoint at : {clicked, touched}) {
        bool found = false;
        for (const auto& g : recording.gestures()) {
            found |= g.code == 0 && g.screen == "login" && std::abs(g.x - at.x()) <= 1 &&
                     std::abs(g.y - at.y()) <= 1;
        }
        EXPECT_TRUE(found) << "no tap at (" << at.x() << ", " << at.y() << ")";
    }
}

}  // namespace
