#pragma once

#include "platform/ViewController.h"
#include "platform/WebView.h"
#include "platform/Window.h"

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

class QWebEngineView;

namespace rivlo {

class Application;

// A web view's proxy: the page address, contents size and scroll position of a QWebEngineView.
// Hit tests inside it answer its content view, sized to the whole page and scrolled like it.
class QtWebViewProxy : public WebView {
  public:
    QtWebViewProxy(ObjClass* cls, QWebEngineView* view);
    // Copies the page's address, contents size and scroll position. Main thread.
    void follow();
    QWebEngineView* webView() const;

  private:
    QPointer<QWidget> view_;
};

// The shadow of the application's widgets in the toolkit object model. Each visible top-level
// widget has a Window whose root view controller is named after the widget's class and whose
// root view stands for the widget; every widget below has a proxy view at the same place in
// the same tree, with its geometry, and a class object named after its class (QLineEdit ->
// text field, secure in Password or PasswordEchoOnEdit mode; QAbstractScrollArea -> scroll
// view; QWebEngineView -> web view). The current page of each QStackedWidget (and so of each
// QTabWidget) has a view controller named after the page's own class; appearance calls go to
// it when it becomes current, and to a window's root controller when the window shows.
//
// Structure changes only mark the tree dirty; sync() brings it up to date (the bridge calls it
// soon after changes, before every movie frame and at every touch begin). Widgets that are
// destroyed drop their proxies at once. Main thread only.
class QtShadowTree : public QObject {
  public:
    explicit QtShadowTree(std::shared_ptr<Application> application);
    ~QtShadowTree() override;

    void markDirty() { dirty_ = true; }
    bool isDirty() const { return dirty_; }
    void sync();
    void syncIfDirty() {
        if (dirty_) sync();
    }
    // Registers the secure text fields and the occluded widgets' proxies with the screen
    // recorder (it forgets them when a session ends, so this runs before every frame).
    void refreshSensitiveViews();

    // The widget's proxy is painted over in every frame while the widget lives.
    void occlude(QWidget* widget);

    // Lookups. Null when unknown.
    std::shared_ptr<Window> windowForWidget(const QWidget* topLevel) const;
    std::shared_ptr<View> viewForWidget(const QWidget* widget) const;
    QWidget* topLevelForWindow(const View* window) const;
    // The widget a proxy view (or a window's root view) stands for.
    QWidget* widgetForView(const View* view) const;
    // The screen a widget stands for: a top-level widget's root controller, a page's controller.
    std::shared_ptr<ViewController> screenForWidget(const QWidget* widget) const;
    // The web view proxy whose content view this is.
    QtWebViewProxy* webProxyForContentView(const View* view) const;
    // The top-level widget whose native window this is.
    QWidget* topLevelForWindowHandle(const QObject* windowHandle) const;

    size_t proxyCount() const { return nodes_.size(); }
    size_t windowCount() const { return windows_.size(); }
    // Called with the window whose widget was destroyed or hidden (the bridge ends a touch
    // sequence running in it).
    void setWindowGoneHandler(std::function<void(const std::shared_ptr<Window>&)> handler) {
        windowGone_ = std::move(handler);
    }

  private:
    struct Node {
        QPointer<QWidget> widget;
        std::string className;
        std::shared_ptr<View> view;
        std::shared_ptr<ViewController> page;  // when it is (or was) a current page
        bool lineEdit = false;
        bool web = false;
        bool occluded = false;
    };
    struct WindowEntry {
        QPointer<QWidget> widget;
        std::string className;
        std::shared_ptr<Window> window;
        std::shared_ptr<ViewController> controller;
        std::shared_ptr<View> root;
        bool zeroSizeLogged = false;
        bool shown = false;
    };

    Node& nodeFor(QWidget* widget);
    WindowEntry& windowEntryFor(QWidget* topLevel);
    void syncChildren(QWidget* parent, View& parentView,
                      std::vector<std::shared_ptr<ViewController>>& pages);
    void follow(Node& node, QWidget* widget);
    void hideWindow(WindowEntry& entry, const char* why);
    void reappearTopScreen();
    void widgetDestroyed(QObject* object);
    static bool isRecordableWindow(const QWidget* widget);

    std::shared_ptr<Application> application_;
    bool dirty_ = true;
    std::unordered_map<const QObject*, Node> nodes_;
    std::map<const QObject*, WindowEntry> windows_;
    std::unordered_map<const View*, const QObject*> widgetsByView_;
    std::set<const QObject*> occluded_;
    // Page controllers now appearing, in tree order (outer pages before inner ones).
    std::vector<std::shared_ptr<ViewController>> visiblePages_;
    std::function<void(const std::shared_ptr<Window>&)> windowGone_;
};

}  // namespace rivlo
