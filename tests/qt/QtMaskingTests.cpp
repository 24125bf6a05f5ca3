// What is painted over in real recordings of real Qt widgets, one way of leaking at a time: each
// test records a session through the collector, decodes every frame of the movie (and every web
// tile) it kept, and looks for the colour only the masked widgets are painted in. Secret
// content is green; nothing else in these windows is.

#include "QtRecording.h"
#include "QtTestSupport.h"
#include "support/LogCapture.h"

#include "platform/Graphics.h"
#include "platform/Platform.h"
#include "platform/qt/QtShadowTree.h"
#include "rivlo/qt/QtPlatform.h"

#include <QDialog>
#include <QGraphicsProxyWidget>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTextEdit>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <gtest/gtest.h>

#include <set>
#include <thread>

using namespace rivlo;
using rivlo::test::QtRecorder;
using rivlo::test::QtRecording;
using rivlo::test::qtWaitFor;

namespace {

const QColor kSecret(0, 200, 0);
const QColor kWindow(40, 60, 200);
const QColor kDialog(230, 200, 30);

QWidget* painted(QWidget* widget, QColor colour) {
    QPalette p = widget->palette();
    p.setColor(QPalette::Window, colour);
    p.setColor(QPalette::Base, colour);
    p.setColor(QPalette::Text, colour);
    widget->setPalette(p);
    widget->setAutoFillBackground(true);
    return widget;
}

[[maybe_unused]] QWidget* block(QWidget* parent, QColor colour, QRect geometry) {
    auto* w = painted(new QWidget(parent), colour);
    w->setGeometry(geometry);
    return w;
}

// The window the person works in: 400 x 600, blue.
std::unique_ptr<QWidget> mainWindow() {
    QtRecorder::shared();  // the library's hooks see the window appear
    auto window = std::make_unique<QWidget>();
    painted(window.get(), kWindow);
    window->resize(400, 600);
    return window;
}

void show(QWidget& window) {
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
}

// A recording shows no secret pixel, in frames or tiles.
void expectNothingSecret(const QtRecording& recording) {
    ASSERT_TRUE(recording.problems.empty()) << recording.problems.front();
    ASSERT_FALSE(recording.frames.empty());
    const auto seen = recording.find(kSecret);
    EXPECT_EQ(seen.framePixels, 0u) << "first at " << seen.first;
    EXPECT_EQ(seen.tilePixels, 0u) << "first at " << seen.first;
}

bool isRed(media::DecodedFrame::RGB c) {
    return c.r > 190 && c.g < 80 && c.b < 80;
}

[[maybe_unused]] bool isColour(media::DecodedFrame::RGB c, QColor want) {
    return std::abs(c.r - want.red()) < 40 && std::abs(c.g - want.green()) < 40 &&
           std::abs(c.b - want.blue()) < 40;
}

// A third-party editor: it says through its input-method hints that it holds sensitive text.
class SensitiveEditor : public QWidget {
  public:
    using QWidget::QWidget;
    void setSensitive() { sensitive_ = true; }
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override {
        if (query == Qt::ImHints && sensitive_) return int(Qt::ImhSensitiveData);
        return QWidget::inputMethodQuery(query);
    }

  private:
    bool sensitive_ = false;
};

// A web view filling the window, its page loaded.
QWebEngineView* webView(QWidget* window, const QString& body) {
    auto* web = new QWebEngineView(window);
    web->setGeometry(0, 0, 400, 600);
    bool loaded = false;
    QObject::connect(web, &QWebEngineView::loadFinished, [&loaded](bool) { loaded = true; });
    web->setHtml(
        "<html><body style='margin:0;background:rgb(40,60,200)'>" + body + "</body></html>",
        QUrl("http://shop.example/page"));
    web->show();
    EXPECT_TRUE(qtWaitFor([&] { return loaded; }, 60));
    return web;
}

// Taps on a web page as a user would: each new touch may capture the tile under it.
void tapPage(QWidget* web, int times) {
    for (int i = 0; i < times; ++i) {
        QTest::mouseClick(web, Qt::LeftButton, {}, QPoint(100 + 7 * i, 300 + 5 * i));
        QtRecorder::pass(0.8);
    }
}

size_t framesWhere(const QtRecording& r, const std::function<bool(size_t)>& what) {
    size_t n = 0;
    for (size_t i = 0; i < r.frames.size(); ++i)
        n += what(i) ? 1 : 0;
    return n;
}

}  // namespace

// A field switched to a password mode while recording (Password, PasswordEchoOnEdit, NoEcho), or
// a third-party editor whose hints turn sensitive, is painted over from the next frame on,
// without any other widget changing.
TEST(QtMasking, AFieldSwitchedToAPasswordModeIsMaskedAtOnce) {
    auto window = mainWindow();
    auto* password = new QLineEdit(window.get());
    password->setGeometry(40, 100, 300, 40);
    auto* onEdit = new QLineEdit(window.get());
    onEdit->setGeometry(40, 200, 300, 40);
    auto* noEcho = new QLineEdit(window.get());
    noEcho->setGeometry(40, 300, 300, 40);
    auto* editor = new SensitiveEditor(window.get());
    editor->setGeometry(40, 400, 300, 40);
    show(*window);
    const QtRecording recording = QtRecorder::shared().record([&] {
        QtRecorder::pass(0.6);
        // The secret colour shows only while the fields hide their text.
        password->setEchoMode(QLineEdit::Password);
        painted(password, kSecret);
        onEdit->setEchoMode(QLineEdit::PasswordEchoOnEdit);
        painted(onEdit, kSecret);
        noEcho->setEchoMode(QLineEdit::NoEcho);
        painted(noEcho, kSecret);
        // Nothing tells Qt the hints changed: they are read when the frame is taken.
        editor->setSensitive();
        painted(editor, kSecret);
        QtRecorder::pass(1.5);
    });
    expectNothingSecret(recording);
    EXPECT_GE(framesWhere(recording,
                          [&](size_t i) {
                              for (int y : {120, 220, 320, 420}) {
                                  if (!isRed(recording.at(i, {190, y}))) return false;
                              }
                              return true;
                          }),
              4u);
}

// A graphics scene repaints its views from a queued call: a frame taken before that call ran
// must not show a field as it was (hiding its text, so green) while masking it as it is now.
TEST(QtMasking, AGraphicsSceneChangedJustBeforeAFrameIsDrawnAsItIsNow) {
    auto window = mainWindow();
    auto* view = new QGraphicsView(window.get());
    view->setGeometry(20, 20, 360, 400);
    auto* scene = new QGraphicsScene(view);
    view->setScene(scene);
    auto* field = new QLineEdit("hunter2");
    field->setEchoMode(QLineEdit::Password);
    painted(field, kSecret);
    field->resize(200, 60);
    scene->addWidget(field)->setRotation(15);
    show(*window);
    QtRecorder::pass(0.3);
    auto& tree = rivlo::test::qtBridge().tree();
    tree.sync();
    // Shows its text from now on, in the window's colour; no event is turned before the frame.
    field->setEchoMode(QLineEdit::Normal);
    painted(field, kWindow);
    auto context = Platform::current().graphics()->makeBitmapContext({400, 600}, true, 1.0);
    context->setFillColor(Color::black());
    context->fillRect(Rect(0, 0, 400, 600));
    ASSERT_TRUE(context->drawViewHierarchy(*tree.windowForWidget(window.get()),
                                           Rect(0, 0, 400, 600), false));
    const Image frame = context->makeImage();
    ASSERT_FALSE(frame.isEmpty());
    size_t green = 0;
    for (int y = 0; y < frame.height(); ++y) {
        for (int x = 0; x < frame.width(); ++x) {
            const auto p = frame.pixelAt(x, y);
            green += p.g > 150 && p.r < 60 && p.b < 60;
        }
    }
    EXPECT_EQ(green, 0u);
}

// Graphics views nested deeper than the walk follows: the masks inside cannot be worked out, so
// those frames are dropped (with a line saying why), never sent with the innermost password
// field as it is drawn.
TEST(QtMasking, AFrameWhoseMasksCannotBeWorkedOutIsDropped) {
    auto window = mainWindow();
    show(*window);
    rivlo::test::LogCapture log;
    const QtRecording recording = QtRecorder::shared().record([&] {
        QtRecorder::pass(0.6);
        auto* outer = new QGraphicsView(window.get());
        outer->setGeometry(0, 0, 400, 600);
        QGraphicsView* view = outer;
        for (int depth = 0; depth < 9; ++depth) {
            auto* scene = new QGraphicsScene(view);
            view->setScene(scene);
            auto* inner = new QGraphicsView;  // the proxy owns it
            inner->resize(380 - 20 * depth, 580 - 20 * depth);
            scene->addWidget(inner);
            view = inner;
        }
        auto* scene = new QGraphicsScene(view);
        view->setScene(scene);
        auto* field = new QLineEdit("hunter2");
        field->setEchoMode(QLineEdit::Password);
        painted(field, kSecret);
        scene->addWidget(field);
        outer->show();
        QtRecorder::pass(1.5);
        delete outer;
        QtRecorder::pass(0.6);
    });
    expectNothingSecret(recording);
    EXPECT_TRUE(log.contains("frame dropped: graphics views are nested too deep")) << log.all();
}

// A registered widget shown as a window of its own paints over the whole frame while it shows.
TEST(QtMasking, ARegisteredWidgetShownAsItsOwnWindowMasksTheWholeFrame) {
    auto window = mainWindow();
    show(*window);
    auto card = std::make_unique<QWidget>();
    painted(card.get(), kSecret);
    card->resize(300, 200);
    QtPlatform::occludeSensitiveWidget(card.get());
    const QtRecording recording = QtRecorder::shared().record([&] {
        QtRecorder::pass(0.6);
        card->show();
        QtRecorder::pass(1.2);
        card->hide();
        QtRecorder::pass(0.8);
    });
    expectNothingSecret(recording);
    // All red while it showed, the window again after.
    EXPECT_GE(framesWhere(
                  recording,
                  [&](size_t i) {
                      return isRed(recording.at(i, {10, 10})) && isRed(recording.at(i, {390, 590}));
                  }),
              3u);
    EXPECT_TRUE(isColour(recording.at(recording.frames.size() - 1, {200, 300}), kWindow));
}

// A registered child popped out of its window (reparented to no parent and shown) is a window
// of its own: the whole frame is painted over while it shows.
TEST(QtMasking, ARegisteredWidgetPoppedOutOfItsWindowMasksTheWholeFrame) {
    auto window = mainWindow();
    QWidget* card = block(window.get(), kSecret, QRect(50, 50, 200, 120));
    QtPlatform::occludeSensitiveWidget(card);
    show(*window);
    const QtRecording recording = QtRecorder::shared().record([&] {
        QtRecorder::pass(0.6);
        card->setParent(nullptr);
        card->resize(320, 240);
        card->show();
        QtRecorder::pass(1.2);
    });
    expectNothingSecret(recording);
    delete card;
}

// Widgets embedded in a graphics scene are never windows: the frame stays the window the person
// works in, and the embedded password field and registered widget are painted over where the
// view shows them.
TEST(QtMasking, WidgetsInAGraphicsSceneAreMaskedWhereTheViewShowsThem) {
    auto window = mainWindow();
    auto* view = new QGraphicsView(window.get());
    view->setGeometry(20, 20, 360, 400);
    auto* scene = new QGraphicsScene(view);
    view->setScene(scene);
    view->setBackgroundBrush(kWindow);
    show(*window);
    const QtRecording recording = QtRecorder::shared().record([&] {
        QtRecorder::pass(0.6);
        auto* field = new QLineEdit;
        field->setEchoMode(QLineEdit::Password);
        painted(field, kSecret);
        field->resize(256, 50);
        scene->addWidget(field)->setPos(10, 10);
        auto* card = painted(new QWidget, kSecret);
        card->resize(120, 80);
        QtPlatform::occludeSensitiveWidget(card);
        QGraphicsProxyWidget* proxy = scene->addWidget(card);
        proxy->setPos(40, 150);
        proxy->setRotation(20);
        // A field made narrower than it can be: its proxy keeps (and draws) its minimum width.
        auto* narrow = new QLineEdit;
        narrow->setEchoMode(QLineEdit::Password);
        painted(narrow, kSecret);
        scene->addWidget(narrow)->setPos(250, 250);
        narrow->resize(5, 100);
        QtRecorder::pass(1.5);
    });
    expectNothingSecret(recording);
    EXPECT_EQ(recording.width, 400);
    EXPECT_EQ(recording.height, 600);
}

// A widget taken out of a graphics scene by reparenting keeps its proxy, and Qt sends its
// repaints there, not to the window's backing store, which keeps pictures of it where it was:
// a password field moved and hidden after leaving a scene shows nowhere.
TEST(QtMasking, AWidgetTakenOutOfAGraphicsSceneLeavesNoPictureBehind) {
    auto window = mainWindow();
    show(*window);
    QWebEngineView* web = webView(window.get(), "<div style='height:2000px'></div>");
    auto* view = new QGraphicsView(window.get());
    view->setGeometry(0, 0, 400, 200);
    auto* scene = new QGraphicsScene(view);
    view->setScene(scene);
    view->show();
    auto* field = new QLineEdit("hunter2");
    painted(field, kDialog);
    field->resize(200, 40);
    scene->addWidget(field)->setPos(20, 20);
    const QtRecording recording = QtRecorder::shared().record([&] {
        QtRecorder::pass(0.6);
        field->setParent(window.get());
        field->move(40, 250);
        field->show();
        QtRecorder::pass(0.6);
        field->setEchoMode(QLineEdit::Password);
        painted(field, kSecret);
        QtRecorder::pass(0.6);
        for (int y : {350, 450}) {
            field->move(40, y);
            tapPage(web, 1);
        }
        field->hide();
        QtRecorder::pass(0.6);
    });
    expectNothingSecret(recording);
}

// A widget registered over a web page is painted over in frames and in the page's tiles.
TEST(QtMasking, ARegisteredChildOfAWebViewIsMaskedInFramesAndTiles) {
    auto window = mainWindow();
    show(*window);
    QWebEngineView* web = webView(window.get(), "<div style='height:2000px'></div>");
    QWidget* overlay = block(web, kSecret, QRect(50, 50, 200, 100));
    QtPlatform::occludeSensitiveWidget(overlay);
    overlay->show();
    const QtRecording recording = QtRecorder::shared().record([&] { tapPage(web, 3); });
    expectNothingSecret(recording);
    EXPECT_FALSE(recording.tiles.empty()) << "no tile of the page was captured";
}

// A registered web view, or one inside a registered widget, is painted over in frames and none
// of its page is uploaded as tiles.
TEST(QtMasking, ARegisteredWebViewUploadsNoTiles) {
    for (const bool inside : {false, true}) {
        SCOPED_TRACE(inside ? "inside a registered widget" : "the web view registered");
        auto window = mainWindow();
        show(*window);
        QWidget* holder = window.get();
        if (inside) {
            holder = block(window.get(), kWindow, QRect(0, 0, 400, 600));
            holder->show();
        }
        QWebEngineView* web =
            webView(holder, "<div style='height:2000px;background:rgb(0,200,0)'></div>");
        QtPlatform::occludeSensitiveWidget(inside ? holder : web);
        const QtRecording recording = QtRecorder::shared().record([&] { tapPage(web, 3); });
        expectNothingSecret(recording);
        EXPECT_TRUE(recording.tiles.empty());
    }
}

// A password input of a page is painted over in frames and tiles; the rest of the page shows.
TEST(QtMasking, AnHtmlPasswordInputIsMaskedInFramesAndTiles) {
    auto window = mainWindow();
    show(*window);
    QWebEngineView* web = webView(
        window.get(),
        "<input type=password value=hunter2 style='margin:60px;width:250px;height:40px;"
        "background:rgb(0,200,0);color:rgb(0,200,0);border:0'><div style='height:2000px'></div>");
    const QtRecording recording = QtRecorder::shared().record([&] {
        QtRecorder::pass(0.6);
        tapPage(web, 3);
    });
    expectNothingSecret(recording);
    ASSERT_FALSE(recording.tiles.empty()) << "no tile of the page was captured";
    const QColor tileMask(recording.tiles[0].pixel(185, 80));
    EXPECT_TRUE(tileMask.red() > 190 && tileMask.green() < 80) << tileMask.name().toStdString();
    // Painted over where the input is; the page itself shows below it.
    EXPECT_GE(framesWhere(recording,
                          [&](size_t i) {
                              return isRed(recording.at(i, {185, 80})) &&
                                     isColour(recording.at(i, {200, 400}), kWindow);
                          }),
              3u);
}

// Only what is in the frame is painted over: a password field of another window (shown, then
// hidden) leaves no mask on the window recorded.
TEST(QtMasking, MasksOfOtherWindowsAreNotPaintedOntoTheWindowRecorded) {
    auto other = mainWindow();
    auto* field = new QLineEdit(other.get());
    field->setGeometry(50, 50, 300, 60);
    field->setEchoMode(QLineEdit::Password);
    painted(field, kSecret);
    show(*other);
    auto window = mainWindow();  // shown last: the window the person works in
    show(*window);
    window->activateWindow();
    const QtRecording recording = QtRecorder::shared().record([&] {
        QtRecorder::pass(1.0);
        other->hide();
        QtRecorder::pass(1.0);
    });
    expectNothingSecret(recording);
    EXPECT_EQ(framesWhere(recording,
                          [&](size_t i) {
                              return isRed(recording.at(i, {200, 80}));
                          }),
              0u);
}

// Dialogs and menus are drawn where they showed over the window, never stretched over the
// frame, and a tap on a dialog is recorded where the frame shows it.
TEST(QtMasking, DialogsAndMenusShowWhereTheyAppearedAndTapsOnThemLandThere) {
    auto window = mainWindow();
    show(*window);
    QDialog dialog(window.get());
    painted(&dialog, kDialog);
    dialog.resize(200, 150);
    QMenu menu(window.get());
    menu.addAction("Copy");
    menu.addAction("Paste");
    QPoint at;
    const QtRecording recording = QtRecorder::shared().record([&] {
        QtRecorder::pass(0.6);
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
        at = dialog.mapToGlobal(QPoint(0, 0)) - window->mapToGlobal(QPoint(0, 0));
        QtRecorder::pass(0.8);
        QTest::mouseClick(&dialog, Qt::LeftButton, {}, QPoint(150, 100));
        QtRecorder::pass(0.8);
        dialog.hide();
        menu.popup(window->mapToGlobal(QPoint(20, 30)));
        QtRecorder::pass(1.0);
        menu.hide();
    });
    ASSERT_TRUE(recording.problems.empty()) << recording.problems.front();
    ASSERT_EQ(recording.width, 400);
    // The dialog in its place, the window around it as it was.
    EXPECT_GE(framesWhere(recording,
                          [&](size_t i) {
                              return isColour(recording.at(i, at + QPoint(20, 20)), kDialog) &&
                                     isColour(recording.at(i, {5, 5}), kWindow) &&
                                     isColour(recording.at(i, {395, 595}), kWindow);
                          }),
              2u);
    // The menu where it popped up, the window below and beside it.
    EXPECT_GE(framesWhere(recording,
                          [&](size_t i) {
                              return !isColour(recording.at(i, {30, 40}), kWindow) &&
                                     isColour(recording.at(i, {5, 5}), kWindow) &&
                                     isColour(recording.at(i, {300, 400}), kWindow);
                          }),
              2u);
    const QPoint tap = at + QPoint(150, 100);
    bool found = false;
    for (const auto& g : recording.gestures())
        found |= g.code == 0 && std::abs(g.x - tap.x()) <= 3 && std::abs(g.y - tap.y()) <= 3;
    EXPECT_TRUE(found) << "no tap at (" << tap.x() << ", " << tap.y() << ")";
}

// Plain Qt classes name their screens after their objectName, then their class.
TEST(QtMasking, PlainQtPagesAreNamedAfterTheirObjectNames) {
    QtRecorder::shared();  // the library's hooks see the pages appear
    QMainWindow window;
    window.setObjectName("main_window");
    window.resize(400, 600);
    auto* stack = new QStackedWidget;
    auto* first = painted(new QWidget, kWindow);
    first->setObjectName("page_1");
    auto* second = painted(new QWidget, kDialog);
    stack->addWidget(first);
    stack->addWidget(second);
    window.setCentralWidget(stack);
    show(window);
    const QtRecording recording = QtRecorder::shared().record([&] {
        QtRecorder::pass(0.4);
        QTest::mouseClick(first, Qt::LeftButton, {}, QPoint(100, 100));
        QtRecorder::pass(0.6);
        stack->setCurrentIndex(1);
        QtRecorder::pass(0.6);
        QTest::mouseClick(second, Qt::LeftButton, {}, QPoint(120, 200));
    });
    ASSERT_TRUE(recording.problems.empty()) << recording.problems.front();
    std::set<std::string> screens;
    for (const auto& g : recording.gestures())
        screens.insert(g.screen);
    EXPECT_EQ(screens, (std::set<std::string>{"page_1", "QWidget"}));
}

// A field scrolled partly out of a scroll area is painted over only where the viewport shows
// it: the button below the scroll area stays visible.
TEST(QtMasking, MasksAreCutToTheScrollAreaViewport) {
    auto window = mainWindow();
    auto* scroll = new QScrollArea(window.get());
    scroll->setGeometry(20, 20, 360, 200);
    scroll->setFrameShape(QFrame::NoFrame);
    QWidget* content = painted(new QWidget, kWindow);
    content->resize(340, 800);
    auto* field = new QLineEdit(content);
    field->setGeometry(20, 150, 300, 100);
    field->setEchoMode(QLineEdit::Password);
    painted(field, kSecret);
    scroll->setWidget(content);
    block(window.get(), kDialog, QRect(20, 222, 360, 80));
    show(*window);
    const QtRecording recording = QtRecorder::shared().record([] { QtRecorder::pass(1.2); });
    expectNothingSecret(recording);
    EXPECT_GE(framesWhere(recording,
                          [&](size_t i) {
                              return isRed(recording.at(i, {200, 200})) &&
                                     isColour(recording.at(i, {200, 250}), kDialog);
                          }),
              3u);
}

// A window that grows is scaled uniformly into the frame (never squashed), and the masks follow.
TEST(QtMasking, AResizedWindowIsScaledUniformlyIntoTheFrameWithItsMasks) {
    auto window = mainWindow();
    QWidget* card = block(window.get(), kSecret, QRect(300, 100, 100, 100));
    QtPlatform::occludeSensitiveWidget(card);
    block(window.get(), kDialog, QRect(0, 500, 100, 100));
    show(*window);
    const QtRecording recording = QtRecorder::shared().record([&] {
        QtRecorder::pass(0.6);
        window->resize(800, 600);
        QtRecorder::pass(1.2);
    });
    expectNothingSecret(recording);
    ASSERT_EQ(recording.width, 400);
    ASSERT_EQ(recording.height, 600);
    // Half the size: the yellow block at (0, 250), the card at (150, 50), nothing below 300 (in
    // a frame at least: under the sanitizers on a loaded machine few frames follow the resize).
    EXPECT_GE(framesWhere(recording,
                          [&](size_t i) {
                              const auto below = recording.at(i, {200, 450});
                              return isColour(recording.at(i, {25, 275}), kDialog) &&
                                     isRed(recording.at(i, {175, 75})) && below.r < 40 &&
                                     below.g < 40 && below.b < 40;
                          }),
              1u);
}

// Calls from a thread other than the application's are refused, with a line saying so.
TEST(QtMasking, CallsFromAnotherThreadAreRefused) {
    auto window = mainWindow();
    QWidget* card = block(window.get(), kSecret, QRect(50, 50, 100, 100));
    rivlo::test::LogCapture log;
    std::thread([card] {
        QtPlatform::install(rivlo::test::qtApplication());
        QtPlatform::occludeSensitiveWidget(card);
        QtPlatform::allowUnmaskedContent(card);
        QtPlatform::maskWebElements({".secret"});
        QtPlatform::setMaskAllTextInputs(true);
    }).join();
    EXPECT_EQ(log.count("must be called on the application's thread"), 5u) << log.all();
}

// Content the library cannot look into (a native child window here) is painted over unless the
// host declares it safe.
TEST(QtMasking, ContentTheLibraryCannotLookIntoIsMaskedUnlessAllowed) {
    auto window = mainWindow();
    QWidget* native = block(window.get(), kSecret, QRect(50, 50, 150, 100));
    native->setAttribute(Qt::WA_NativeWindow);
    QWidget* allowed = block(window.get(), kDialog, QRect(50, 300, 150, 100));
    allowed->setAttribute(Qt::WA_NativeWindow);
    QtPlatform::allowUnmaskedContent(allowed);
    show(*window);
    const QtRecording recording = QtRecorder::shared().record([] { QtRecorder::pass(1.0); });
    expectNothingSecret(recording);
    EXPECT_GE(framesWhere(recording,
                          [&](size_t i) {
                              return isRed(recording.at(i, {120, 100})) &&
                                     isColour(recording.at(i, {120, 350}), kDialog);
                          }),
              3u);
}

// The host's CSS selectors mask page elements in frames and tiles; a selector that is not CSS
// paints the whole page over (and says so).
TEST(QtMasking, HostSelectorsMaskPageElementsAndABadOneMasksThePage) {
    auto window = mainWindow();
    show(*window);
    QWebEngineView* web = webView(
        window.get(),
        "<input autocomplete=cc-number value=4111111111111111 style='margin:60px;width:250px;"
        "height:40px;background:rgb(0,200,0);color:rgb(0,200,0);border:0'>"
        "<div class=iban style='margin:60px;height:40px;background:rgb(0,200,0)'></div>"
        "<div style='height:2000px'></div>");
    QtPlatform::maskWebElements({"input[autocomplete=cc-number]", ".iban"});
    const QtRecording recording = QtRecorder::shared().record([&] { tapPage(web, 3); });
    expectNothingSecret(recording);
    EXPECT_FALSE(recording.tiles.empty()) << "no tile of the page was captured";
    EXPECT_GE(framesWhere(recording,
                          [&](size_t i) {
                              return isColour(recording.at(i, {200, 450}), kWindow);
                          }),
              3u);

    rivlo::test::LogCapture log;
    QtPlatform::maskWebElements({"input[autocomplete=cc-number]", "[[not css"});
    const QtRecording bad = QtRecorder::shared().record([&] { QtRecorder::pass(1.0); });
    QtPlatform::maskWebElements({});
    expectNothingSecret(bad);
    EXPECT_EQ(framesWhere(bad,
                          [&](size_t i) {
                              return isColour(bad.at(i, {200, 450}), kWindow);
                          }),
              0u);
    EXPECT_TRUE(log.contains("\"[[not css\" is not a CSS selector")) << log.all();
}

// With every text input masked: line edits, text edits, spin boxes and the page's inputs.
TEST(QtMasking, MaskAllTextInputsMasksEveryEditor) {
    auto window = mainWindow();
    painted(new QLineEdit("visible", window.get()), kSecret)->setGeometry(20, 20, 300, 40);
    painted(new QTextEdit("notes", window.get()), kSecret)->setGeometry(20, 80, 300, 80);
    painted(new QSpinBox(window.get()), kSecret)->setGeometry(20, 180, 120, 40);
    QWebEngineView* web =
        webView(window.get(),
                "<textarea style='margin:100px 20px 0;width:300px;height:60px;"
                "background:rgb(0,200,0);color:rgb(0,200,0);border:0'>notes</textarea>");
    web->setGeometry(0, 240, 400, 360);
    show(*window);
    QtPlatform::setMaskAllTextInputs(true);
    const QtRecording recording = QtRecorder::shared().record([] { QtRecorder::pass(1.2); });
    QtPlatform::setMaskAllTextInputs(false);
    expectNothingSecret(recording);
}
