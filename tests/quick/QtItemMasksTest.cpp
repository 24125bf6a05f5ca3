// The masks of a Qt Quick window come from the few items that may need painting over, followed
// as the scene changes, not from a walk over every item: whatever the scene goes through, they
// must be the masks a whole walk finds. And a frame shares the window's own picture, so the
// window painting on before the frame is drawn must not change what the frame shows.

#include "QuickTestSupport.h"

#include "platform/Graphics.h"
#include "platform/Platform.h"
#include "platform/Window.h"
#include "platform/qt/QtFrameMasks.h"
#include "platform/quick/QtItemMasks.h"
#include "platform/quick/QtQuickBridge.h"
#include "platform/quick/QtQuickWindows.h"

#include <QQmlComponent>
#include <QQmlEngine>
#include <QRandomGenerator>
#include <QRegion>
#include <private/qquicktextinput_p.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <ostream>
#include <vector>

using namespace rivlo;

namespace {

const char* const kScene = R"(
import QtQuick
import Rivlo 1.0
Window {
    width: 640; height: 480; visible: true; color: "white"
    Item {
        objectName: "box"; x: 10; y: 10; width: 300; height: 200
        TextInput { x: 5; y: 5; width: 120; height: 30; echoMode: TextInput.Password; text: "a" }
        Item {
            objectName: "box"; x: 40; y: 60; width: 200; height: 120
            TextInput { x: 10; y: 10; width: 150; height: 30; text: "plain" }
            Rectangle { objectName: "box"; x: 20; y: 50; width: 100; height: 60; color: "red" }
        }
    }
    Item {
        objectName: "box"; x: 330; y: 20; width: 280; height: 400; rotation: 10
        Rectangle { objectName: "box"; x: 10; y: 200; width: 200; height: 150; color: "blue"
                    Rivlo.occluded: false }
    }
}
)";

// What the masks paint over, as one region, with their outcome.
struct Outcome {
    QRegion region;
    bool dropped = false;
    bool coversAll = false;
    bool operator==(const Outcome&) const = default;
};

void PrintTo(const Outcome& outcome, std::ostream* out) {
    *out << (outcome.dropped ? "dropped " : "") << (outcome.coversAll ? "covers all " : "");
    for (const QRect& r : outcome.region)
        *out << "[" << r.x() << "," << r.y() << " " << r.width() << "x" << r.height() << "] ";
}

Outcome outcomeOf(const QtFrameMasks& masks) {
    Outcome outcome{QRegion(), masks.dropped(), masks.coversAll()};
    for (const QRect& area : masks.areas())
        outcome.region += area;
    return outcome;
}

void collectChildren(QQuickItem* item, std::vector<QQuickItem*>& all) {
    all.push_back(item);
    const QList<QQuickItem*> children = item->childItems();
    for (QQuickItem* child : children)
        collectChildren(child, all);
}

// 400 random changes to a scene from `seed`, the masks compared after each; how many of those
// had masks to find.
int followAgainstWalk(quint32 seed) {
    QQmlApplicationEngine engine;
    engine.loadData(kScene);
    QQuickWindow* window = rivlo::test::shownWindow(engine);
    EXPECT_NE(window, nullptr);
    if (!window) return 0;
    QtItemMasks& items = QtQuickBridge::current()->itemMasks();
    const QRectF frame(0, 0, 640, 480);
    const QTransform toFrame;

    QQmlComponent password(&engine);
    password.setData(
        "import QtQuick\nTextInput { width: 60; height: 20; text: \"s\"; "
        "echoMode: TextInput.Password }",
        QUrl());
    QQmlComponent occluded(&engine);
    occluded.setData(
        "import QtQuick\nimport Rivlo 1.0\n"
        "Rectangle { width: 40; height: 40; Rivlo.occluded: true }",
        QUrl());
    QQmlComponent source(&engine);
    source.setData("import QtQuick\nShaderEffectSource { width: 30; height: 30 }", QUrl());
    EXPECT_TRUE(password.isReady() && occluded.isReady() && source.isReady());
    if (!password.isReady() || !occluded.isReady() || !source.isReady()) return 0;

    QRandomGenerator random(seed);
    int masked = 0;
    for (int step = 0; step < 400; ++step) {
        std::vector<QQuickItem*> all;
        collectChildren(window->contentItem(), all);
        QQuickItem* item = all[random.bounded(int(all.size()))];
        const bool content = item != window->contentItem();
        switch (random.bounded(11)) {
            case 0: {  // a password input made in QML, laid somewhere
                auto* made = qobject_cast<QQuickItem*>(password.create());
                made->setParent(item);
                made->setPosition(QPointF(random.bounded(200), random.bounded(200)));
                made->setParentItem(item);
                break;
            }
            case 1: {  // one made in C++, under its parent from its constructor
                auto* made = new QQuickTextInput(item);
                made->setSize(QSizeF(50, 20));
                made->setEchoMode(random.bounded(2) ? QQuickTextInput::Password
                                                    : QQuickTextInput::Normal);
                break;
            }
            case 2:  // an input's echo mode switched
                if (auto* input = qobject_cast<QQuickTextInput*>(item))
                    input->setEchoMode(input->echoMode() == QQuickTextInput::Normal
                                           ? QQuickTextInput::PasswordEchoOnEdit
                                           : QQuickTextInput::Normal);
                break;
            case 3:
                if (content) item->setVisible(!item->isVisible());
                break;
            case 4:
                if (content) item->setOpacity(item->opacity() > 0 ? 0 : 1);
                break;
            case 5:
                item->setClip(!item->clip());
                item->setPosition(item->position() + QPointF(random.bounded(-30, 30), 5));
                break;
            case 6: {  // a subtree moved under another item (not under itself)
                QQuickItem* to = all[random.bounded(int(all.size()))];
                bool inside = false;
                for (QQuickItem* i = to; i; i = i->parentItem())
                    inside = inside || i == item;
                if (content && !inside) item->setParentItem(to);
                break;
            }
            case 7:
                if (content && random.bounded(3) == 0) items.registerItem(item);
                break;
            case 8:
            case 9: {
                auto* made =
                    qobject_cast<QQuickItem*>((random.bounded(2) ? occluded : source).create());
                made->setParent(item);
                made->setParentItem(item);
                break;
            }
            case 10:
                if (content && item->objectName() != "box") delete item;
                break;
        }
        QtFrameMasks followed(frame.toRect()), walked(frame.toRect());
        items.collect(window, toFrame, frame, followed);
        items.collectWalkingAll(window, toFrame, frame, walked);
        const Outcome expected = outcomeOf(walked);
        EXPECT_EQ(outcomeOf(followed), expected) << "seed " << seed << ", step " << step;
        if (!(outcomeOf(followed) == expected)) return masked;
        masked += !expected.region.isEmpty();
    }
    return masked;
}

TEST(QtItemMasks, FollowedItemsGiveTheMasksOfAWholeWalk) {
    rivlo::test::quickRecorder();
    // RIVLO_MASKS_SEEDS=n: n scenes from seeds 7, 8, ...
    const int seeds = std::max(1, qEnvironmentVariableIntValue("RIVLO_MASKS_SEEDS"));
    int masked = 0;
    for (int i = 0; i < seeds && !::testing::Test::HasFailure(); ++i)
        masked += followAgainstWalk(7 + i);
    // The scenes had masks to find much of the time.
    EXPECT_GT(masked, seeds * 80);
}

// The frame shares the window's picture until its image is made: the window moving its password
// input to where a plain rectangle was, and rendering, before then, changes nothing in it.
TEST(QtItemMasks, AFrameShowsThePictureItWasTakenWithAfterTheWindowRendersAgain) {
    rivlo::test::quickRecorder();
    QQmlApplicationEngine engine;
    engine.loadData(R"(
import QtQuick
Window {
    width: 400; height: 200; visible: true; color: "white"
    TextInput { objectName: "input"; x: 20; y: 20; width: 150; height: 60; font.pixelSize: 48
                color: "#10d010"; echoMode: TextInput.Password; text: "secret" }
    Rectangle { objectName: "plain"; x: 220; y: 20; width: 150; height: 60; color: "#10e0e0" }
}
)");
    QQuickWindow* window = rivlo::test::recordedWindow(engine);
    ASSERT_NE(window, nullptr);
    std::shared_ptr<Window> shadow = QtQuickBridge::current()->windows().windowFor(window);
    QQuickItem* input = rivlo::test::findItem(window, "input");
    QQuickItem* plain = rivlo::test::findItem(window, "plain");
    ASSERT_TRUE(shadow && input && plain);

    auto context = Platform::current().graphics()->makeBitmapContext({400, 200}, true, 1.0);
    context->setFillColor(Color::black());
    context->fillRect(Rect(0, 0, 400, 200));
    ASSERT_TRUE(context->drawViewHierarchy(*shadow, Rect(0, 0, 400, 200), false));
    input->setX(220);
    plain->setX(20);
    QEvent render(QEvent::UpdateRequest);
    QCoreApplication::sendEvent(window, &render);
    const Image frame = context->makeImage();
    ASSERT_EQ(frame.width(), 400);
    // The plain rectangle where it was when the frame was taken; no pixel of the input.
    const Image::Pixel shown = frame.pixelAt(300, 50);
    EXPECT_TRUE(std::abs(shown.r - 0x10) < 30 && std::abs(shown.g - 0xe0) < 30 &&
                std::abs(shown.b - 0xe0) < 30);
    size_t secret = 0;
    for (int y = 0; y < frame.height(); ++y) {
        for (int x = 0; x < frame.width(); ++x) {
            const Image::Pixel p = frame.pixelAt(x, y);
            secret +=
                std::abs(p.r - 0x10) < 50 && std::abs(p.g - 0xd0) < 50 && std::abs(p.b - 0x10) < 50;
        }
    }
    EXPECT_EQ(secret, 0u);
}

}  // namespace
