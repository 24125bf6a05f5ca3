#include "platform/qt/QtWidgetWebViews.h"

#include "platform/qt/QtFrameCapture.h"
#include "platform/qt/QtShadowTree.h"
#include "platform/qt/QtWidgetMasks.h"

#include <QWidget>

namespace rivlo {

namespace {
const QWidget* widgetOf(const QObject* view) {
    return view && view->isWidgetType() ? static_cast<const QWidget*>(view) : nullptr;
}
}  // namespace

QSize QtWidgetWebViews::size(const QObject* view) const {
    const QWidget* widget = widgetOf(view);
    return widget ? widget->size() : QSize();
}

bool QtWidgetWebViews::isShown(const QObject* view) const {
    const QWidget* widget = widgetOf(view);
    return widget && widget->isVisible();
}

QtWebViewProxy* QtWidgetWebViews::proxyOf(const View& contentView) const {
    return tree_.webProxyForContentView(&contentView);
}

bool QtWidgetWebViews::isWithinRegistered(const QObject* view) const {
    const QWidget* widget = widgetOf(view);
    return !widget || widgets_.isWithinRegistered(widget);
}

std::shared_ptr<QtFrame> QtWidgetWebViews::picture(QObject* view, QtWebMasks& pages, QRect& area) {
    auto* widget = const_cast<QWidget*>(widgetOf(view));
    if (!widget) return nullptr;
    // The view as it shows now (its page and the widgets over it), with the widgets' masks.
    QImage pixels = widget->grab().toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (pixels.isNull()) return nullptr;
    const double ratio = pixels.devicePixelRatio();
    pixels.setDevicePixelRatio(1);
    auto frame = std::make_shared<QtFrame>(pixels.size());
    QtFrame::Layer layer;
    layer.clip = QRectF(pixels.rect());
    layer.masks = QtFrameMasks(pixels.rect());
    std::vector<QtWebArea> areas;
    widgets_.collect(widget, QTransform::fromScale(ratio, ratio), layer.clip, layer.masks, &areas);
    for (const QtWebArea& web : areas) {
        if (web.view)
            layer.web.push_back({web.viewToFrame, web.frameClip, web.visible, pages.ask(web.view)});
    }
    if (layer.masks.dropped()) frame->outcome().drop(layer.masks.reason());
    if (layer.masks.coversAll()) frame->outcome().coverAll(layer.masks.reason());
    layer.pixels = std::move(pixels);
    area = layer.pixels.rect();
    frame->layers().push_back(std::move(layer));
    return frame;
}

}  // namespace rivlo
