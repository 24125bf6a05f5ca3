#include "platform/quick/QtSceneItems.h"

#include <QQuickItem>
#include <private/qquickitem_p.h>

namespace rivlo {

namespace {
constexpr QQuickItemPrivate::ChangeTypes kChanges =
    QQuickItemPrivate::Children | QQuickItemPrivate::Destroyed;
}  // namespace

QtSceneItems::QtSceneItems(QQuickItem* root) : root_(root) {
    follow(root);
}

QtSceneItems::~QtSceneItems() {
    for (QQuickItem* item : std::as_const(followed_))
        QQuickItemPrivate::get(item)->removeItemChangeListener(this, kChanges);
}

std::vector<QQuickItem*> QtSceneItems::fresh() {
    std::vector<QQuickItem*> met;
    met.reserve(new_.size());
    for (QQuickItem* item : new_) {
        // One that ended since is no longer followed (its address may hold a newer item,
        // met again after it).
        if (followed_.contains(item)) met.push_back(item);
    }
    new_.clear();
    return met;
}

void QtSceneItems::itemChildAdded(QQuickItem*, QQuickItem* child) {
    follow(child);
}

void QtSceneItems::itemDestroyed(QQuickItem* item) {
    followed_.remove(item);
    kept_.remove(item);
}

void QtSceneItems::follow(QQuickItem* top) {
    // Without recursion: a scene may be deeper than the stack allows. An item followed already
    // has everything under it followed (its children added since were met as they came).
    std::vector<QQuickItem*> stack{top};
    while (!stack.empty()) {
        QQuickItem* item = stack.back();
        stack.pop_back();
        if (!item || followed_.contains(item)) continue;
        followed_.insert(item);
        new_.push_back(item);
        QQuickItemPrivate* d = QQuickItemPrivate::get(item);
        d->addItemChangeListener(this, kChanges);
        stack.insert(stack.end(), d->childItems.cbegin(), d->childItems.cend());
    }
}

}  // namespace rivlo
