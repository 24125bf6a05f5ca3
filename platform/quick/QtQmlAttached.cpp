#include "platform/quick/QtQmlAttached.h"

#include "foundation/Log.h"

#include <QQuickItem>
#include <QQuickWindow>

namespace rivlo {

int QtQmlAttached::occludedCount_ = 0;
QSet<QtQmlAttached*> QtQmlAttached::all_;

QtQmlAttached::QtQmlAttached(QObject* attachee) : QObject(attachee) {
    ++occludedCount_;
    all_.insert(this);
    if (attachee && !qobject_cast<QQuickItem*>(attachee) &&
        !qobject_cast<QQuickWindow*>(attachee) && !attachee->inherits("QQuickPopup")) {
        // Nothing drawn belongs to it: no frame can find it.
        RVLog(
            "Rivlo: Rivlo.occluded is set on a %s, which is not an item, a window or a popup: it "
            "masks nothing; set it on the item that draws the content",
            attachee->metaObject()->className());
    }
}

QtQmlAttached::~QtQmlAttached() {
    if (occluded_) --occludedCount_;
    all_.remove(this);
}

std::vector<QObject*> QtQmlAttached::occludedObjects() {
    std::vector<QObject*> objects;
    if (occludedCount_ == 0) return objects;
    for (const QtQmlAttached* attached : std::as_const(all_)) {
        if (attached->occluded_ && attached->parent()) objects.push_back(attached->parent());
    }
    return objects;
}

void QtQmlAttached::setOccluded(bool occluded) {
    if (occluded == occluded_) return;
    occluded_ = occluded;
    occludedCount_ += occluded ? 1 : -1;
    Q_EMIT occludedChanged();
}

}  // namespace rivlo
