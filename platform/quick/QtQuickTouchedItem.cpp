#include "platform/quick/QtQuickTouchedItem.h"

#include "platform/View.h"
#include "platform/quick/QtQuickWindows.h"

#include <QQuickItem>
#include <QQuickWindow>
#include <private/qquickitem_p.h>

#include <vector>

namespace rivlo {

namespace {

// Deeper than any scene a person works in: not followed further.
constexpr int kMaxDepth = 512;

QQuickItem* deepestAt(QQuickItem* item, QPointF scenePoint, int depth) {
    if (depth > kMaxDepth || !item->isVisible() || item->opacity() <= 0) return nullptr;
    const QPointF local = item->mapFromScene(scenePoint);
    // Nothing of it or inside it shows outside its clip rectangle.
    if (item->clip() && !item->clipRect().contains(local)) return nullptr;
    // Front to back: the children painted last are on top.
    const QList<QQuickItem*> children = QQuickItemPrivate::get(item)->paintOrderChildItems();
    for (auto it = children.crbegin(); it != children.crend(); ++it) {
        if (QQuickItem* hit = deepestAt(*it, scenePoint, depth + 1)) return hit;
    }
    return item->isEnabled() && item->contains(local) ? item : nullptr;
}

ObjClass* proxyClass(const QQuickItem* item) {
    const std::string name = "view:" + QtQuickWindows::typeName(item);
    ObjClass* existing = ObjClass::named(name);
    if (existing && existing->isSubclassOf(View::classObject())) return existing;
    return existing ? View::classObject() : ObjClass::define(name, View::classObject());
}

Rect rectOf(const QRectF& r) {
    return Rect(r.x(), r.y(), r.width(), r.height());
}

}  // namespace

QQuickItem* QtQuickTouchedItem::itemAt(QQuickWindow* window, QPointF point) {
    QQuickItem* root = window ? window->contentItem() : nullptr;
    if (!root) return nullptr;
    while (root->parentItem())
        root = root->parentItem();
    return deepestAt(root, point, 0);
}

void QtQuickTouchedItem::clear() {
    if (chain_) chain_->removeFromSuperview();
    chain_.reset();
    items_.clear();
}

std::shared_ptr<View> QtQuickTouchedItem::layIn(View& root, QQuickItem* item, QPointF point) {
    clear();
    // The item and the items it sits in, up to (not with) the top of the scene, which the root
    // view stands for. Each proxy reaches over the ones inside it, so that the point falls in
    // every one of them (a child may lie outside its parent).
    std::vector<QQuickItem*> path;
    for (QQuickItem* i = item; i && i->parentItem(); i = i->parentItem())
        path.push_back(i);
    if (path.empty()) return nullptr;
    std::vector<QRectF> areas(path.size());
    QRectF inner(point, QSizeF(1, 1));
    for (size_t i = 0; i < path.size(); ++i) {
        QQuickItem* p = path[i];
        const QRectF own = p->mapRectToScene(QRectF(0, 0, p->width(), p->height()));
        inner = own.isValid() ? own | inner : inner;
        areas[i] = inner;
    }
    std::shared_ptr<View> parent;
    QPointF origin(0, 0);
    std::shared_ptr<View> proxy;
    for (size_t i = path.size(); i-- > 0;) {
        proxy = std::make_shared<View>(rectOf(areas[i].translated(-origin)), proxyClass(path[i]));
        items_[proxy.get()] = path[i];
        if (parent) {
            parent->addSubview(proxy);
        } else {
            chain_ = proxy;
        }
        parent = proxy;
        origin = areas[i].topLeft();
    }
    root.addSubview(chain_);
    return proxy;
}

QQuickItem* QtQuickTouchedItem::itemFor(const View* view) const {
    auto it = items_.find(view);
    return it == items_.end() ? nullptr : it->second.data();
}

}  // namespace rivlo
