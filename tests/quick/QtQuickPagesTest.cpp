// Pages, touched items and masked text inputs of real QML, recorded end to end through the
// collector on loopback: the QML documents are written to files (a page's type is named after
// its file), loaded offscreen, played with and recorded; the session document says under which
// screen each tap was recorded, the bridge which item each touch was hit-tested to, and the
// decoded movie what was painted over.

#include "QuickTestSupport.h"

#include "platform/View.h"
#include "platform/quick/QtQuickBridge.h"
#include "platform/quick/QtQuickInput.h"
#include "platform/quick/QtQuickWindows.h"

#include <QFile>
#include <QQmlApplicationEngine>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <map>

using namespace rivlo;
using rivlo::test::findItem;
using rivlo::test::QtRecorder;
using rivlo::test::QtRecording;

namespace {

// A StackView of pages; the catalogue holds a TabBar over a StackLayout whose first tab is a
// SwipeView of two pages and whose second is a Loader.
const std::map<QString, QByteArray> kShop = {
    {"main.qml", R"(
import QtQuick
import QtQuick.Controls
Window {
    objectName: "shop"
    width: 480; height: 360; visible: true; color: "white"
    function showCatalog() { stack.push("CatalogPage.qml") }
    function swipeTo(i) { stack.currentItem.swipe.currentIndex = i }
    function tabTo(i) { stack.currentItem.tabs.currentIndex = i }
    function back() { stack.pop() }
    StackView { id: stack; anchors.fill: parent; initialItem: "LoginPage.qml" }
}
)"},
    // A tile reaching out of its panel: childAt() of the page would not find it there.
    {"LoginPage.qml", R"(
import QtQuick
Rectangle {
    color: "white"
    Rectangle {
        objectName: "panel"
        x: 20; y: 40; width: 200; height: 100; color: "#dddddd"
        Rectangle { objectName: "tile"; x: 150; y: 60; width: 120; height: 30; color: "#888888" }
    }
}
)"},
    {"CatalogPage.qml", R"(
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
Rectangle {
    property alias swipe: swipeView
    property alias tabs: tabBar
    TabBar {
        id: tabBar
        width: parent.width; height: 40
        TabButton { text: "Products" }
        TabButton { text: "Account" }
    }
    StackLayout {
        y: 40; width: parent.width; height: parent.height - 40
        currentIndex: tabBar.currentIndex
        SwipeView {
            id: swipeView
            ProductPage {}
            ReviewPage {}
        }
        Loader { source: "AccountPage.qml" }
    }
}
)"},
    // Declared first but raised: painted over the rectangle declared after it.
    {"ProductPage.qml", R"(
import QtQuick
Rectangle {
    Rectangle { objectName: "over"; z: 2; x: 40; y: 40; width: 150; height: 100; color: "#444444" }
    Rectangle { objectName: "under"; x: 100; y: 80; width: 150; height: 100; color: "#999999" }
}
)"},
    // Where the clipping frame cuts its picture off, the page itself is touched.
    {"ReviewPage.qml", R"(
import QtQuick
Rectangle {
    Item {
        objectName: "frame"
        x: 40; y: 40; width: 100; height: 100; clip: true
        Rectangle { objectName: "picture"; x: 50; width: 150; height: 100; color: "#666666" }
    }
}
)"},
    {"AccountPage.qml", R"(
import QtQuick
Rectangle {
    Rectangle { objectName: "account"; x: 60; y: 60; width: 100; height: 60; color: "#777777" }
}
)"},
};

// The bridge's view of a touch: the item it was hit-tested to, by name (else its type).
std::string touchedName() {
    QtQuickInput& input = QtQuickBridge::current()->input();
    QQuickItem* item = input.lastTouchedItem();
    if (!item) return input.lastHit() ? "view " + input.lastHit()->className() : "nothing";
    return item->objectName().isEmpty() ? QtQuickWindows::typeName(item)
                                        : item->objectName().toStdString();
}

TEST(QtQuickPages, PagesNamedInOrderAndTapsHitTheTouchedItem) {
    QtRecorder& rec = rivlo::test::quickRecorder();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const auto& [name, text] : kShop) {
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    }
    QQmlApplicationEngine engine;
    engine.load(QUrl::fromLocalFile(dir.filePath("main.qml")));
    QQuickWindow* window = rivlo::test::recordedWindow(engine);
    ASSERT_NE(window, nullptr);

    // Taps at an item's point (its own coordinates), once the item shows.
    std::vector<std::string> touched;
    std::vector<QPoint> taps;
    auto tapOn = [&](const char* name, QPointF local) {
        QQuickItem* item = nullptr;
        const bool shown = QTest::qWaitFor([&] {
            item = findItem(window, name);
            return item && item->isVisible();
        });
        if (!shown) {
            ADD_FAILURE() << name << " does not show";
            return;
        }
        // Transitions over: the item is where it stays.
        QtRecorder::pass(0.6);
        const QPoint at = item->mapToScene(local).toPoint();
        QTest::mouseClick(window, Qt::LeftButton, {}, at);
        touched.push_back(touchedName());
        taps.push_back(at);
        QtRecorder::pass(0.4);
    };
    auto call = [&](const char* function, int argument = -1) {
        if (argument < 0) {
            QMetaObject::invokeMethod(window, function);
        } else {
            QMetaObject::invokeMethod(window, function, Q_ARG(QVariant, argument));
        }
    };
    const QtRecording recording = rec.record([&] {
        QtRecorder::pass(0.5);
        tapOn("tile", {100, 15});  // outside its panel
        call("showCatalog");
        tapOn("over", {100, 60});  // where "under" lies too
        call("swipeTo", 1);
        tapOn("frame", {120, 40});  // past the clip: the picture is cut off there
        call("tabTo", 1);
        tapOn("account", {50, 30});
        call("back");
        tapOn("tile", {100, 15});
    });
    ASSERT_TRUE(recording.problems.empty()) << recording.problems.front();

    // The innermost page shown names the screen: never the catalogue holding the tabs, nor the
    // Loader holding the account page.
    const std::vector<std::string> screens = {"LoginPage", "ProductPage", "ReviewPage",
                                              "AccountPage", "LoginPage"};
    const std::vector<std::string> items = {"tile", "over", "ReviewPage", "account", "tile"};
    ASSERT_EQ(taps.size(), screens.size());
    EXPECT_EQ(touched, items);
    std::vector<std::string> tapped;
    for (const auto& g : recording.gestures()) {
        if (g.code != 0) continue;
        tapped.push_back(g.screen + " @" + std::to_string(static_cast<int>(g.x)) + "," +
                         std::to_string(static_cast<int>(g.y)));
    }
    std::vector<std::string> expected;
    for (size_t i = 0; i < taps.size(); ++i) {
        expected.push_back(screens[i] + " @" + std::to_string(taps[i].x()) + "," +
                           std::to_string(taps[i].y()));
    }
    EXPECT_EQ(tapped, expected);
}

// With all text inputs masked, a plain TextInput and a TextArea are painted over in every
// frame (as grabbed without the library, both draw their colours), the rest is not.
TEST(QtQuickPages, MaskAllTextInputsCoversPlainTextItems) {
    const QColor input(230, 150, 0);   // a TextInput, echo Normal
    const QColor area(150, 0, 230);    // a TextArea
    const QColor shown(16, 224, 224);  // a plain rectangle
    QtRecorder& rec = rivlo::test::quickRecorder();
    QQmlApplicationEngine engine;
    engine.loadData(R"(
import QtQuick
import QtQuick.Controls
Window {
    width: 480; height: 360; visible: true; color: "white"
    TextInput {
        x: 20; y: 20; width: 300; height: 60
        font.pixelSize: 48; color: "#e69600"; text: "plainplain"
    }
    TextArea {
        x: 20; y: 120; width: 300; height: 120
        font.pixelSize: 48; color: "#9600e6"; text: "notes\nnotes"
        background: Rectangle { color: "white" }
    }
    Rectangle { x: 340; y: 280; width: 120; height: 60; color: "#10e0e0" }
}
)");
    QQuickWindow* window = rivlo::test::recordedWindow(engine);
    ASSERT_NE(window, nullptr);
    const QImage drawn = window->grabWindow();
    auto draws = [&](QColor colour) {
        for (int y = 0; y < drawn.height(); ++y) {
            for (int x = 0; x < drawn.width(); ++x) {
                const QColor c = drawn.pixelColor(x, y);
                if (std::abs(c.red() - colour.red()) < 30 &&
                    std::abs(c.green() - colour.green()) < 30 &&
                    std::abs(c.blue() - colour.blue()) < 30)
                    return true;
            }
        }
        return false;
    };
    ASSERT_TRUE(draws(input) && draws(area));

    QtQuickPlatform::setMaskAllTextInputs(true);
    const QtRecording recording = rec.record([] { QtRecorder::pass(1.5); });
    QtQuickPlatform::setMaskAllTextInputs(false);
    ASSERT_TRUE(recording.problems.empty()) << recording.problems.front();
    ASSERT_GE(recording.frames.size(), 4u);
    EXPECT_EQ(recording.find(input, 50).framePixels, 0u) << recording.find(input, 50).first;
    EXPECT_EQ(recording.find(area, 50).framePixels, 0u) << recording.find(area, 50).first;
    size_t framesShowingIt = 0;
    for (size_t i = 0; i < recording.frames.size(); ++i) {
        if (rivlo::test::nearColour(recording.at(i, QPoint(400, 310)), shown, 40))
            ++framesShowingIt;
    }
    EXPECT_EQ(framesShowingIt, recording.frames.size());
}

// A window declared inside the recorded one (transient for it) shows over it as a dialog would:
// it is drawn into the recorded window's frames where it shows, with its own masks (its password
// field in no frame, its plain content in frames with the window's own), and a tap on it is the
// recorded window's tap at that place, under the dialog's screen, on the dialog's item.
TEST(QtQuickPages, DialogWindowDrawnOverItsWindowWithItsOwnMasks) {
    const QColor own(16, 224, 224);    // the recorded window's content
    const QColor plain(230, 150, 0);   // the dialog's plain content
    const QColor secret(150, 0, 230);  // the dialog's password field
    QtRecorder& rec = rivlo::test::quickRecorder();
    QQmlApplicationEngine engine;
    engine.loadData(R"(
import QtQuick
Window {
    objectName: "checkout"
    x: 0; y: 0; width: 480; height: 360; visible: true; color: "white"
    Rectangle { x: 20; y: 280; width: 200; height: 60; color: "#10e0e0" }
    Window {
        objectName: "confirm"
        x: 200; y: 60; width: 240; height: 180; color: "white"
        Rectangle { objectName: "yes"; x: 20; y: 120; width: 200; height: 40; color: "#e69600" }
        TextInput {
            x: 20; y: 20; width: 200; height: 80
            font.pixelSize: 60; color: "#9600e6"; echoMode: TextInput.Password; text: "secret"
        }
    }
}
)");
    QQuickWindow* window = rivlo::test::recordedWindow(engine);
    ASSERT_NE(window, nullptr);
    QQuickWindow* dialog = window->findChild<QQuickWindow*>("confirm");
    ASSERT_NE(dialog, nullptr);

    QPoint at;  // where the dialog shows in the recorded window
    std::string touched;
    const QtRecording recording = rec.record([&] {
        QtRecorder::pass(0.6);
        dialog->show();
        if (!QTest::qWaitForWindowExposed(dialog)) ADD_FAILURE() << "the dialog does not show";
        at = dialog->mapToGlobal(QPoint(0, 0)) - window->mapToGlobal(QPoint(0, 0));
        QtRecorder::pass(0.8);
        QTest::mouseClick(dialog, Qt::LeftButton, {}, QPoint(120, 140));
        touched = touchedName();
        QtRecorder::pass(0.8);
    });
    ASSERT_TRUE(recording.problems.empty()) << recording.problems.front();
    EXPECT_EQ(recording.find(secret, 50).framePixels, 0u) << recording.find(secret, 50).first;
    // Frames with the dialog show both windows: the dialog's content where it shows over the
    // recorded window, the recorded window's own beside it.
    const QPoint dialogPlain = at + QPoint(120, 140);
    size_t both = 0;
    for (size_t i = 0; i < recording.frames.size(); ++i) {
        if (rivlo::test::nearColour(recording.at(i, dialogPlain), plain, 40) &&
            rivlo::test::nearColour(recording.at(i, QPoint(120, 310)), own, 40))
            ++both;
    }
    EXPECT_GE(both, 2u) << "the dialog at (" << at.x() << ", " << at.y() << ")";
    EXPECT_EQ(touched, "yes");
    bool tapped = false;
    for (const auto& g : recording.gestures()) {
        tapped |= g.code == 0 && g.screen == "confirm" && std::abs(g.x - dialogPlain.x()) <= 1 &&
                  std::abs(g.y - dialogPlain.y()) <= 1;
    }
    EXPECT_TRUE(tapped) << "no tap on the dialog's screen at (" << dialogPlain.x() << ", "
                        << dialogPlain.y() << ")";
}

}  // namespace
