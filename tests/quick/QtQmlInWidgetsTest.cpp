// QML in a program with widgets (a QApplication with the widget and Qt Quick bridges both
// installed), recorded end to end through the collector on loopback, every frame of the movie
// decoded: `import Rivlo 1.0` with `Rivlo.occluded` in a QML window whose engine was made before
// the install, and the items of a QQuickWidget inside a widget window masked where they are.

#include "QtRecording.h"
#include "QtTestSupport.h"

#include "platform/quick/QtQmlAttached.h"
#include "rivlo/qt/QtPlatform.h"
#include "rivlo/qt/QtQuickPlatform.h"

#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWidget>
#include <QQuickWindow>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

using namespace rivlo;
using rivlo::test::QtRecorder;
using rivlo::test::QtRecording;

namespace {

const QColor kMoving(224, 16, 224);     // occluded from QML, moving, a child reaching out of it
const QColor kLate(16, 208, 16);        // occluded from QML, made while recording, then destroyed
const QColor kToggled(240, 160, 0);     // occluded from QML until the test says false
const QColor kPassword(16, 48, 240);    // password fields in the QQuickWidget
const QColor kRegistered(150, 220, 0);  // an item of the QQuickWidget registered from C++
const QColor kShown(16, 224, 224);      // what may show
const QColor kPopup(100, 40, 160);      // a popup occluded from QML, opened while recording

// A QML engine made before the library is installed (as a program that makes its engine first).
QQmlEngine* earlyEngine() {
    static QQmlEngine* engine = [] {
        ::setenv("QT_QUICK_CONTROLS_STYLE", "Basic", 0);
        rivlo::test::qtApplicationWithoutBridge();
        return new QQmlEngine;  // lives for the process
    }();
    return engine;
}

QtRecorder& recorder() {
    earlyEngine();
    return QtRecorder::shared([] {
        QApplication& app = rivlo::test::qtApplicationWithoutBridge();
        QtPlatform::install(app);
        QtQuickPlatform::install(app);
    });
}

bool near(const media::DecodedFrame::RGB& c, QColor colour, int tolerance) {
    return std::abs(c.r - colour.red()) <= tolerance &&
           std::abs(c.g - colour.green()) <= tolerance &&
           std::abs(c.b - colour.blue()) <= tolerance;
}

// No frame shows any of the colours.
void expectNoneShows(const QtRecording& recording,
                     std::initializer_list<std::pair<QColor, const char*>> secrets) {
    for (const auto& [colour, what] : secrets) {
        const QtRecording::Seen seen = recording.find(colour, 50);
        EXPECT_EQ(seen.framePixels, 0u) << what << " shows, first " << seen.first;
    }
}

size_t framesShowing(const QtRecording& recording, QPoint at, QColor colour) {
    size_t n = 0;
    for (size_t i = 0; i < recording.frames.size(); ++i)
        n += near(recording.at(i, at), colour, 40) ? 1 : 0;
    return n;
}

const char* const kWindowScene = R"(
import QtQuick
import QtQuick.Controls
import Rivlo 1.0
Window {
    width: 400; height: 300; visible: true; color: "white"
    property bool hideToggled: true
    Rectangle {
        x: 20; y: 20; width: 100; height: 60; color: "#e010e0"
        Rivlo.occluded: true
        NumberAnimation on x { from: 20; to: 260; duration: 1100; loops: Animation.Infinite }
        Rectangle { x: 80; y: 50; width: 60; height: 40; color: "#e010e0" }
    }
    Rectangle {
        x: 20; y: 200; width: 120; height: 60; color: "#f0a000"
        Rivlo.occluded: hideToggled
    }
    Rectangle { x: 300; y: 240; width: 80; height: 40; color: "#10e0e0" }
    Popup {
        objectName: "popup"
        x: 180; y: 100; width: 100; height: 60; padding: 0; Rivlo.occluded: true
        background: Rectangle { color: "#6428a0" }
    }
}
)";

TEST(QtQmlInWidgets, OccludedFromQmlMasksItemsFromTheirFirstFrame) {
    QQmlEngine* engine = earlyEngine();
    QtRecorder& rec = recorder();
    // The engine was made before the install; the document importing the module after it.
    QQmlComponent component(engine);
    component.setData(kWindowScene, QUrl("qrc:/occluded.qml"));
    std::unique_ptr<QObject> root(component.create());
    ASSERT_TRUE(root) << component.errorString().toStdString();
    auto* window = qobject_cast<QQuickWindow*>(root.get());
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    window->requestActivate();

    const int before = QtQmlAttached::occludedCount();
    int afterDestroyed = -1;
    const QtRecording recording = rec.record([&] {
        QtRecorder::pass(0.8);
        // Made while recording: masked from the first frame that shows it.
        QQmlComponent late(engine);
        late.setData(R"(
import QtQuick
import Rivlo
Rectangle { x: 160; y: 120; width: 100; height: 60; color: "#10d010"; Rivlo.occluded: true }
)",
                     QUrl("qrc:/late.qml"));
        auto* item = qobject_cast<QQuickItem*>(late.create());
        if (item) item->setParentItem(window->contentItem());
        QMetaObject::invokeMethod(window->findChild<QObject*>("popup"), "open");
        QtRecorder::pass(0.8);
        delete item;
        afterDestroyed = QtQmlAttached::occludedCount();
        root->setProperty("hideToggled", false);
        QtRecorder::pass(0.8);
    });
    ASSERT_TRUE(recording.problems.empty()) << recording.problems.front();
    ASSERT_GE(recording.frames.size(), 6u);
    expectNoneShows(recording, {{kMoving, "the moving item occluded from QML (or its child)"},
                                {kLate, "the item made while recording, occluded from QML"},
                                {kPopup, "the popup occluded from QML"}});
    // Occluded until the property said false, then shown.
    EXPECT_FALSE(near(recording.at(0, QPoint(80, 230)), kToggled, 40));
    EXPECT_TRUE(near(recording.at(recording.frames.size() - 1, QPoint(80, 230)), kToggled, 40));
    // The destroyed item took its attached object with it.
    EXPECT_EQ(afterDestroyed, before);
    EXPECT_EQ(framesShowing(recording, QPoint(340, 260), kShown), recording.frames.size());
}

// In a QQuickWidget 300 x 240 whose right 20 points its parent (280 x 240 at (50, 40) of a
// 400 x 320 widget window) cuts off: a moving password input, a TextField in PasswordEchoOnEdit
// mode, an item registered from C++, one occluded from QML reaching past the widget's right
// edge, a password field in a clipping Flickable.
const char* const kWidgetScene = R"(
import QtQuick
import QtQuick.Controls
import Rivlo 1.0
Rectangle {
    width: 300; height: 240; color: "white"
    TextInput {
        x: 10; y: 10; width: 150; height: 40
        font.pixelSize: 32; color: "#1030f0"; echoMode: TextInput.Password; text: "secret"
        NumberAnimation on y { from: 10; to: 120; duration: 900; loops: Animation.Infinite }
    }
    TextField {
        x: 160; y: 10; width: 130; height: 40
        font.pixelSize: 28; color: "#1030f0"; echoMode: TextInput.PasswordEchoOnEdit
        text: "hunter2"; background: Rectangle { color: "white" }
    }
    Rectangle {
        objectName: "registered"
        x: 20; y: 170; width: 80; height: 50; color: "#96dc00"
        RotationAnimation on rotation { from: 0; to: 360; duration: 1300; loops: Animation.Infinite }
    }
    Rectangle { x: 240; y: 100; width: 120; height: 40; color: "#e010e0"; Rivlo.occluded: true }
    Flickable {
        x: 120; y: 170; width: 100; height: 40; clip: true; contentHeight: 200; contentY: 30
        TextInput {
            y: 20; width: 100; height: 80
            font.pixelSize: 60; color: "#1030f0"; echoMode: TextInput.Password; text: "pin"
        }
    }
    Rectangle { x: 230; y: 190; width: 60; height: 40; color: "#10e0e0" }
}
)";

TEST(QtQmlInWidgets, QuickWidgetItemsAreMaskedWhereTheyShow) {
    QtRecorder& rec = recorder();
    QWidget window;
    window.resize(400, 320);
    QPalette palette = window.palette();
    palette.setColor(QPalette::Window, QColor(230, 200, 30));
    window.setPalette(palette);
    window.setAutoFillBackground(true);
    auto* holder = new QWidget(&window);
    holder->setGeometry(50, 40, 280, 240);
    auto* quick = new QQuickWidget(earlyEngine(), holder);
    quick->setResizeMode(QQuickWidget::SizeRootObjectToView);
    quick->setGeometry(0, 0, 300, 240);
    QQmlComponent component(earlyEngine());
    component.setData(kWidgetScene, QUrl("qrc:/widget.qml"));
    auto* root = qobject_cast<QQuickItem*>(component.create());
    ASSERT_NE(root, nullptr) << component.errorString().toStdString();
    quick->setContent(QUrl("qrc:/widget.qml"), &component, root);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QtQuickPlatform::occludeSensitiveItem(root->findChild<QQuickItem*>("registered"));

    const QtRecording recording = rec.record([&] { QtRecorder::pass(2.0); });
    ASSERT_TRUE(recording.problems.empty()) << recording.problems.front();
    EXPECT_EQ(recording.width, 400);
    ASSERT_GE(recording.frames.size(), 6u);
    expectNoneShows(recording, {{kPassword, "a password field of the QQuickWidget"},
                                {kRegistered, "the registered rotating item of the QQuickWidget"},
                                {kMoving, "the item occluded from QML in the QQuickWidget"}});
    // Its items, not the whole widget, are painted over (after the first rendering the library
    // followed): the plain item shows, at its place in the window.
    EXPECT_GE(framesShowing(recording, QPoint(50 + 260, 40 + 210), kShown),
              recording.frames.size() - 2);
    // Masks are cut to what the widget's parent lets show: the window right of it keeps its
    // colour where the occluded item's rectangle would reach.
    EXPECT_EQ(framesShowing(recording, QPoint(50 + 280 + 5, 40 + 120), QColor(230, 200, 30)),
              recording.frames.size());
}

}  // namespace
