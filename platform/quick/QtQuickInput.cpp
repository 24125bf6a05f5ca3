#include "platform/quick/QtQuickInput.h"

#include "foundation/Log.h"
#include "platform/Window.h"
#include "platform/qt/QtTouchEvents.h"
#include "platform/quick/QtQuickWindows.h"

#include <QQuickItem>

#include <QMouseEvent>
#include <QQuickWindow>
#include <QTouchEvent>

namespace rivlo {

namespace {
Point pointIn(const QQuickWindow* window, QPointF global) {
    const QPointF local = window->mapFromGlobal(global);
    return Point{local.x(), local.y()};
}
}  // namespace

QtQuickInput::QtQuickInput(QtQuickWindows& windows) : windows_(windows) {
    touches_.setHitObserver([this](Point, const std::shared_ptr<View>& hit) {
        lastHit_ = hit;
        lastItem_ = touched_.itemFor(hit.get());
    });
}

QtQuickInput::~QtQuickInput() = default;

void QtQuickInput::watch(QObject* application) {
    application->installEventFilter(this);
}

bool QtQuickInput::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    const bool mouse = type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick ||
                       type == QEvent::MouseButtonRelease ||
                       (type == QEvent::MouseMove && mouseDown_);
    const bool touch = type == QEvent::TouchBegin || type == QEvent::TouchUpdate ||
                       type == QEvent::TouchEnd || type == QEvent::TouchCancel;
    if ((!mouse && !touch) || !watched->isWindowType()) return false;
    // The window's own events only: Qt Quick sends each on to its items.
    auto* window = qobject_cast<QQuickWindow*>(watched);
    if (!window || !windows_.windowFor(window)) return false;
    if (mouse) {
        handleMouse(window, static_cast<QMouseEvent*>(event));
    } else {
        handleTouch(window, static_cast<QTouchEvent*>(event));
    }
    return false;
}

void QtQuickInput::handleMouse(QQuickWindow* window, QMouseEvent* event) {
    const std::optional<TouchPhase> phase = QtTouchEvents::mousePhase(*event, mouseDown_);
    if (!phase) return;
    mouseDown_ = *phase != TouchPhase::Ended;
    const QQuickWindow* frame = windows_.frameWindowFor(window);
    Event e = QtTouchEvents::mouse(*phase, pointIn(frame, event->globalPosition()));
    deliver(e, window, *phase == TouchPhase::Began);
}

void QtQuickInput::handleTouch(QQuickWindow* window, QTouchEvent* event) {
    if (event->type() == QEvent::TouchCancel && event->points().isEmpty()) {
        endSequence();
        return;
    }
    if (event->points().isEmpty()) return;
    bool began = false;
    const QQuickWindow* frame = windows_.frameWindowFor(window);
    Event e = QtTouchEvents::touches(
        *event, [frame](QPointF global) { return pointIn(frame, global); }, began);
    deliver(e, window, began);
}

void QtQuickInput::deliver(Event& event, QQuickWindow* quick, bool began) {
    std::shared_ptr<Window> window = touchWindow_.lock();
    if (!window && touches_.inSequence()) {
        RVLog("QtQuickInput: the window of the running touch sequence went away; it ends here");
        touches_.reset();
    }
    if (!window || !touches_.inSequence()) {
        if (!began) return;  // the rest of a sequence that was dropped or ended
        window = windows_.windowFor(quick);
        if (!window || window->isHidden()) {
            RVLog("QtQuickInput: touch dropped: its window (%d x %d) is not recorded",
                  quick->width(), quick->height());
            return;
        }
        touchWindow_ = window;
    } else if (window != windows_.windowFor(quick)) {
        return;  // another window's input while a sequence runs in this one
    }
    if (began) layInTouchedItems(event, quick);
    touches_.dispatch(event, window);
    if (!touches_.inSequence()) touchWindow_.reset();
}

void QtQuickInput::layInTouchedItems(const Event& event, QQuickWindow* quick) {
    windows_.noteInput(quick);
    View* root = windows_.rootViewFor(quick);
    if (!root) return;
    // The touches are in the coordinates of the window it is shown in.
    const QPointF offset = QPointF(windows_.frameWindowFor(quick)->mapToGlobal(QPoint(0, 0))) -
                           QPointF(quick->mapToGlobal(QPoint(0, 0)));
    for (const Touch& touch : event.touches) {
        if (touch.phase != TouchPhase::Began) continue;
        const QPointF point = QPointF(touch.locationInWindow.x, touch.locationInWindow.y) + offset;
        QQuickItem* item = QtQuickTouchedItem::itemAt(quick, point);
        bool ownView = false;
        for (const QQuickItem* i = item; i && ownView_ && !ownView; i = i->parentItem())
            ownView = ownView_(i);
        if (ownView) {
            touched_.clear();
        } else if (item) {
            touched_.layIn(*root, item, point);
        }
    }
}

void QtQuickInput::endSequence() {
    touches_.reset();
    touchWindow_.reset();
    mouseDown_ = false;
}

}  // namespace rivlo
