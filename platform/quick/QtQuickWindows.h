#pragma once

#include <QObject>
#include <QPointer>

#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

class QQuickWindow;
class QWindow;

namespace rivlo {

class Application;
class QtQuickPages;
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
// A window transient for a shown window (a Window declared inside another, a dialog), or a
// dialog, popup or tool window of none while a window is worked in, is shown over that window:
// its root view is laid in that window's Window where it shows, so that its touches are that
// window's and its pixels drawn into that window's frames (QtQuickWindowFrames); a dialog or
// window (not a popup or tooltip) shown over is a screen of its own while it shows.
// The screen is the key window's page (QtQuickPages: the innermost current item of its
// StackViews, SwipeViews, StackLayouts and Loaders that shows), else the window's own screen,
// the window shown over it last taking its place; it appears when it changes. Main thread only.
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
    // The Window a window shows in: its own, or for one shown over another, that one's.
    std::shared_ptr<Window> windowFor(const QQuickWindow* window) const;
    // The window whose coordinates and frames a window shows in (itself, or the one it is
    // shown over).
    QQuickWindow* frameWindowFor(QQuickWindow* window) const;
    // The windows shown over a window, bottom (shown first) to top.
    std::vector<QQuickWindow*> windowsOver(const QQuickWindow* main) const;
    // The view standing for the window's items (in its coordinates), or null.
    View* rootViewFor(const QQuickWindow* window) const;
    size_t windowCount() const { return entries_.size(); }

    // Input begins in the window: containers made since it was last looked at are followed.
    void noteInput(QQuickWindow* quick);
    QtQuickPages& pages() { return *pages_; }

    // A QML object's type: its class without the engine's suffix ("LoginPage_QMLTYPE_8" ->
    // "LoginPage", "QQuickRectangle_QML_3" -> "QQuickRectangle").
    static std::string typeName(const QObject* object);
    // The screen name of a QML object: its type; for one of Qt's own classes, its objectName
    // when it has one, else that class.
    static std::string screenName(const QObject* object);
    // A view controller named after the object's screen name.
    static std::shared_ptr<ViewController> makeScreen(const QObject* object);

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
        bool over = false;        // shown over `owner`: its root view is laid in owner's Window
        QPointer<QWindow> owner;  // (its own Window stays hidden)
        bool screen = true;       // not a popup or tooltip
        uint64_t shownAt = 0;
    };
    Entry* adopt(QQuickWindow* quick);
    void follow(QQuickWindow* quick);
    // The shown window it belongs over, or null when it is a window of its own.
    QQuickWindow* ownerFor(QQuickWindow* quick) const;
    void place(Entry& entry);
    void leaveOwner(Entry& entry);
    void refollowWindowsOver(const QObject* owner);
    void forget(QObject* quick);
    // Makes the screen of the key window appear when it is not the one that appeared last (or
    // `again`: its window was just shown, or one over it hidden): the page it shows
    // (QtQuickPages), else the window's own screen.
    void updateScreen(bool again);

    std::shared_ptr<Application> application_;
    std::map<const QObject*, Entry> entries_;
    std::unordered_map<const View*, const QObject*> byView_;
    std::unique_ptr<QtQuickPages> pages_;
    std::weak_ptr<ViewController> screen_;  // the screen that appeared last
    uint64_t clock_ = 0;
};

}  // namespace rivlo
