// The Qt bridge's shadow tree, input, frames, run loop and lifecycle, each against real widgets
// on Qt's offscreen platform: widgets added, moved, hidden and destroyed while the tree is in
// use; a registered widget destroyed; a window closed during a touch; a window without size.

#include "QtTestSupport.h"
#include "support/LogCapture.h"

#include "foundation/NotificationCenter.h"
#include "foundation/RunLoop.h"
#include "platform/AlertView.h"
#include "platform/Device.h"
#include "platform/GestureRecognizer.h"
#include "platform/Platform.h"
#include "platform/ScrollView.h"
#include "platform/WebView.h"
#include "platform/TextField.h"
#include "platform/qt/QtApplication.h"
#include "platform/qt/QtGraphics.h"
#include "platform/qt/QtMainThreadScheduler.h"
#include "platform/qt/QtShadowTree.h"
#include "platform/qt/QtWindowPixels.h"
#include "rivlo/qt/QtPlatform.h"

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSysInfo>
#include <QScrollArea>
#include <QTabWidget>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <qpa/qwindowsysteminterface.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

using namespace rivlo;
using rivlo::test::LogCapture;
using rivlo::test::qtBridge;
using rivlo::test::qtWaitFor;

// Screens of a host application: their class names name the screens.
struct QtTestShopWindow : QWidget {};
struct QtTestLoginPage : QWidget {};
struct QtTestListPage : QWidget {};
struct QtTestAboutDialog : QDialog {
    using QDialog::QDialog;
};

namespace {

Rect inWindow(const View& view) {
    return view.superview() ? view.superview()->convertRectToView(view.frame(), nullptr)
                            : view.frame();
}

QWidget* coloured(QWidget* parent, QColor colour, QRect geometry) {
    auto* w = new QWidget(parent);
    QPalette p = w->palette();
    p.setColor(QPalette::Window, colour);
    w->setPalette(p);
    w->setAutoFillBackground(true);
    w->setGeometry(geometry);
    return w;
}

void showAndSync(QWidget& window) {
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    qtBridge().tree().sync();
}

}  // namespace

TEST(QtShadowTree, ProxiesFollowWidgetsAddedMovedHiddenAndDestroyed) {
    auto& tree = qtBridge().tree();
    LogCapture log;
    QWidget window;
    window.resize(300, 400);
    auto* label = new QLabel("title", &window);
    label->setGeometry(10, 20, 100, 30);
    showAndSync(window);

    auto shadow = tree.windowForWidget(&window);
    ASSERT_TRUE(shadow);
    EXPECT_EQ(shadow->bounds().size, (Size{300, 400}));
    auto labelView = tree.viewForWidget(label);
    ASSERT_TRUE(labelView);
    EXPECT_EQ(labelView->className(), "view:QLabel");
    EXPECT_EQ(labelView->window(), shadow.get());
    EXPECT_EQ(inWindow(*labelView), Rect(10, 20, 100, 30));

    // Added while in use.
    auto* button = new QPushButton("buy", &window);
    button->setGeometry(50, 200, 80, 40);
    button->show();
    ASSERT_TRUE(qtWaitFor([&] {
        auto v = tree.viewForWidget(button);
        return v && v->window() == shadow.get();
    }));
    EXPECT_EQ(shadow->hitTest({60, 210}, nullptr), tree.viewForWidget(button));

    // Moved.
    label->move(40, 60);
    ASSERT_TRUE(qtWaitFor([&] { return inWindow(*labelView) == Rect(40, 60, 100, 30); }));

    // Hidden: off the window, and no longer hit.
    label->hide();
    ASSERT_TRUE(qtWaitFor([&] { return labelView->window() == nullptr; }));
    EXPECT_NE(shadow->hitTest({45, 65}, nullptr), labelView);
    label->show();
    ASSERT_TRUE(qtWaitFor([&] { return labelView->window() == shadow.get(); }));

    // Destroyed: its view is dropped at once, with a line saying so.
    QWidget* gone = button;
    delete button;
    EXPECT_TRUE(log.contains("QPushButton destroyed; its view is dropped")) << log.all();
    EXPECT_FALSE(tree.viewForWidget(gone));
    tree.sync();
    EXPECT_EQ(shadow->hitTest({60, 210}, nullptr).get(),
              shadow->rootViewController()->view().get());
}

// The shadow tree has no say in masks (they are decided from the live widgets when a frame is
// taken): a password field is a text field like any other.
TEST(QtShadowTree, LineEditsAreTextFieldsAndScrollAreasScrollViews) {
    auto& tree = qtBridge().tree();
    QWidget window;
    window.resize(320, 300);
    auto* user = new QLineEdit(&window);
    user->setGeometry(10, 10, 200, 30);
    auto* password = new QLineEdit(&window);
    password->setGeometry(10, 50, 200, 30);
    password->setEchoMode(QLineEdit::Password);
    auto* onEdit = new QLineEdit(&window);
    onEdit->setGeometry(10, 90, 200, 30);
    onEdit->setEchoMode(QLineEdit::PasswordEchoOnEdit);
    auto* scroll = new QScrollArea(&window);
    scroll->setGeometry(10, 130, 200, 150);
    showAndSync(window);

    auto field = [&](QWidget* w) {
        return std::dynamic_pointer_cast<TextField>(tree.viewForWidget(w));
    };
    ASSERT_TRUE(field(user) && field(password) && field(onEdit));
    EXPECT_FALSE(field(password)->isSecureTextEntry());
    EXPECT_EQ(field(password)->className(), "view:QLineEdit");
    EXPECT_TRUE(std::dynamic_pointer_cast<ScrollView>(tree.viewForWidget(scroll)));
}

TEST(QtShadowTree, WindowsDialogsAndCurrentPagesAreScreensNamedAfterTheirClasses) {
    auto& bridge = qtBridge();
    auto& tree = bridge.tree();
    QtTestShopWindow window;
    window.resize(390, 600);
    auto* tabs = new QTabWidget(&window);
    tabs->setGeometry(0, 0, 390, 600);
    auto* login = new QtTestLoginPage;
    auto* list = new QtTestListPage;
    tabs->addTab(login, "Login");
    tabs->addTab(list, "Products");
    showAndSync(window);

    auto root = tree.screenForWidget(&window);
    ASSERT_TRUE(root);
    EXPECT_EQ(root->className(), "QtTestShopWindow");
    EXPECT_TRUE(root->isVisible());
    auto loginScreen = tree.screenForWidget(login);
    ASSERT_TRUE(loginScreen);
    EXPECT_EQ(loginScreen->className(), "QtTestLoginPage");
    EXPECT_TRUE(loginScreen->isVisible());
    // The page's view keeps Qt's class name: the page's own names its screen.
    EXPECT_EQ(tree.viewForWidget(login)->className(), "view:QWidget");

    tabs->setCurrentIndex(1);
    ASSERT_TRUE(qtWaitFor([&] {
        auto s = tree.screenForWidget(list);
        return s && s->isVisible() && !loginScreen->isVisible();
    }));
    EXPECT_EQ(tree.screenForWidget(list)->className(), "QtTestListPage");

    // A dialog is a screen of its own, shown over the window the person works in, which stays
    // the key window; a hit test where the dialog shows finds the dialog's views.
    QtTestAboutDialog dialog(&window);
    dialog.resize(200, 100);
    auto* ok = new QPushButton("OK", &dialog);
    ok->setGeometry(10, 10, 80, 30);
    showAndSync(dialog);
    EXPECT_EQ(tree.screenForWidget(&dialog)->className(), "QtTestAboutDialog");
    EXPECT_TRUE(tree.screenForWidget(&dialog)->isVisible());
    EXPECT_EQ(bridge.application().keyWindow(), tree.windowForWidget(&window));
    EXPECT_EQ(tree.windowForWidget(&dialog), tree.windowForWidget(&window));
    const QPoint at = dialog.mapToGlobal(QPoint(20, 20)) - window.mapToGlobal(QPoint(0, 0));
    EXPECT_EQ(tree.windowForWidget(&window)->hitTest({double(at.x()), double(at.y())}, nullptr),
              tree.viewForWidget(ok));
    dialog.hide();
    tree.sync();
    EXPECT_FALSE(tree.screenForWidget(&dialog)->isVisible());
    EXPECT_EQ(bridge.application().keyWindow(), tree.windowForWidget(&window));

    // A plain Qt class is named after its objectName when it has one.
    QWidget plain;
    plain.setObjectName("settings_page");
    plain.resize(100, 100);
    showAndSync(plain);
    EXPECT_EQ(tree.screenForWidget(&plain)->className(), "settings_page");
}

TEST(QtInput, MouseTapsSwipesAndTwoFingerPinchesReachTheRecognisersAtWidgetPositions) {
    auto& tree = qtBridge().tree();
    QWidget window;
    window.resize(400, 500);
    auto* card = coloured(&window, Qt::blue, QRect(100, 150, 120, 80));
    showAndSync(window);
    auto shadow = tree.windowForWidget(&window);
    ASSERT_TRUE(shadow);

    // Recognisers on the card's proxy see touches whose hit test found the card.
    auto tap = std::make_shared<TapGestureRecognizer>();
    std::vector<Point> taps;
    tap->addTarget(nullptr,
                   [&](GestureRecognizer& r) { taps.push_back(r.locationInView(nullptr)); });
    tree.viewForWidget(card)->addGestureRecognizer(tap);
    QTest::mouseClick(card, Qt::LeftButton, {}, QPoint(10, 20));
    ASSERT_EQ(taps.size(), 1u);
    EXPECT_NEAR(taps[0].x, 110, 3);
    EXPECT_NEAR(taps[0].y, 170, 3);

    auto swipe = std::make_shared<SwipeGestureRecognizer>(SwipeDirection::Left);
    int swipes = 0;
    swipe->addTarget(nullptr, [&](GestureRecognizer&) { ++swipes; });
    shadow->addGestureRecognizer(swipe);
    QTest::mousePress(&window, Qt::LeftButton, {}, QPoint(350, 400));
    for (int x = 330; x >= 200; x -= 20)
        QTest::mouseMove(&window, QPoint(x, 402));
    QTest::mouseRelease(&window, Qt::LeftButton, {}, QPoint(200, 402));
    EXPECT_EQ(swipes, 1);

    auto pinch = std::make_shared<PinchGestureRecognizer>();
    std::vector<GestureState> states;
    double scale = 0;
    pinch->addTarget(nullptr, [&](GestureRecognizer& r) {
        states.push_back(r.state());
        scale = static_cast<PinchGestureRecognizer&>(r).scale();
    });
    shadow->addGestureRecognizer(pinch);
    QPointingDevice* screen = QTest::createTouchDevice();
    QTest::touchEvent(&window, screen).press(0, QPoint(150, 300)).press(1, QPoint(250, 300));
    for (int d = 10; d <= 60; d += 10)
        QTest::touchEvent(&window, screen)
            .move(0, QPoint(150 - d, 300))
            .move(1, QPoint(250 + d, 300));
    QTest::touchEvent(&window, screen).release(0, QPoint(90, 300)).release(1, QPoint(310, 300));
    ASSERT_FALSE(states.empty());
    EXPECT_EQ(states.front(), GestureState::Began);
    EXPECT_EQ(states.back(), GestureState::Ended);
    EXPECT_NEAR(scale, 2.2, 0.05);
}

// A touchpad's zoom gesture (two fingers on a laptop's pad) is a pinch at the pointer.
TEST(QtInput, ATouchpadZoomIsAPinch) {
    auto& tree = qtBridge().tree();
    QWidget window;
    window.resize(400, 400);
    showAndSync(window);
    auto pinch = std::make_shared<PinchGestureRecognizer>();
    std::vector<GestureState> states;
    double scale = 0;
    pinch->addTarget(nullptr, [&](GestureRecognizer& r) {
        states.push_back(r.state());
        scale = static_cast<PinchGestureRecognizer&>(r).scale();
    });
    tree.windowForWidget(&window)->addGestureRecognizer(pinch);
    QPointingDevice* pad = QTest::createTouchDevice(QInputDevice::DeviceType::TouchPad);
    QWindow* handle = window.windowHandle();
    const QPointF local(200, 200);
    const QPointF global = window.mapToGlobal(local);
    ulong timestamp = 1000;
    QWindowSystemInterface::handleGestureEvent(handle, ++timestamp, pad, Qt::BeginNativeGesture,
                                               local, global, 2);
    for (int i = 0; i < 5; ++i) {
        QWindowSystemInterface::handleGestureEventWithRealValue(
            handle, ++timestamp, pad, Qt::ZoomNativeGesture, 0.1, local, global, 2);
    }
    QWindowSystemInterface::handleGestureEvent(handle, ++timestamp, pad, Qt::EndNativeGesture,
                                               local, global, 2);
    QWindowSystemInterface::flushWindowSystemEvents();
    ASSERT_FALSE(states.empty());
    EXPECT_EQ(states.front(), GestureState::Began);
    EXPECT_EQ(states.back(), GestureState::Ended);
    EXPECT_NEAR(scale, std::pow(1.1, 5), 0.01);
}

TEST(QtInput, AWindowClosedDuringATouchEndsTheSequenceAndTheNextOneWorks) {
    auto& tree = qtBridge().tree();
    LogCapture log;
    auto* doomed = new QWidget;
    doomed->resize(200, 200);
    showAndSync(*doomed);
    QTest::mousePress(doomed, Qt::LeftButton, {}, QPoint(50, 50));
    delete doomed;
    EXPECT_TRUE(log.contains("went away")) << log.all();

    QWidget window;
    window.resize(200, 200);
    showAndSync(window);
    auto tap = std::make_shared<TapGestureRecognizer>();
    int taps = 0;
    tap->addTarget(nullptr, [&](GestureRecognizer&) { ++taps; });
    tree.windowForWidget(&window)->addGestureRecognizer(tap);
    QTest::mouseClick(&window, Qt::LeftButton, {}, QPoint(100, 100));
    EXPECT_EQ(taps, 1);
}

TEST(QtShadowTree, AWindowWithoutSizeIsNotRecordedAndItsTouchesAreDropped) {
    auto& tree = qtBridge().tree();
    LogCapture log;
    QWidget empty;
    empty.setFixedSize(0, 0);
    empty.show();
    QApplication::processEvents();
    if (empty.width() > 0 && empty.height() > 0) GTEST_SKIP() << "this platform sizes windows";
    tree.sync();
    EXPECT_FALSE(tree.windowForWidget(&empty));
    EXPECT_TRUE(log.contains("is 0 x 0; it is recorded once it has a size")) << log.all();
    QTest::mouseClick(&empty, Qt::LeftButton, {}, QPoint(0, 0));
    EXPECT_TRUE(log.contains("touch dropped")) << log.all();

    empty.setFixedSize(120, 80);
    ASSERT_TRUE(qtWaitFor([&] { return tree.windowForWidget(&empty) != nullptr; }));
}

TEST(QtShadowTree, ARegisteredWidgetDestroyedIsForgottenAndFramesStillDraw) {
    auto& tree = qtBridge().tree();
    LogCapture log;
    QWidget window;
    window.resize(200, 200);
    auto* card = coloured(&window, Qt::green, QRect(20, 20, 100, 60));
    rivlo::QtPlatform::occludeSensitiveWidget(card);
    rivlo::QtPlatform::occludeSensitiveWidget(nullptr);
    EXPECT_TRUE(log.contains("no widget given")) << log.all();
    showAndSync(window);
    delete card;
    EXPECT_TRUE(log.contains("destroyed; its view is dropped")) << log.all();

    auto context = Platform::current().graphics()->makeBitmapContext({200, 200}, true, 1.0);
    ASSERT_TRUE(context);
    EXPECT_TRUE(
        context->drawViewHierarchy(*tree.windowForWidget(&window), Rect(0, 0, 200, 200), false));
}

TEST(QtFrames, AWindowIsDrawnFromItsBackingStoreWithTheSamePixelsAsPaintingIt) {
    auto& tree = qtBridge().tree();
    QWidget window;
    window.resize(240, 320);
    coloured(&window, QColor(255, 0, 0), QRect(20, 30, 50, 40));
    showAndSync(window);
    QApplication::processEvents();  // the first paint

    QtWindowPixels::Source source;
    const QImage stored = QtWindowPixels::grab(&window, &source);
    EXPECT_EQ(source, QtWindowPixels::Source::BackingStore);
    const QImage painted = QtWindowPixels::render(&window);
    ASSERT_FALSE(stored.isNull());
    ASSERT_FALSE(painted.isNull());
    EXPECT_EQ(stored.pixel(30, 40), painted.pixel(30, 40));
    EXPECT_EQ(stored.pixel(150, 200), painted.pixel(150, 200));

    // Through the graphics seam, as the screen recorder draws a frame: BGRA, red where the
    // widget is.
    auto context = Platform::current().graphics()->makeBitmapContext({240, 320}, true, 1.0);
    ASSERT_TRUE(
        context->drawViewHierarchy(*tree.windowForWidget(&window), Rect(0, 0, 240, 320), false));
    const Image frame = context->makeImage();
    const Image::Pixel red = frame.pixelAt(40, 50);
    EXPECT_EQ(red.r, 255);
    EXPECT_EQ(red.g, 0);
    EXPECT_EQ(red.b, 0);
    EXPECT_NE(frame.pixelAt(150, 200), red);

    // A change not yet painted is painted before the copy.
    coloured(&window, QColor(0, 0, 255), QRect(100, 100, 30, 30))->show();
    ASSERT_TRUE(
        context->drawViewHierarchy(*tree.windowForWidget(&window), Rect(0, 0, 240, 320), false));
    EXPECT_EQ(context->makeImage().pixelAt(110, 110).b, 255);
}

// The screen recorder's frame from a window's backing store: cleared, the window drawn whole,
// sensitive areas painted over, the image made; then the same with the window drawn into a
// smaller frame (painted, not copied), and a fill over a part of the frame.
TEST(QtFrames, ARecorderFrameIsTheWindowWithItsPaintedOverAreasAtEverySize) {
    auto& tree = qtBridge().tree();
    QWidget window;
    window.resize(200, 300);
    coloured(&window, QColor(0, 0, 255), QRect(10, 10, 60, 60));
    coloured(&window, QColor(0, 255, 0), QRect(100, 200, 50, 50));
    showAndSync(window);
    QApplication::processEvents();
    auto shadow = tree.windowForWidget(&window);
    ASSERT_NE(shadow, nullptr);

    auto frame = [&](GraphicsContext& context, Size size) {
        context.setFillColor(Color::black());
        context.fillRect(Rect(0, 0, size.width, size.height));
        context.saveGState();
        EXPECT_TRUE(context.drawViewHierarchy(*shadow, Rect(0, 0, size.width, size.height), false));
        context.restoreGState();
        context.setFillColor(Color{1.0, 0, 0, 1.0});
        context.fillRect(Rect(100, 200, 25, 25));
        return context.makeImage();
    };
    auto isRed = [](Image::Pixel p) { return p.r == 255 && p.g == 0 && p.b == 0 && p.a == 255; };
    auto context = Platform::current().graphics()->makeBitmapContext({200, 300}, true, 1.0);
    for (int round = 0; round < 2; ++round) {  // the reused context, as the recorder keeps it
        const Image image = frame(*context, {200, 300});
        ASSERT_EQ(image.width(), 200);
        EXPECT_EQ(image.pixelAt(20, 20).b, 255);
        EXPECT_EQ(image.pixelAt(20, 20).a, 255);
        EXPECT_TRUE(isRed(image.pixelAt(100, 200)));
        EXPECT_TRUE(isRed(image.pixelAt(124, 224)));
        EXPECT_EQ(image.pixelAt(125, 225).g, 255);  // just outside the painted-over area
        EXPECT_EQ(image.pixelAt(149, 249).g, 255);
    }

    // Half the size: the window is painted in, stretched; the area over it lands where asked.
    auto half = Platform::current().graphics()->makeBitmapContext({100, 150}, true, 1.0);
    const Image small = frame(*half, {100, 150});
    EXPECT_EQ(small.pixelAt(10, 10).b, 255);
    EXPECT_EQ(small.pixelAt(60, 110).g, 255);

    // A part of the frame filled over the window: the fill is on top, the rest the window's.
    context->setFillColor(Color::black());
    context->fillRect(Rect(0, 0, 200, 300));
    context->drawViewHierarchy(*shadow, Rect(0, 0, 200, 300), false);
    context->setFillColor(Color{0, 0, 0, 0.5});
    context->fillRect(Rect(0, 0, 200, 150));
    const Image blended = context->makeImage();
    EXPECT_GT(blended.pixelAt(20, 20).b, 100);
    EXPECT_LT(blended.pixelAt(20, 20).b, 160);
    EXPECT_EQ(blended.pixelAt(120, 220).g, 255);
}

// A QWebEngineView is a web view: its address (also as document.URL), the page's size and its
// scroll position follow the page; a part of the page is drawn from the view's own pixels only
// while all of it is on the screen.
TEST(QtWebView, AWebEngineViewIsAWebViewFollowingItsPage) {
    auto& tree = qtBridge().tree();
    LogCapture log;
    QWidget window;
    window.resize(390, 600);
    auto* web = new QWebEngineView(&window);
    web->setGeometry(0, 0, 390, 600);
    QString html = "<html><body style='margin:0'>";
    for (int i = 0; i < 60; ++i)
        html += QString("<div style='height:50px;background:%1'>row %2</div>")
                    .arg(i % 2 ? "#ff0000" : "#0000ff")
                    .arg(i);
    html += "</body></html>";
    web->setHtml(html, QUrl("http://shop.example/article"));
    showAndSync(window);
    ASSERT_TRUE(qtWaitFor([&] { return web->page()->contentsSize().height() >= 2999; }, 60));

    auto proxy = std::dynamic_pointer_cast<QtWebViewProxy>(tree.viewForWidget(web));
    ASSERT_TRUE(proxy);
    EXPECT_TRUE(proxy->isKindOfClass(WebView::classObject()));
    ASSERT_TRUE(qtWaitFor([&] { return proxy->contentView()->bounds().height() >= 2999; }, 10));
    EXPECT_EQ(proxy->url(), "http://shop.example/article");
    EXPECT_EQ(proxy->stringByEvaluatingJavaScript("document.URL"), "http://shop.example/article");
    EXPECT_EQ(proxy->contentView()->bounds().width(), 390);
    // A hit test inside the page answers the page's content view.
    EXPECT_EQ(tree.windowForWidget(&window)->hitTest({100, 100}, nullptr), proxy->contentView());

    web->page()->runJavaScript("window.scrollTo(0, 500)");
    ASSERT_TRUE(qtWaitFor([&] { return proxy->scrollView()->contentOffset().y == 500; }, 20));

    // Page rows 500...1000 are on the screen: drawn from the view (row 10 is blue, 11 red),
    // once the page has been checked for what to paint over.
    auto graphics = Platform::current().graphics();
    auto tile = graphics->makeBitmapContext({390, 500}, true, 1.0);
    Image shown;
    ASSERT_TRUE(qtWaitFor(
        [&] {
            tile->saveGState();
            tile->translate(0, -500);
            tile->renderLayer(*proxy->contentView());
            tile->restoreGState();
            shown = tile->makeImage();
            return !shown.isEmpty();
        },
        20));
    EXPECT_GT(shown.pixelAt(200, 25).b, 200);
    EXPECT_GT(shown.pixelAt(200, 75).r, 200);
    // Rows 0...500 are scrolled away: nothing is made up for them, the caller tries later.
    auto away = graphics->makeBitmapContext({390, 500}, true, 1.0);
    away->renderLayer(*proxy->contentView());
    EXPECT_TRUE(away->makeImage().isEmpty());
    EXPECT_TRUE(log.contains("is not wholly on the screen")) << log.all();

    // A web view that is a window of its own is a web view filling its window, and follows the
    // window's size.
    QWebEngineView own;
    own.resize(300, 400);
    own.setHtml("<html><body>own</body></html>", QUrl("http://shop.example/own"));
    showAndSync(own);
    auto ownProxy = std::dynamic_pointer_cast<QtWebViewProxy>(tree.viewForWidget(&own));
    ASSERT_TRUE(ownProxy);
    ASSERT_TRUE(qtWaitFor([&] { return ownProxy->url() == "http://shop.example/own"; }, 20));
    EXPECT_EQ(tree.windowForWidget(&own)->hitTest({150, 200}, nullptr), ownProxy->contentView());
    own.resize(320, 420);
    ASSERT_TRUE(qtWaitFor([&] { return ownProxy->frame().size.width == 320; }, 10));
    EXPECT_EQ(ownProxy->frame().origin.x, 0);
    EXPECT_EQ(ownProxy->frame().size.height, 420);
}

TEST(QtRunLoop, TheLibrarysMainRunLoopRunsInsideQtsEventLoopOnlyWhenThereIsWork) {
    QtMainThreadScheduler& scheduler = qtBridge().scheduler();
    std::atomic<bool> posted{false};
    std::atomic<bool> delayed{false};
    std::thread other([&] {
        RunLoop::main().post([&] { posted = RunLoop::isMainThread(); });
        RunLoop::main().postAfter(0.05, [&] { delayed = RunLoop::isMainThread(); });
    });
    other.join();
    EXPECT_TRUE(qtWaitFor([&] { return posted && delayed; }, 5));

    // Nothing left to do: Qt's event loop turns without the library's work being run again.
    const uint64_t idle = scheduler.performs();
    EXPECT_FALSE(qtWaitFor([&] { return scheduler.performs() != idle; }, 0.5));

    // Timed work far ahead is run when due, not before.
    std::atomic<bool> late{false};
    RunLoop::main().postAfter(0.3, [&] { late = true; });
    const uint64_t armed = scheduler.performs();
    EXPECT_TRUE(qtWaitFor([&] { return late.load(); }, 5));
    EXPECT_LE(scheduler.performs() - armed, 2u);
}

TEST(QtLifecycle, HiddenAndActiveStatesPostTheBackgroundAndForegroundNotifications) {
    auto& bridge = qtBridge();
    std::vector<std::string> seen;
    auto& center = NotificationCenter::defaultCenter();
    std::vector<NotificationCenter::Token> tokens;
    for (const char* name :
         {ApplicationNotification::WillResignActive, ApplicationNotification::DidEnterBackground,
          ApplicationNotification::WillEnterForeground, ApplicationNotification::DidBecomeActive}) {
        tokens.push_back(center.addObserver(
            name, nullptr, [&seen, name](const Notification&) { seen.push_back(name); }));
    }
    QWindowSystemInterface::handleApplicationStateChanged<
        QWindowSystemInterface::SynchronousDelivery>(Qt::ApplicationHidden);
    EXPECT_EQ(bridge.application().applicationState(), ApplicationState::Background);
    QWindowSystemInterface::handleApplicationStateChanged<
        QWindowSystemInterface::SynchronousDelivery>(Qt::ApplicationActive);
    EXPECT_EQ(bridge.application().applicationState(), ApplicationState::Active);
    for (auto t : tokens)
        center.removeObserver(t);
    EXPECT_EQ(seen, (std::vector<std::string>{ApplicationNotification::WillResignActive,
                                              ApplicationNotification::DidEnterBackground,
                                              ApplicationNotification::WillEnterForeground,
                                              ApplicationNotification::DidBecomeActive}));
}

namespace {
struct Answer : AlertViewDelegate {
    int clicked = -1;
    void alertViewClickedButtonAtIndex(AlertView&, int index) override { clicked = index; }
};
}  // namespace

TEST(QtAlerts, AnAlertIsAMessageBoxWhoseButtonsAnswerTheDelegate) {
    auto& bridge = qtBridge();
    auto delegate = std::make_shared<Answer>();
    auto alert = std::make_shared<AlertView>("Camera", "May we record the camera?", delegate, "No",
                                             std::vector<std::string>{"Yes"});
    alert->show();
    QMessageBox* box = bridge.application().alertBox(*alert);
    ASSERT_TRUE(box);
    EXPECT_EQ(box->text().toStdString(), "May we record the camera?");
    ASSERT_EQ(box->buttons().size(), 2);
    QAbstractButton* yes = nullptr;
    for (auto* b : box->buttons())
        if (b->text() == "Yes") yes = b;
    ASSERT_TRUE(yes);
    yes->click();
    EXPECT_TRUE(qtWaitFor([&] { return delegate->clicked == 1; }, 5));
    EXPECT_TRUE(bridge.application().visibleAlerts().empty());
}

// The status overlay is one of the library's own windows: it shows as a small frameless window
// on top that takes no input, painted from its views and following its frame, is no screen of
// the application, and goes when the library hides it.
TEST(QtOverlay, ALibraryWindowShowsAsAFramelessWindowOnTopAndGoesWhenHidden) {
    auto& bridge = qtBridge();
    const size_t screens = bridge.tree().windowCount();
    auto overlay = std::make_shared<Window>(Rect(30, 40, 120, 24));
    overlay->setBackgroundColor(Color{0, 0, 1.0, 1.0});
    overlay->setWindowLevel(1000);
    overlay->setHidden(false);

    auto host = []() -> QWidget* {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->property("rivloInternal").toBool() && w->isVisible()) return w;
        return nullptr;
    };
    QWidget* shown = host();
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->geometry(), QRect(30, 40, 120, 24));
    EXPECT_TRUE(shown->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(shown->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(shown->testAttribute(Qt::WA_TransparentForMouseEvents));
    const QImage pixels = shown->grab().toImage();
    EXPECT_EQ(QColor(pixels.pixel(60, 12)), QColor(0, 0, 255));

    // It follows its window's frame; it is not recorded as a screen.
    overlay->setFrame(Rect(10, 10, 80, 20));
    EXPECT_TRUE(qtWaitFor([&] { return shown->geometry() == QRect(10, 10, 80, 20); }, 5));
    bridge.tree().sync();
    EXPECT_EQ(bridge.tree().windowCount(), screens);

    overlay->setHidden(true);
    EXPECT_TRUE(qtWaitFor([&] { return host() == nullptr; }, 5));
}

// Screen orientation, as the platform reports it, becomes the status-bar orientation: one
// notification per change, the interface orientation after the angle from the screen's natural
// orientation (0: portrait 1, 90: landscape 3, 180: upside down 2, 270: landscape 4).
TEST(QtLifecycle, ScreenOrientationChangesPostStatusBarOrientationNotifications) {
    auto& bridge = qtBridge();
    QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_TRUE(screen);
    int posted = 0;
    auto& center = NotificationCenter::defaultCenter();
    auto token = center.addObserver(ApplicationNotification::DidChangeStatusBarOrientation, nullptr,
                                    [&](const Notification&) { ++posted; });
    const Qt::ScreenOrientation natural = screen->nativeOrientation();
    auto turn = [](QScreen* screen, Qt::ScreenOrientation orientation) {
        QWindowSystemInterface::handleScreenOrientationChange(screen, orientation);
        QWindowSystemInterface::flushWindowSystemEvents();
        QApplication::processEvents();
    };
    const Qt::ScreenOrientation all[] = {Qt::PortraitOrientation, Qt::LandscapeOrientation,
                                         Qt::InvertedPortraitOrientation,
                                         Qt::InvertedLandscapeOrientation};
    int expectedPosts = 0;
    int current = bridge.application().statusBarOrientation();
    for (Qt::ScreenOrientation orientation : all) {
        turn(screen, orientation);
        const int angle = screen->angleBetween(natural, orientation);
        const int wanted = angle == 0 ? 1 : angle == 90 ? 3 : angle == 180 ? 2 : 4;
        if (wanted != current) ++expectedPosts;
        current = wanted;
        EXPECT_EQ(bridge.application().statusBarOrientation(), wanted)
            << "orientation " << orientation;
    }
    EXPECT_EQ(posted, expectedPosts);
    EXPECT_GE(posted, 3);
    // The same orientation again changes nothing.
    turn(screen, all[3]);
    EXPECT_EQ(posted, expectedPosts);
    turn(screen, natural);
    center.removeObserver(token);
}

// Quitting runs the background path and waits for it a bounded time: work that has not ended
// by then is expired (its expiry handler runs, so it stops and keeps what it did not send for
// the next launch), and the program goes on quitting.
TEST(QtLifecycle, QuittingWaitsABoundedTimeThenExpiresWhatIsStillOpen) {
    auto& bridge = qtBridge();
    LogCapture log;
    int backgrounds = 0;
    auto& center = NotificationCenter::defaultCenter();
    auto token = center.addObserver(ApplicationNotification::DidEnterBackground, nullptr,
                                    [&](const Notification&) { ++backgrounds; });
    // An upload that never finishes, and one that ends on its own while quitting waits.
    bool expired = false;
    auto& application = bridge.application();
    application.beginBackgroundTask([&] { expired = true; });
    const auto quick = application.beginBackgroundTask(nullptr);
    RunLoop::main().postAfter(0.05,
                              [&application, quick] { application.endBackgroundTask(quick); });

    bridge.setQuitAllowance(0.5);
    bridge.applicationQuitting();
    EXPECT_EQ(backgrounds, 1);
    EXPECT_EQ(application.applicationState(), ApplicationState::Background);
    EXPECT_TRUE(expired);
    EXPECT_EQ(application.openBackgroundTaskCount(), 0u);
    EXPECT_EQ(log.count("quitting before the recording was sent"), 1u);
    EXPECT_EQ(log.count("expired without being ended"), 1u);

    // Quitting once is enough.
    bridge.applicationQuitting();
    EXPECT_EQ(backgrounds, 1);
    center.removeObserver(token);
    application.becomeActive();  // as before, for the suites after this one
}

// A Qt host's device is the machine it runs on: Qt's screen (size in points, pixel ratio), the
// machine named as what it is, the rest from the device installed before the bridge.
TEST(QtDeviceFacts, TheScreenComesFromQtAndTheMachineIsNamedAsItIs) {
    qtBridge();
    auto device = Platform::current().device();
    ASSERT_TRUE(device);
    const QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_TRUE(screen);
    EXPECT_EQ(device->screenBounds(),
              Rect(0, 0, screen->geometry().width(), screen->geometry().height()));
    EXPECT_EQ(device->screenScale(), screen->devicePixelRatio());
    EXPECT_EQ(device->machineIdentifier().rfind(device->systemName() + " ", 0), 0u)
        << device->machineIdentifier();
    EXPECT_NE(device->machineIdentifier().find(QSysInfo::currentCpuArchitecture().toStdString()),
              std::string::npos);
}
