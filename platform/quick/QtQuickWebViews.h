#pragma once

#include "platform/qt/QtWebViewHost.h"

#include <QObject>
#include <QPointer>

#include <memory>
#include <unordered_map>

class QQuickItem;
class QQuickWindow;

namespace rivlo {

class QtFrameSource;
class QtItemMasks;
class QtQuickWindows;
class QtWebViewProxy;

// Qt Quick's WebEngineView items as web views of the recording. Each one shown in a recorded
// window has a web view proxy laid over the window's root view where the item shows (its
// bounding rectangle in the window), so a touch on it is hit-tested into its page: the page is
// named, its tile captured, the touch recorded in the page's coordinates. The proxies are
// brought up to date when a touch or click begins in the window (an event filter that runs
// before the bridge's input), and follow their pages' address, size and scrolling. The checked
// picture a tile is cut from is a frame of the window taken as the recording takes it (items'
// masks, pages' masks), cut to the item. Main thread only.
class QtQuickWebViews : public QObject,
                        public QtWebViewHost,
                        public std::enable_shared_from_this<QtQuickWebViews> {
  public:
    QtQuickWebViews(QtQuickWindows& windows, const QtItemMasks& masks, QtFrameSource& frames,
                    QtWebMasks& pages);
    // Takes the proxies out of their windows.
    ~QtQuickWebViews() override;

    // Starts watching the application's input (install after the bridge's input).
    void watch(QObject* application);
    // Brings the web view proxies of a recorded window up to date with its items.
    void sync(QQuickWindow* window);
    size_t proxyCount() const { return views_.size(); }
    // Whether the item is a WebEngineView with a proxy laid over its window.
    bool hasProxy(const QQuickItem* item) const;

    QtWebEngine::Kind kind() const override { return QtWebEngine::Kind::Quick; }
    QSize size(const QObject* view) const override;
    bool isShown(const QObject* view) const override;
    QtWebViewProxy* proxyOf(const View& contentView) const override;
    bool isWithinRegistered(const QObject* view) const override;
    std::shared_ptr<QtFrame> picture(QObject* view, QtWebMasks& pages, QRect& area) override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    struct Entry {
        QPointer<QQuickItem> item;
        std::shared_ptr<QtWebViewProxy> proxy;
    };
    Entry& entryFor(QQuickItem* item);
    void forget(QObject* item);

    QtQuickWindows& windows_;
    const QtItemMasks& masks_;
    QtFrameSource& frames_;
    QtWebMasks& pages_;
    std::unordered_map<const QObject*, Entry> views_;
};

}  // namespace rivlo
