#include "platform/qt/QtBridge.h"

#include "foundation/Log.h"
#include "foundation/RunLoop.h"
#include "foundation/Teardown.h"
#include "platform/Platform.h"
#include "platform/Window.h"
#include "platform/qt/QtApplication.h"
#include "platform/qt/QtDevice.h"
#include "platform/qt/QtFrameCapture.h"
#include "platform/qt/QtGraphics.h"
#include "platform/qt/QtMainThreadScheduler.h"
#include "platform/qt/QtShadowTree.h"
#include "platform/qt/QtTouchEvents.h"
#include "platform/qt/QtWebMasks.h"
#include "platform/qt/QtWidgetWebViews.h"
#include "platform/qt/QtWidgetMasks.h"

#include <QApplication>
#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QScreen>
#include <QTouchEvent>
#include <QWidget>
#include <QWindow>

#include <chrono>
#include <cmath>
#include <utility>

namespace rivlo {

namespace {

QtBridge* gBridge = nullptr;

constexpr double kPinchHalfSpan = 100;  // points from the centre to each virtual finger

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

Point pointIn(QWidget* topLevel, QPointF global) {
    const QPointF local = topLevel->mapFromGlobal(global);
    return Point{local.x(), local.y()};
}

}  // namespace

QtBridge* QtBridge::install(QGuiApplication& app) {
    if (gBridge) {
        RVLog("QtPlatform: the bridge is installed already; install() changes nothing");
        return gBridge;
    }
    gBridge = new QtBridge(app);
    // Taken out when the library closes, once none of its threads runs any more (nothing can
    // ask the scheduler for work then).
    Teardown::add(nullptr, [] { uninstall(); });
    return gBridge;
}

QtBridge* QtBridge::current() {
    return gBridge;
}

void QtBridge::uninstall() {
    delete std::exchange(gBridge, nullptr);
}

QtBridge::~QtBridge() {
    // The run loop goes back first; the event filter and the connections go with the object.
    scheduler_->stop();
    if (QCoreApplication* app = QCoreApplication::instance()) app->removeEventFilter(this);
}

QtBridge::QtBridge(QGuiApplication& app) {
    RunLoop::main().setMainThread();
    application_ = std::make_shared<QtApplication>();
    tree_ = std::make_unique<QtShadowTree>(application_);
    widgetMasks_ = std::make_unique<QtWidgetMasks>();
    webViews_ = std::make_shared<QtWidgetWebViews>(*tree_, *widgetMasks_);
    webMasks_ = std::make_unique<QtWebMasks>();
    webMasks_->addHost(webViews_.get());
    capture_ = std::make_unique<QtFrameCapture>(*tree_, *widgetMasks_, *webMasks_);
    graphics_ = std::make_shared<QtGraphics>(tree_.get(), capture_.get());
    application_->addShadowWindowTest(
        [this](const Window& window) { return tree_->topLevelForWindow(&window) != nullptr; });
    graphics_->setBeforeDrawing([this] { tree_->syncIfDirty(); });
    tree_->setWebViews(webViews_, [this](QWidget* view) { webMasks_->watch(view); });
    tree_->setWindowGoneHandler([this](const std::shared_ptr<Window>& window) {
        if (touchWindow_.lock() == window) {
            RVLog("QtBridge: the window of the running touch sequence went away; it ends here");
            endSequence();
        }
    });

    PlatformServices services;
    services.application = application_;
    services.graphics = graphics_;
    // The installed device's facts (the Linux defaults), with Qt's screen.
    services.device = std::make_shared<QtDevice>(Platform::current().device());
    Platform::current().installMissingOrReplace(services);

    syncTimer_.setSingleShot(true);
    syncTimer_.setInterval(0);
    connect(&syncTimer_, &QTimer::timeout, this, [this] { tree_->syncIfDirty(); });
    // The library's main run loop runs inside Qt's: invoked on this thread when work arrives,
    // woken by one timer when timed work is due, and left alone otherwise.
    scheduler_ = std::make_unique<QtMainThreadScheduler>();
    scheduler_->start();
    connect(&app, &QGuiApplication::applicationStateChanged, this,
            [this](Qt::ApplicationState state) { applicationStateChanged(state); });
    connect(&app, &QCoreApplication::aboutToQuit, this, [this] { applicationQuitting(); });
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        connect(screen, &QScreen::orientationChanged, this,
                [this, screen](Qt::ScreenOrientation orientation) {
                    screenOrientationChanged(orientation, screen->nativeOrientation());
                });
    }
    app.installEventFilter(this);
    scheduleSync();
}

void QtBridge::scheduleSync() {
    tree_->markDirty();
    if (!syncTimer_.isActive()) syncTimer_.start();
}

void QtBridge::structureChanged(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ParentChange && watched->isWidgetType())
        widgetMasks_->noteParentChange(static_cast<QWidget*>(watched));
    if ((event->type() == QEvent::Show || event->type() == QEvent::Hide) && watched->isWidgetType())
        webMasks_->noteVisible(static_cast<QWidget*>(watched), event->type() == QEvent::Show);
    if (!tree_->noteEvent(watched, event)) return;
    if (!syncTimer_.isActive()) syncTimer_.start();
}

// ---- Lifecycle -------------------------------------------------------------------------------

void QtBridge::applicationStateChanged(Qt::ApplicationState state) {
    const char* name = state == Qt::ApplicationActive     ? "active"
                       : state == Qt::ApplicationInactive ? "inactive"
                       : state == Qt::ApplicationHidden   ? "hidden"
                                                          : "suspended";
    RVLog("QtBridge: the application is %s", name);
    switch (state) {
        case Qt::ApplicationActive:
            // Back from the background: a new session. Focus coming back from another program
            // is not a lifecycle step on a desktop (it would start a session each time).
            if (application_->applicationState() == ApplicationState::Background) {
                application_->enterForeground();
                application_->becomeActive();
            }
            break;
        case Qt::ApplicationInactive:
            break;
        case Qt::ApplicationHidden:
        case Qt::ApplicationSuspended:
            application_->enterBackground();
            break;
    }
}

void QtBridge::applicationQuitting() {
    if (quitting_) return;
    quitting_ = true;
    if (application_->applicationState() != ApplicationState::Background) {
        application_->enterBackground();
    }
    // The stop and the uploads run on the library's queues; their answers come back on the
    // main run loop, which runs here since Qt's loop has ended.
    const bool finished = RunLoop::main().runUntil(
        [this] { return application_->openBackgroundTaskCount() == 0; }, Seconds(quitAllowance_));
    if (!finished) {
        RVLog(
            "QtBridge: quitting before the recording was sent (%g s); the rest is sent at the "
            "next launch",
            quitAllowance_);
        application_->expireBackgroundTasks();
    }
}

void QtBridge::screenOrientationChanged(Qt::ScreenOrientation orientation,
                                        Qt::ScreenOrientation natural) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    if (natural == Qt::PrimaryOrientation) natural = screen->nativeOrientation();
    switch (screen->angleBetween(natural, orientation)) {
        case 0:
            application_->setStatusBarOrientation(1);
            break;
        case 90:
            application_->setStatusBarOrientation(3);
            break;
        case 180:
            application_->setStatusBarOrientation(2);
            break;
        case 270:
            application_->setStatusBarOrientation(4);
            break;
        default:
            RVLog("QtBridge: unknown screen orientation %d", static_cast<int>(orientation));
    }
}

// ---- Events ----------------------------------------------------------------------------------

bool QtBridge::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseButtonRelease:
            handleMouse(watched, static_cast<QMouseEvent*>(event));
            break;
        case QEvent::MouseMove:
            if (mouseDown_) handleMouse(watched, static_cast<QMouseEvent*>(event));
            break;
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TouchCancel:
            handleTouch(watched, static_cast<QTouchEvent*>(event));
            break;
        case QEvent::NativeGesture:
            handleNativeGesture(watched, static_cast<QNativeGestureEvent*>(event));
            break;
        case QEvent::Show:
        case QEvent::Hide:
        case QEvent::ShowToParent:
        case QEvent::HideToParent:
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::ChildAdded:
        case QEvent::ChildRemoved:
        case QEvent::ParentChange:
        case QEvent::ZOrderChange:
        case QEvent::EnabledChange:
            structureChanged(watched, event);
            break;
        case QEvent::WindowActivate:
            // The window worked in changes now (a dialog or popup leaves it as it is).
            structureChanged(watched, event);
            tree_->syncIfDirty();
            break;
        default:
            break;
    }
    return false;
}

bool QtBridge::isDuplicate(QEvent* event, QPointF global) {
    const auto* input = static_cast<QInputEvent*>(event);
    const LastInput seen{static_cast<int>(event->type()), input->timestamp(), global};
    if (seen.type == last_.type && seen.timestamp == last_.timestamp && seen.global == last_.global)
        return true;
    last_ = seen;
    return false;
}

QWidget* QtBridge::topLevelOf(QObject* watched) const {
    QWidget* topLevel = nullptr;
    if (watched->isWidgetType()) topLevel = static_cast<QWidget*>(watched)->window();
    if (watched->isWindowType()) topLevel = tree_->topLevelForWindowHandle(watched);
    if (!topLevel) return nullptr;
    // A dialog or popup is touched where the frame shows it: over its main window.
    tree_->syncIfDirty();
    QWidget* main = tree_->frameWindowFor(topLevel);
    return main ? main : topLevel;
}

void QtBridge::handleMouse(QObject* watched, QMouseEvent* event) {
    const std::optional<TouchPhase> phase = QtTouchEvents::mousePhase(*event, mouseDown_);
    if (!phase) return;
    if (isDuplicate(event, event->globalPosition())) return;
    QWidget* topLevel = topLevelOf(watched);
    if (!topLevel) return;

    const bool press = *phase == TouchPhase::Began;
    mouseDown_ = *phase != TouchPhase::Ended;
    if (auto window = touchWindow_.lock(); window && !press) {
        QWidget* began = tree_->topLevelForWindow(window.get());
        if (began) topLevel = began;  // the sequence stays in the window it began in
    }
    Event e = QtTouchEvents::mouse(*phase, pointIn(topLevel, event->globalPosition()));
    deliver(e, topLevel, press);
}

void QtBridge::handleTouch(QObject* watched, QTouchEvent* event) {
    if (event->type() == QEvent::TouchCancel && event->points().isEmpty()) {
        endSequence();
        return;
    }
    if (event->points().isEmpty()) return;
    if (isDuplicate(event, event->points().first().globalPosition())) return;
    QWidget* topLevel = topLevelOf(watched);
    if (auto window = touchWindow_.lock()) {
        if (QWidget* began = tree_->topLevelForWindow(window.get())) topLevel = began;
    }
    if (!topLevel) return;
    bool began = false;
    Event e = QtTouchEvents::touches(
        *event, [topLevel](QPointF global) { return pointIn(topLevel, global); }, began);
    deliver(e, topLevel, began);
}

void QtBridge::handleNativeGesture(QObject* watched, QNativeGestureEvent* event) {
    if (isDuplicate(event, event->globalPosition())) return;
    QWidget* topLevel = topLevelOf(watched);
    if (!topLevel) return;
    // A touchpad zoom is played as two fingers on a horizontal line through the pointer.
    auto fingers = [&](TouchPhase phase) {
        Event e;
        e.type = EventType::Touches;
        e.timestamp = now();
        const Point c = pointIn(topLevel, pinchCenter_);
        for (int i = 0; i < 2; ++i) {
            Touch touch;
            touch.identifier = 10 + i;
            touch.phase = phase;
            touch.timestamp = e.timestamp;
            const double dx = (i == 0 ? -1 : 1) * kPinchHalfSpan * pinchScale_;
            touch.locationInWindow = Point{c.x + dx, c.y};
            touch.previousLocationInWindow = touch.locationInWindow;
            e.touches.push_back(touch);
        }
        return e;
    };
    switch (event->gestureType()) {
        case Qt::ZoomNativeGesture: {
            if (!pinching_) {
                pinching_ = true;
                pinchScale_ = 1.0;
                pinchCenter_ = event->globalPosition();
                Event e = fingers(TouchPhase::Began);
                deliver(e, topLevel, true);
            }
            const double factor = 1.0 + event->value();
            if (std::isfinite(factor) && factor > 0.05) pinchScale_ *= factor;
            Event e = fingers(TouchPhase::Moved);
            deliver(e, topLevel, false);
            break;
        }
        case Qt::EndNativeGesture:
            if (pinching_) {
                pinching_ = false;
                Event e = fingers(TouchPhase::Ended);
                deliver(e, topLevel, false);
            }
            break;
        default:
            break;
    }
}

void QtBridge::deliver(Event& event, QWidget* topLevel, bool began) {
    std::shared_ptr<Window> window = touchWindow_.lock();
    if (!window || !touches_.inSequence()) {
        if (!began) return;  // the rest of a sequence that was dropped or ended
        tree_->syncIfDirty();
        window = tree_->windowForWidget(topLevel);
        if (!window) {
            RVLog("QtBridge: touch dropped: its window (%s, %d x %d) is not recorded",
                  topLevel->metaObject()->className(), topLevel->width(), topLevel->height());
            return;
        }
        touchWindow_ = window;
    } else if (began) {
        tree_->syncIfDirty();  // a further finger: hit-tested against the current layout
    }
    ++touchEvents_;
    touches_.dispatch(event, window);
    if (!touches_.inSequence()) touchWindow_.reset();
}

void QtBridge::endSequence() {
    touches_.reset();
    touchWindow_.reset();
    mouseDown_ = false;
    pinching_ = false;
}

}  // namespace rivlo
