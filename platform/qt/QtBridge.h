#pragma once

#include "platform/Event.h"
#include "platform/TouchDispatcher.h"

#include <QObject>
#include <QPointF>
#include <QTimer>

#include <memory>

class QGuiApplication;
class QMouseEvent;
class QNativeGestureEvent;
class QTouchEvent;
class QWidget;

namespace rivlo {

class QtApplication;
class QtFrameCapture;
class QtGraphics;
class QtMainThreadScheduler;
class QtShadowTree;
class QtWebMasks;
class QtWidgetWebViews;
class QtWidgetMasks;
class Window;

// The Qt bridge: installs the application, device and graphics seams, keeps the shadow tree and
// what decides the masks of frames (QtWidgetMasks, QtWebMasks, QtFrameCapture), runs the
// library's main-thread work in Qt's event loop (QtMainThreadScheduler: a queued invocation when
// work arrives, one timer for the next timed work, nothing when there is nothing to do), and
// watches every event of the application through one event filter:
//  - structure (show, hide, move, resize, children, reparenting) updates the shadow tree one
//    widget at a time and schedules one sync when children or windows changed;
//  - touches, and left-button mouse press/move/release from a mouse, become the library's
//    touch sequence in the coordinates of the window the person works in (a touch on one of
//    its dialogs or popups too, where the frame shows it): at a touch begin the tree is
//    brought up to date and the finger is hit-tested through the window's method table, then
//    every phase goes to the shared recogniser logic; a two-finger touch or a touchpad zoom
//    gives a pinch;
//  - window activation makes the window the one worked in (the key window) unless it is a
//    dialog or popup of it.
// Lifecycle: Qt's application state becomes the application notifications; quitting runs the
// background path for at most quitAllowance seconds. One bridge at a time, created by
// QtPlatform::install; the library's close takes it out (event filter, connections and
// scheduler gone), and a later install creates it again. Main (GUI) thread only unless noted.
class QtBridge : public QObject {
  public:
    // On a QApplication, or on a QGuiApplication for a program without widgets (Qt Quick):
    // then there are no widgets to watch, the rest is the same.
    static QtBridge* install(QGuiApplication& app);
    // The installed bridge, or null.
    static QtBridge* current();
    // Takes the installed bridge out (close does it). Main thread.
    static void uninstall();
    ~QtBridge() override;

    // Runs the library's main-thread work (tests, benchmarks: how often it ran).
    QtMainThreadScheduler& scheduler() { return *scheduler_; }

    QtShadowTree& tree() { return *tree_; }
    QtWidgetMasks& widgetMasks() { return *widgetMasks_; }
    QtWebMasks& webMasks() { return *webMasks_; }
    QtFrameCapture& frameCapture() { return *capture_; }
    QtApplication& application() { return *application_; }
    QtGraphics& graphics() { return *graphics_; }
    std::shared_ptr<QtApplication> sharedApplication() const { return application_; }

    // How long quitting waits for the background path (the stop and the uploads) to finish.
    void setQuitAllowance(double seconds) { quitAllowance_ = seconds; }
    // Runs the quitting path now (what aboutToQuit does).
    void applicationQuitting();
    // Qt's application state, as the platform reported it.
    void applicationStateChanged(Qt::ApplicationState state);
    // Qt's screen orientation relative to the screen's natural one.
    void screenOrientationChanged(Qt::ScreenOrientation orientation, Qt::ScreenOrientation natural);

    // Touch events delivered so far (the bridge's own count, for tests and benchmarks).
    uint64_t touchEventsDelivered() const { return touchEvents_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    explicit QtBridge(QGuiApplication& app);
    void scheduleSync();
    void structureChanged(QObject* watched, QEvent* event);
    bool isDuplicate(QEvent* event, QPointF global);
    void handleMouse(QObject* watched, QMouseEvent* event);
    void handleTouch(QObject* watched, QTouchEvent* event);
    void handleNativeGesture(QObject* watched, QNativeGestureEvent* event);
    QWidget* topLevelOf(QObject* watched) const;
    // Delivers one event of the running sequence; `began` starts it in the window of that
    // top-level widget.
    void deliver(Event& event, QWidget* topLevel, bool began);
    void endSequence();

    std::shared_ptr<QtApplication> application_;
    std::shared_ptr<QtGraphics> graphics_;
    std::unique_ptr<QtShadowTree> tree_;
    std::unique_ptr<QtWidgetMasks> widgetMasks_;
    std::shared_ptr<QtWidgetWebViews> webViews_;
    std::unique_ptr<QtWebMasks> webMasks_;
    std::unique_ptr<QtFrameCapture> capture_;
    TouchDispatcher touches_;
    std::weak_ptr<Window> touchWindow_;
    bool mouseDown_ = false;
    bool pinching_ = false;
    double pinchScale_ = 1.0;
    QPointF pinchCenter_;
    QTimer syncTimer_;
    std::unique_ptr<QtMainThreadScheduler> scheduler_;
    double quitAllowance_ = 10.0;
    bool quitting_ = false;
    uint64_t touchEvents_ = 0;
    // The last input event handled: Qt delivers one input event to the window and then to
    // the widgets (and to their parents when ignored); it is handled once.
    struct LastInput {
        int type = 0;
        quint64 timestamp = 0;
        QPointF global;
    } last_;
};

}  // namespace rivlo
