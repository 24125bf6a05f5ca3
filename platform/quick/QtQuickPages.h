#pragma once

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <memory>
#include <vector>

class QQuickItem;
class QQuickWindow;

namespace rivlo {

class ViewController;

// The pages of Qt Quick windows: the current item of each StackView, SwipeView, StackLayout (a
// TabBar's pages) and Loader is a page the person sees, and each such page has a view
// controller named after its QML type (QtQuickWindows::screenName: "LoginPage" for
// LoginPage.qml), or its objectName for one of Qt's own types.
//
// The page a window shows is the innermost current page that is visible: a current page with
// another visible current page inside it (a StackView on a tab) gives way to that one; of two
// innermost pages side by side, the one whose container changed last wins. A window without a
// visible current page is its own screen.
//
// Containers are found by walking a window's items (by class name: the bridge links none of
// the modules that define them) when the window is followed, when any container's current item
// changes (the new page may hold containers of its own) and when input begins; from then on each
// is followed through its own signals (its current item, its visibility, its destruction), which
// ask for one update on the next turn of the event loop. Main thread only.
class QtQuickPages : public QObject {
  public:
    QtQuickPages();
    ~QtQuickPages() override;

    // Called (from the event loop) after the pages may have changed.
    void setChangedHandler(std::function<void()> handler) { changed_ = std::move(handler); }
    // Looks for containers in the window's items now; follows those it did not know.
    void scan(QQuickWindow* window);
    // Asks for an update on the next turn of the event loop (several asks give one).
    void scheduleUpdate();
    // The page the window shows now (see above), or null.
    QQuickItem* currentPage(QQuickWindow* window) const;
    // The view controller of a page, made the first time it is asked for.
    std::shared_ptr<ViewController> controllerFor(QQuickItem* page);
    size_t containerCount() const { return containers_.size(); }

  private:
    enum class Kind { Stack, Swipe, Layout, Loader };
    struct Container {
        QPointer<QQuickItem> item;
        Kind kind = Kind::Stack;
        QPointer<QQuickItem> page;  // its current item when last looked at
        uint64_t changedAt = 0;     // when its current item last changed
    };
    void visit(QQuickItem* item, int depth);
    void follow(QQuickItem* item, Kind kind);
    void update();
    static QQuickItem* currentItemOf(const Container& container);

    QTimer timer_;
    uint64_t clock_ = 0;
    std::function<void()> changed_;
    QHash<const QObject*, Container> containers_;
    QHash<const QObject*, std::shared_ptr<ViewController>> controllers_;
};

}  // namespace rivlo
