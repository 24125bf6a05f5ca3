#pragma once

#include "platform/Event.h"
#include "platform/TouchDispatcher.h"
#include "platform/quick/QtQuickTouchedItem.h"

#include <QObject>
#include <QPointer>
#include <QQuickItem>

#include <functional>
#include <memory>

class QMouseEvent;
class QQuickWindow;
class QTouchEvent;

namespace rivlo {

class QtQuickWindows;
class View;
class Window;

// Touches and left-button mouse input in Qt Quick windows as the library's touch sequence, in
// the window's coordinates (those of its frames): the events the window itself receives (one
// per input, before Qt Quick hands it to its items), mouse events Qt made from touches left to
// the touches themselves. A sequence stays in the window it began in and ends when that window
// goes away. Each new finger is hit-tested to the item it touches (QtQuickTouchedItem).
// Main thread only.
class QtQuickInput : public QObject {
  public:
    explicit QtQuickInput(QtQuickWindows& windows);
    ~QtQuickInput() override;

    // Starts watching the application's input events.
    void watch(QObject* application);
    // Items with a view of their own in the window's root view (web views): a touch on one or
    // inside it is left to that view, no chain of the touched item is laid in.
    void setOwnViewTest(std::function<bool(const QQuickItem*)> test) { ownView_ = std::move(test); }
    // The view the last finger to come down was hit-tested to, and the item it stands for.
    std::shared_ptr<View> lastHit() const { return lastHit_; }
    QQuickItem* lastTouchedItem() const { return lastItem_.data(); }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void handleMouse(QQuickWindow* window, QMouseEvent* event);
    void handleTouch(QQuickWindow* window, QTouchEvent* event);
    void deliver(Event& event, QQuickWindow* window, bool began);
    // The items the new fingers touch, laid into the window's views for their hit tests.
    void layInTouchedItems(const Event& event, QQuickWindow* quick);
    void endSequence();

    QtQuickWindows& windows_;
    TouchDispatcher touches_;
    std::weak_ptr<Window> touchWindow_;
    bool mouseDown_ = false;
    QtQuickTouchedItem touched_;
    std::shared_ptr<View> lastHit_;
    QPointer<QQuickItem> lastItem_;
    std::function<bool(const QQuickItem*)> ownView_;
};

}  // namespace rivlo
