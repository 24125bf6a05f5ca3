#include "platform/quick/QtQuickWebViews.h"

#include "foundation/Log.h"
#include "platform/ViewController.h"
#include "platform/Window.h"
#include "platform/qt/QtFrameCapture.h"
#include "platform/qt/QtFrameSource.h"
#include "platform/qt/QtWebMasks.h"
#include "platform/qt/QtWebViewProxy.h"
#include "platform/quick/QtItemMasks.h"
#include "platform/quick/QtQuickWindows.h"

#include <QEvent>
#include <QQuickItem>
#include <QQuickWindow>

#include <cmath>
#include <vector>

namespace rivlo {

namespace {

// Deeper than any scene a person works in (the frames' walk drops deeper ones).
constexpr int kMaxDepth = 512;

const QQuickItem* itemOf(const QObject* view) {
    return qobject_cast<const QQuickItem*>(view);
}

ObjClass* proxyClass() {
    static ObjClass* const cls = [] {
        const char* name = "view:QQuickWebEngineView";
        ObjClass* existing = ObjClass::named(name);
        return existing && existing->isSubclassOf(WebView::classObject())
                   ? existing
                   : ObjClass::define(name, WebView::classObject());
    }();
    return cls;
}

void findWebViews(QQuickItem* item, int depth, std::vector<QQuickItem*>& found) {
    if (!item->isVisible() || depth > kMaxDepth) return;
    if (QtWebEngine::isWebView(item, QtWebEngine::Kind::Quick)) found.push_back(item);
    for (QQuickItem* child : item->childItems())
        findWebViews(child, depth + 1, found);
}

Rect rectOf(const QRectF& r) {
    return Rect(r.x(), r.y(), r.width(), r.height());
}

}  // namespace

QtQuickWebViews::QtQuickWebViews(QtQuickWindows& windows, const QtItemMasks& masks,
                                 QtFrameSource& frames, QtWebMasks& pages)
    : windows_(windows), masks_(masks), frames_(frames), pages_(pages) {}

QtQuickWebViews::~QtQuickWebViews() {
    for (auto& [item, entry] : views_)
        entry.proxy->removeFromSuperview();
}

void QtQuickWebViews::watch(QObject* application) {
    application->installEventFilter(this);
}

bool QtQuickWebViews::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    // Before the touch is hit-tested, the proxies are where the items are now.
    if ((type == QEvent::MouseButtonPress || type == QEvent::TouchBegin) &&
        watched->isWindowType()) {
        if (auto* window = qobject_cast<QQuickWindow*>(watched)) sync(window);
    }
    return false;
}

QtQuickWebViews::Entry& QtQuickWebViews::entryFor(QQuickItem* item) {
    auto it = views_.find(item);
    if (it != views_.end()) return it->second;
    Entry entry;
    entry.item = item;
    entry.proxy = std::make_shared<QtWebViewProxy>(proxyClass(), item, weak_from_this());
    // Scrolling, loading and resizing a page move no item: the proxy follows the page.
    std::weak_ptr<QtWebViewProxy> weak = entry.proxy;
    if (QtWebEngine* module = engine()) {
        module->onPageChanges(
            item, this,
            [weak] {
                if (auto proxy = weak.lock()) proxy->follow();
            },
            false);
    }
    pages_.watch(item);
    connect(item, &QQuickItem::visibleChanged, this,
            [this, item] { pages_.noteVisible(item, item->isVisible()); });
    connect(item, &QObject::destroyed, this, [this](QObject* object) { forget(object); });
    RVLog("QtQuickWebViews: a WebEngineView is a web view of the recording (%s)",
          engine() ? engine()->url(item).toString().toUtf8().constData() : "no web view module");
    return views_.emplace(item, std::move(entry)).first->second;
}

void QtQuickWebViews::forget(QObject* item) {
    auto it = views_.find(item);
    if (it == views_.end()) return;
    it->second.proxy->removeFromSuperview();
    views_.erase(it);
}

void QtQuickWebViews::sync(QQuickWindow* window) {
    std::shared_ptr<Window> recorded = window ? windows_.windowFor(window) : nullptr;
    auto controller = recorded ? recorded->rootViewController() : nullptr;
    std::shared_ptr<View> root = controller ? controller->view() : nullptr;
    if (!root || !window->contentItem()) return;
    QQuickItem* top = window->contentItem();
    while (top->parentItem())
        top = top->parentItem();
    std::vector<QQuickItem*> found;
    findWebViews(top, 0, found);
    // Proxies of items no longer shown here leave the window.
    for (auto& [object, entry] : views_) {
        if (entry.proxy->superview() == root.get() &&
            std::find(found.begin(), found.end(), entry.item.data()) == found.end())
            entry.proxy->removeFromSuperview();
    }
    // In the items' order, so the proxy of the item drawn last is hit-tested first.
    for (QQuickItem* item : found) {
        Entry& entry = entryFor(item);
        const QRectF area = item->mapRectToScene(QRectF(0, 0, item->width(), item->height()));
        entry.proxy->setFrame(rectOf(area));
        entry.proxy->setUserInteractionEnabled(item->isEnabled());
        if (entry.proxy->superview() != root.get()) entry.proxy->removeFromSuperview();
        root->addSubview(entry.proxy);
        entry.proxy->follow();
    }
}

QSize QtQuickWebViews::size(const QObject* view) const {
    const QQuickItem* item = itemOf(view);
    if (!item) return QSize();
    return QSize(static_cast<int>(std::lround(item->width())),
                 static_cast<int>(std::lround(item->height())));
}

bool QtQuickWebViews::isShown(const QObject* view) const {
    const QQuickItem* item = itemOf(view);
    return item && item->isVisible() && item->window() && item->window()->isVisible() &&
           windows_.windowFor(item->window()) != nullptr;
}

QtWebViewProxy* QtQuickWebViews::proxyOf(const View& contentView) const {
    for (const auto& [item, entry] : views_) {
        if (entry.proxy->contentView().get() == &contentView) return entry.proxy.get();
    }
    return nullptr;
}

bool QtQuickWebViews::hasProxy(const QQuickItem* item) const {
    return views_.count(item) != 0;
}

bool QtQuickWebViews::isWithinRegistered(const QObject* view) const {
    const QQuickItem* item = itemOf(view);
    if (!item) return true;
    for (const QQuickItem* i = item; i; i = i->parentItem()) {
        if (masks_.isRegistered(i)) return true;
    }
    return false;
}

std::shared_ptr<QtFrame> QtQuickWebViews::picture(QObject* view, QtWebMasks&, QRect& area) {
    auto* item = qobject_cast<QQuickItem*>(view);
    QQuickWindow* window = item ? item->window() : nullptr;
    std::shared_ptr<Window> recorded = window ? windows_.windowFor(window) : nullptr;
    if (!recorded || window->width() <= 0 || window->height() <= 0) return nullptr;
    // The window as a frame of the recording shows it, point for pixel, masks worked out as
    // there (the pages' answers asked of the frames' pages), cut to the item.
    const QSize size = window->size();
    std::shared_ptr<QtFrame> frame =
        frames_.capture(*recorded, QRectF(QPointF(0, 0), QSizeF(size)), size);
    if (!frame || frame->dropped()) return nullptr;
    area = item->mapRectToScene(QRectF(0, 0, item->width(), item->height())).toAlignedRect() &
           QRect(QPoint(0, 0), size);
    return frame;
}

}  // namespace rivlo
