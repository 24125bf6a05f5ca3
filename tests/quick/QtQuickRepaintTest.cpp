// The software scene graph repaints only what it finds changed, and can leave pixels of a masked
// item where the item no longer is (past the edge of an opaque popup). A recorded frame repaints
// only what changed too: what the renderer leaves of masked content from earlier frames is
// painted over. Frames are taken here through the bridge as the recorder takes them, the scene
// changed between them without its own renderings (none come in between, so the renderer's
// partial repaints are all the frames get) and now and then with them (the window is then
// repainted whole), and every frame is searched for the masked items' colours.

#include "QuickTestSupport.h"

#include "platform/Graphics.h"
#include "platform/Platform.h"
#include "platform/Window.h"
#include "platform/quick/QtItemMasks.h"
#include "platform/quick/QtQuickBridge.h"
#include "platform/quick/QtQuickWindows.h"

#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QRandomGenerator>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

using namespace rivlo;

namespace {

const QColor kPassword(16, 208, 16);  // a moving password input
const QColor kCard(224, 16, 224);     // a registered item turning, a child reaching out of it
const QColor kPopup(150, 220, 0);     // a password field in a popup opened over the card's path
const QColor kShown(16, 224, 224);    // a plain rectangle, never painted over

const QByteArray kScene = QByteArray(R"(
import QtQuick
import QtQuick.Controls
Window {
    width: 480; height: 360; visible: true; color: "white"
    property real inputX: 20
    property real turn: 0
    Rectangle { x: 260; y: 300; width: 200; height: 40; color: "#10e0e0" }
    TextInput {
        x: inputX; y: 20; width: 200; height: 50
        font.pixelSize: 40; color: "#10d010"; echoMode: TextInput.Password; text: "secretsecret"
    }
    Rectangle {
        objectName: "card"
        x: 300; y: 120; width: 100; height: 70; color: "#e010e0"; rotation: turn
        Rectangle { x: 90; y: 55; width: 50; height: 30; color: "#e010e0" }
    }
)") + rivlo::test::kPasswordPopup +
                          "}\n";

bool near(const Image::Pixel& p, const QColor& c, int tolerance) {
    return std::abs(p.r - c.red()) <= tolerance && std::abs(p.g - c.green()) <= tolerance &&
           std::abs(p.b - c.blue()) <= tolerance;
}

TEST(QtQuickRepaint, MaskedItemsLeftByPartialRepaintsArePaintedOver) {
    rivlo::test::quickRecorder();  // the bridge installed
    QQmlApplicationEngine engine;
    engine.loadData(kScene);
    QQuickWindow* window = rivlo::test::shownWindow(engine);
    ASSERT_NE(window, nullptr);
    QtQuickBridge& bridge = *QtQuickBridge::current();
    QQuickItem* card = rivlo::test::findItem(window, "card");
    QObject* popup = window->findChild<QObject*>("popup");
    ASSERT_TRUE(card && popup);
    bridge.itemMasks().registerItem(card);
    std::shared_ptr<Window> shadow;
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return (shadow = bridge.windows().windowFor(window)) != nullptr; }));

    QRandomGenerator random(29);
    double turn = 0, inputX = 20;
    size_t framesShowingSecrets = 0, secretPixels = 0;
    constexpr int kFrames = 400;
    const auto step = [&] {
        turn += random.bounded(1, 40);
        inputX = inputX > 240 ? 20 : inputX + random.bounded(1, 20);
        window->setProperty("turn", turn);
        window->setProperty("inputX", inputX);
    };
    for (int i = 0; i < kFrames; ++i) {
        step();
        if (i % 50 == 10) QMetaObject::invokeMethod(popup, "open");
        if (i % 50 == 40) QMetaObject::invokeMethod(popup, "close");
        // Now and then the window renders itself between frames, and the scene moves on.
        if (i % 7 == 0) {
            QCoreApplication::processEvents();
            step();
        }

        auto context = Platform::current().graphics()->makeBitmapContext({480, 360}, true, 1.0);
        context->setFillColor(Color::black());
        context->fillRect(Rect(0, 0, 480, 360));
        ASSERT_TRUE(context->drawViewHierarchy(*shadow, Rect(0, 0, 480, 360), false));
        const Image frame = context->makeImage();
        ASSERT_EQ(frame.width(), 480);
        // Not dropped nor painted over whole: the plain rectangle shows.
        ASSERT_TRUE(near(frame.pixelAt(360, 320), kShown, 40)) << "frame " << i;
        size_t secret = 0;
        for (int y = 0; y < frame.height(); ++y) {
            for (int x = 0; x < frame.width(); ++x) {
                const Image::Pixel p = frame.pixelAt(x, y);
                secret += near(p, kPassword, 50) || near(p, kCard, 50) || near(p, kPopup, 50);
            }
        }
        framesShowingSecrets += secret > 0;
        secretPixels += secret;
    }
    EXPECT_EQ(framesShowingSecrets, 0u) << secretPixels << " pixels of masked items show";
}

}  // namespace
