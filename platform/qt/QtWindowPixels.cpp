#include "platform/qt/QtWindowPixels.h"

#include <QBackingStore>
#include <QCoreApplication>
#include <QWidget>
#include <QWindow>
#include <qpa/qplatformbackingstore.h>
#include <private/qwidget_p.h>
#include <private/qwidgetrepaintmanager_p.h>

namespace rivlo {

namespace {
QWidgetRepaintManager* repaintManager(QWidget* topLevel) {
    auto* d = static_cast<QWidgetPrivate*>(QObjectPrivate::get(topLevel));
    return d ? d->maybeRepaintManager() : nullptr;
}

bool usableStore(QWidget* topLevel) {
    QWindow* window = topLevel->windowHandle();
    return window && window->isExposed() && topLevel->backingStore() &&
           topLevel->backingStore()->handle();
}
}  // namespace

bool QtWindowPixels::backingStoreIsCurrent(QWidget* topLevel) {
    if (!topLevel || !usableStore(topLevel)) return false;
    QWidgetRepaintManager* manager = repaintManager(topLevel);
    return manager && !manager->isDirty();
}

QImage QtWindowPixels::render(QWidget* topLevel) {
    const qreal dpr = topLevel->devicePixelRatioF();
    QImage image(topLevel->size() * dpr, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) return image;
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::black);
    topLevel->render(&image, QPoint(), QRegion(),
                     QWidget::DrawWindowBackground | QWidget::DrawChildren);
    return image;
}

QImage QtWindowPixels::grab(QWidget* topLevel, Source* source) {
    if (source) *source = Source::None;
    if (!topLevel || topLevel->width() <= 0 || topLevel->height() <= 0) return QImage();
    if (usableStore(topLevel)) {
        // A widget just shown or moved asks for its repaint through a posted event: it is
        // delivered first, so that the repaint manager knows what is out of date.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateLater);
        QWidgetRepaintManager* manager = repaintManager(topLevel);
        // What waits to be repainted is repainted now (only the dirty parts, as the next
        // update would), so the store is current and can be copied.
        if (manager && manager->isDirty()) manager->sync();
        if (manager && !manager->isDirty()) {
            QImage image = topLevel->backingStore()->handle()->toImage();
            const QSize wanted = topLevel->size() * topLevel->devicePixelRatioF();
            if (!image.isNull() && image.width() >= wanted.width() &&
                image.height() >= wanted.height()) {
                if (source) *source = Source::BackingStore;
                return image;
            }
        }
    }
    if (source) *source = Source::Render;
    return render(topLevel);
}

}  // namespace rivlo
