#pragma once

#include "platform/ViewController.h"
#include "platform/Window.h"
#include "platform/qt/QtWebViewProxy.h"

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class QEvent;
class QGraphicsScene;
class QGraphicsView;
class QStackedWidget;

namespace rivlo {

class Application;
class QtWebViewHost;

// The shadow of the application's widgets in the toolkit object model, for hit tests, input
// and screen names; what is painted over in frames is decided elsewhere (QtWidgetMasks), from
// the live widgets, never from this tree.
//
// The window the person works in (the main window last activated or shown) has a Window, made
// key, whose root view controller is named after the widget's class and whose root view stands
// for the widget; every widget below has a proxy view at the same place, with its geometry and
// a class object named after its class (QAbstractScrollArea -> scroll view, QWebEngineView ->
// web view). Dialogs, menus and popups of that window are drawn over it, so their root views
// are laid over its root view where they show: a touch on a dialog is hit-tested, recognised
// and recorded in the main window's coordinates, as the frame shows it. Dialogs (and main
// windows) are screens; the current page of each QStackedWidget (and so of each QTabWidget) has
// a view controller too. A screen's name is its own class; a plain Qt class (QWidget, QDialog,
// QMainWindow) is named after the widget's objectName when it has one. Widgets embedded in a
// graphics scene are never windows.
//
// Changes are observed one widget at a time: a move or resize updates that widget's proxy at
// once; showing, hiding, adding, removing or reordering children marks only their parent, whose
// children are brought up to date at the next sync(); only window changes look at the
// top-level widgets. The bridge syncs soon after changes, before every frame and at every touch
// begin. Main thread only.
class QtShadowTree : public QObject {
  public:
    explicit QtShadowTree(std::shared_ptr<Application> application);
    ~QtShadowTree() override;

    // A structure event the bridge saw on `watched`; answers whether a sync is due.
    bool noteEvent(QObject* watched, QEvent* event);
    void markDirty() { dirty_ = true; }
    bool isDirty() const { return dirty_; }
    void sync();
    void syncIfDirty() {
        if (dirty_) sync();
    }

    // Lookups. Null when unknown.
    // The Window a top-level widget shows in (its own, or for a dialog or popup the main
    // window's it is laid over).
    std::shared_ptr<Window> windowForWidget(const QWidget* topLevel) const;
    std::shared_ptr<View> viewForWidget(const QWidget* widget) const;
    QWidget* topLevelForWindow(const View* window) const;
    // The main window whose Window shows this top-level widget (itself for a main window).
    QWidget* frameWindowFor(const QWidget* topLevel) const;
    // The main window the person works in now (the key window's widget).
    QWidget* workingWindow() const { return working_.data(); }
    // Top-level widgets shown over `main` (its dialogs, menus, popups and tooltips, and
    // windows without a parent shown while it is the working window), bottom first.
    std::vector<QWidget*> windowsOver(const QWidget* main) const;
    // The widget a proxy view (or a window's root view) stands for.
    QWidget* widgetForView(const View* view) const;
    // The screen a widget stands for: a top-level widget's root controller, a page's controller.
    std::shared_ptr<ViewController> screenForWidget(const QWidget* widget) const;
    // The web view proxy whose content view this is.
    QtWebViewProxy* webProxyForContentView(const View* view) const;
    // The top-level widget whose native window this is.
    QWidget* topLevelForWindowHandle(const QObject* windowHandle) const;

    // Every graphics scene shown by a view in the tree now (a frame brings them up to date).
    std::vector<QGraphicsScene*> scenes() const;

    size_t proxyCount() const { return nodes_.size(); }
    size_t windowCount() const { return windows_.size(); }
    // Called with the window whose widget was destroyed or hidden (the bridge ends a touch
    // sequence running in it).
    void setWindowGoneHandler(std::function<void(const std::shared_ptr<Window>&)> handler) {
        windowGone_ = std::move(handler);
    }
    // What shows the tree's web views (their proxies follow their pages through it), and what
    // is called with every web view the tree meets (its page is then watched for masks).
    void setWebViews(std::weak_ptr<QtWebViewHost> host, std::function<void(QWidget*)> met) {
        webHost_ = std::move(host);
        webViewMet_ = std::move(met);
    }

    // What a top-level widget is to the recording.
    static bool isRecordableWindow(const QWidget* widget);
    // A dialog, menu, popup, tool window or tooltip: shown over the window it belongs to.
    static bool isTransient(const QWidget* topLevel);

  private:
    struct Node {
        QPointer<QWidget> widget;
        std::string className;
        std::shared_ptr<View> view;
        std::shared_ptr<ViewController> page;  // when it is (or was) a current page
        bool web = false;
        int depth = 0;  // for pages: outer pages appear before inner ones
    };
    enum class Role { Hidden, Main, Over };
    struct WindowEntry {
        QPointer<QWidget> widget;
        std::string className;
        std::shared_ptr<Window> window;
        std::shared_ptr<ViewController> controller;
        std::shared_ptr<View> root;
        Role role = Role::Hidden;
        QPointer<QWidget> owner;  // the main window it is laid over
        bool screen = true;       // main windows and dialogs; not menus and popups
        bool built = false;
        bool zeroSizeLogged = false;
    };
    // When a top-level widget was last shown or activated (the stacking of windows).
    struct Stamps {
        QPointer<QWidget> widget;
        uint64_t shownAt = 0;
        uint64_t activatedAt = 0;
    };
    Stamps& stampsFor(QWidget* topLevel);
    uint64_t lastRaised(const QWidget* topLevel) const;

    Node& nodeFor(QWidget* widget);
    Node* findNode(const QObject* widget);
    WindowEntry& windowEntryFor(QWidget* topLevel);
    View* viewOf(const QWidget* widget);
    void markChildren(QWidget* parent);
    // Brings the proxies of `parent`'s children up to date; children met for the first time
    // get their whole subtree, children known already keep theirs.
    void syncChildren(QWidget* parent, View& parentView, bool all);
    void follow(Node& node, QWidget* widget);
    void syncWindows();
    void syncPages(const std::vector<std::shared_ptr<Window>>& newlyShown, bool hidAny);
    void setRole(WindowEntry& entry, Role role, QWidget* owner,
                 std::vector<std::shared_ptr<Window>>& newlyShown, bool& hidAny);
    void placeOver(WindowEntry& entry);
    void hideWindow(WindowEntry& entry, const char* why);
    void reappearTopScreen();
    void widgetDestroyed(QObject* object);
    std::string screenName(const QWidget* widget) const;

    std::shared_ptr<Application> application_;
    bool dirty_ = true;
    bool windowsDirty_ = true;
    uint64_t clock_ = 0;
    std::unordered_map<const QObject*, Node> nodes_;
    std::map<const QObject*, WindowEntry> windows_;
    std::unordered_map<const QObject*, Stamps> stamps_;
    std::unordered_map<const View*, const QObject*> widgetsByView_;
    std::vector<QPointer<QWidget>> dirtyParents_;
    std::unordered_set<const QObject*> dirtySet_;
    std::vector<QPointer<QStackedWidget>> stacks_;
    std::vector<QPointer<QGraphicsView>> graphicsViews_;
    QPointer<QWidget> working_;
    // Page controllers now appearing, in tree order (outer pages before inner ones).
    std::vector<std::shared_ptr<ViewController>> visiblePages_;
    std::function<void(const std::shared_ptr<Window>&)> windowGone_;
    std::weak_ptr<QtWebViewHost> webHost_;
    std::function<void(QWidget*)> webViewMet_;
};

}  // namespace rivlo
