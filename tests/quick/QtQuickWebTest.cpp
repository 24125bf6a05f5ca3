// Qt Quick's WebEngineView recorded end to end: real QML with a real page (Chromium under the
// offscreen platform) recorded through the Qt Quick bridge, uploaded to the collector on
// loopback, the movie and the page's tiles decoded. The page's password input is painted in a
// colour nothing else is drawn in and must show nowhere; its plain text must show; taps on the
// page are the page's, at its points, and capture its tiles.

#include "QtRecording.h"
#include "QuickTestSupport.h"
#include "QtTestSupport.h"

#include "foundation/RunLoop.h"
#include "platform/qt/QtWebEngine.h"
#include "platform/quick/QtQuickBridge.h"
#include "platform/quick/QtQuickWebViews.h"
#include "platform/quick/QtQuickWindows.h"
#include "platform/quick/webengine/QtQuickWebEngineItems.h"
#include "rivlo/qt/QtQuickPlatform.h"

#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>
#include <QtWebEngineQuick/qtwebenginequickglobal.h>

#include <gtest/gtest.h>

#include <cstdlib>

using namespace rivlo;
using rivlo::test::QtRecorder;
using rivlo::test::QtRecording;
using rivlo::test::qtWaitFor;

namespace {

const QColor kPassword(0, 200, 0);  // the page's password input: nothing else is drawn in it
const QColor kText(230, 120, 0);    // the page's plain text
const QColor kPage(40, 60, 200);    // the page's background
const QColor kBar(16, 224, 224);    // a plain rectangle of the window, over the web view
const char* const kAddress = "http://shop.example/article";

QGuiApplication& webApplication() {
    static QGuiApplication* app = [] {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
        ::setenv("QTWEBENGINE_CHROMIUM_FLAGS", "--no-sandbox --disable-gpu", 0);
        ::setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
        QtWebEngineQuick::initialize();
        static int argc = 1;
        static char name[] = "rivlo-quick-web-tests";
        static char* argv[] = {name, nullptr};
        RunLoop::main().setMainThread();
        // The Qt Quick web view module, linked into the suite rather than loaded.
        QtWebEngine::provide(&QtQuickWebEngineItems::create, QtWebEngine::Kind::Quick);
        return new QGuiApplication(argc, argv);  // lives for the process
    }();
    return *app;
}

QtRecorder& recorder() {
    QGuiApplication& app = webApplication();
    return QtRecorder::shared([&app] { QtQuickPlatform::install(app); });
}

// A window of 400 x 600 whose WebEngineView (360 x 520) sits below a bar.
const char* const kScene = R"(
import QtQuick
import QtWebEngine
Window {
    objectName: "article"
    width: 400; height: 600; visible: true; color: "white"
    Rectangle { x: 0; y: 0; width: 400; height: 60; color: "#10e0e0" }
    WebEngineView { objectName: "web"; x: 20; y: 60; width: 360; height: 520 }
}
)";

// 2080 points high: four screen-high rows of 520 points, the height of the web view, so a
// whole tile shows in it.
const char* const kHtml =
    "<html><body style='margin:0;height:2080px;position:relative;background:rgb(40,60,200)'>"
    "<input type=password value=hunter2 style='position:absolute;left:60px;top:60px;"
    "width:250px;height:40px;background:rgb(0,200,0);color:rgb(0,200,0);border:0'>"
    "<p style='position:absolute;left:60px;top:180px;margin:0;font:bold 40px sans-serif;"
    "color:rgb(230,120,0)'>Plain words</p></body></html>";

bool near(const media::DecodedFrame::RGB& c, QColor colour, int tolerance) {
    return std::abs(c.r - colour.red()) <= tolerance &&
           std::abs(c.g - colour.green()) <= tolerance &&
           std::abs(c.b - colour.blue()) <= tolerance;
}

TEST(QtQuickWeb, APageIsRecordedWithItsPasswordInputMasked) {
    QtRecorder& rec = recorder();
    QQmlApplicationEngine engine;
    engine.loadData(kScene);
    QQuickWindow* window = rivlo::test::shownWindow(engine);
    ASSERT_NE(window, nullptr);
    auto* web = window->findChild<QQuickItem*>("web");
    ASSERT_NE(web, nullptr);
    QMetaObject::invokeMethod(web, "loadHtml", Q_ARG(QString, kHtml), Q_ARG(QUrl, QUrl(kAddress)));
    ASSERT_TRUE(qtWaitFor(
        [&] {
            return !web->property("loading").toBool() &&
                   web->property("contentsSize").toSizeF().height() >= 2000;
        },
        60));
    ASSERT_TRUE(qtWaitFor(
        [&] { return QtQuickBridge::current()->windows().windowFor(window) != nullptr; }));

    // Taps on the page (window points; the page starts at (20, 60)), each a new touch point.
    const std::vector<QPoint> taps{{120, 360}, {127, 365}, {134, 370}};
    const QtRecording recording = rec.record([&] {
        QtRecorder::pass(0.6);
        for (const QPoint at : taps) {
            QTest::mouseClick(window, Qt::LeftButton, {}, at);
            QtRecorder::pass(0.8);
        }
        // Another page, whose password input never holds still: while it loads, and while its
        // masks cannot be known to hold for the pixels taken, the web view is painted over.
        QString moving = kHtml;
        moving.replace("top:60px", "top:300px;animation:slide 0.8s linear infinite alternate");
        moving.replace("<body", "<style>@keyframes slide{to{left:0}}</style><body");
        QMetaObject::invokeMethod(web, "loadHtml", Q_ARG(QString, moving),
                                  Q_ARG(QUrl, QUrl(QString(kAddress) + "/moving")));
        QtRecorder::pass(2.0);
    });
    ASSERT_TRUE(recording.problems.empty()) << recording.problems.front();
    ASSERT_GE(recording.frames.size(), 8u);
    EXPECT_EQ(QtQuickBridge::current()->webViews().proxyCount(), 1u);

    // No pixel of the password input, in any frame or tile.
    const QtRecording::Seen secret = recording.find(kPassword, 60);
    EXPECT_EQ(secret.framePixels, 0u) << "first at " << secret.first;
    EXPECT_EQ(secret.tilePixels, 0u) << "first at " << secret.first;

    // The page is recorded, not painted over whole: its text and background show, and the
    // mask lies where the input is.
    size_t framesShowingPage = 0;
    for (size_t i = 0; i < recording.frames.size(); ++i) {
        if (near(recording.at(i, {220, 460}), kPage, 40) &&
            near(recording.at(i, {205, 140}), QColor(255, 0, 0), 60) &&
            near(recording.at(i, {200, 30}), kBar, 40))
            ++framesShowingPage;
    }
    EXPECT_GE(framesShowingPage, 3u);
    const QtRecording::Seen text = recording.find(kText, 40);
    EXPECT_GT(text.framePixels, 0u) << "the page's plain text shows in no frame";

    // The page's tiles, cut from checked pictures: masked where the input is, its text shown.
    ASSERT_FALSE(recording.tiles.empty()) << "no tile of the page was uploaded";
    const QColor tileMask(recording.tiles[0].pixel(185, 80));
    EXPECT_TRUE(tileMask.red() > 190 && tileMask.green() < 80) << tileMask.name().toStdString();
    EXPECT_GT(text.tilePixels, 0u) << "the page's plain text shows in no tile";

    // The taps are the page's: on its screen, named after its address, at its points.
    for (const QPoint at : taps) {
        const QPoint inPage = at - QPoint(20, 60);
        bool found = false;
        for (const auto& g : recording.gestures()) {
            found |= g.code == 0 && g.screen == kAddress && std::abs(g.x - inPage.x()) <= 1 &&
                     std::abs(g.y - inPage.y()) <= 1;
        }
        EXPECT_TRUE(found) << "no tap on the page at (" << inPage.x() << ", " << inPage.y() << ")";
    }
}

// An Animator moves the view's scene-graph node while its `x` keeps its value: the page's masks,
// placed from the view's properties, would miss the input where it is drawn. The view is painted
// over whole while it is drawn elsewhere than its properties say.
TEST(QtQuickWeb, AViewMovedByAnAnimatorShowsNoPasswordInput) {
    QtRecorder& rec = recorder();
    QQmlApplicationEngine engine;
    engine.loadData(R"(
import QtQuick
import QtWebEngine
Window {
    objectName: "sliding"
    width: 400; height: 600; visible: true; color: "white"
    WebEngineView {
        objectName: "web"; x: 20; y: 60; width: 360; height: 520
        XAnimator on x {
            objectName: "slide"; running: false; from: 20; to: 180; duration: 700
            loops: Animation.Infinite
        }
    }
}
)");
    QQuickWindow* window = rivlo::test::shownWindow(engine);
    ASSERT_NE(window, nullptr);
    auto* web = window->findChild<QQuickItem*>("web");
    QObject* slide = window->findChild<QObject*>("slide");
    ASSERT_TRUE(web && slide);
    QMetaObject::invokeMethod(web, "loadHtml", Q_ARG(QString, kHtml),
                              Q_ARG(QUrl, QUrl(QString(kAddress) + "/sliding")));
    ASSERT_TRUE(qtWaitFor(
        [&] {
            return !web->property("loading").toBool() &&
                   web->property("contentsSize").toSizeF().height() >= 2000;
        },
        60));

    const QtRecording recording = rec.record([&] {
        QtRecorder::pass(2.0);  // at rest: the page's masks hold
        slide->setProperty("running", true);
        QtRecorder::pass(2.5);
    });
    ASSERT_TRUE(recording.problems.empty()) << recording.problems.front();
    ASSERT_GE(recording.frames.size(), 6u);
    const QtRecording::Seen secret = recording.find(kPassword, 60);
    EXPECT_EQ(secret.framePixels, 0u) << "first at " << secret.first;
    // At rest the page itself was recorded, not painted over.
    bool pageShown = false;
    for (size_t i = 0; i < recording.frames.size(); ++i)
        pageShown |= near(recording.at(i, {220, 460}), kPage, 40);
    EXPECT_TRUE(pageShown);
}

}  // namespace
