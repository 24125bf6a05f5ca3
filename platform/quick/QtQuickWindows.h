#pragma once

#include <QObject>
#include <QPointer>

#include <map>
#include <memory>
#include <string>
#include <unordered_map>

class QQuickWindow;
class QWindow;

namespace rivlo {

class Application;
class View;
class ViewController;
class Window;

// The Qt Quick windows of the application as windows of the recording. Each QQuickWindow that
// shows on the screen has a Window, made key when it shows or is activated, whose root view
// controller is named after the window's QML type (the file it was written in, without the
// suffix the QML engine adds) or, for Qt's own window types, its objectName; hiding or
// destroying the window hides its Window. Windows that render into a widget
// (QQuickRenderControl: a QQuickWidget's) are left to the widget bridge. Windows are found by
// their show events (an event filter on the application) and followed through their signals.
// Main thread only.
class QtQuickWindows : public QObject {
  public:
    explicit QtQuickWindows(std::shared_ptr<Application> application);
    ~QtQuickWindows() override;

    // Starts watching the application's windows; adopts those showing already.
    void watch(QObject* application);
    // The Qt Quick window a window's view (or its root view) stands for, or null.
    QQuickWindow* quickWindowFor(const View* view) const;
    // Whether a window (or root view) is one of these windows' own, even while its Qt Quick
    // window is being destroyed.
    bool owns(const View* view) const { return byView_.count(view) != 0; }
    std::shared_ptr<Window> windowFor(const QQuickWindow* window) const;
    size_t windowCount() const { return entries_.size(); }

    // The screen name of a QML object: its QML type without the engine's suffix
    // ("LoginPage_QMLTYPE_8" -> "LoginPage"); for one of Qt's own classes, its objectName when
    // it has one, else that class.
    static std::string screenName(const QObject* object);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    struct Entry {
        // A QWindow: while QWindow's destructor runs, the object is no QQuickWindow any more.
        QPointer<QWindow> quick;
        std::string name;  // its screen name when it was met
        std::shared_ptr<Window> window;
        std::shared_ptr<ViewController> controller;
        std::shared_ptr<View> root;
    };
    Entry* adopt(QQuickWindow* quick);
    void follow(QQuickWindow* quick);
    void forget(QObject* quick);

    std::shared_ptr<Application> application_;
    std::map<const QObject*, Entry> entries_;
    std::unordered_map<const View*, const QObject*> byView_;
};

}  // namespace rivlo
