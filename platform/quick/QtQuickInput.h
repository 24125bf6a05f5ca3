#pragma once

#include "platform/Event.h"
#include "platform/TouchDispatcher.h"

#include <QObject>

#include <memory>

class QMouseEvent;
class QQuickWindow;
class QTouchEvent;

namespace rivlo {

class QtQuickWindows;
class Window;

// Touches and left-button mouse input in Qt Quick windows as the library's touch sequence, in
// the window's coordinates (those of its frames): the events the window itself receives (one
// per input, before Qt Quick hands it to its items), mouse events Qt made from touches left to
// the touches themselves. A sequence stays in the window it began in and ends when that window
// goes away. Main thread only.
class QtQuickInput : public QObject {
  public:
    explicit QtQuickInput(QtQuickWindows& windows) : windows_(windows) {}

    // Starts watching the application's input events.
    void watch(QObject* application);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void handleMouse(QQuickWindow* window, QMouseEvent* event);
    void handleTouch(QQuickWindow* window, QTouchEvent* event);
    void deliver(Event& event, QQuickWindow* window, bool began);
    void endSequence();

    QtQuickWindows& windows_;
    TouchDispatcher touches_;
    std::weak_ptr<Window> touchWindow_;
    bool mouseDown_ = false;
};

}  // namespace rivlo
