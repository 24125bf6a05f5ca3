#include "platform/quick/QtQuickFrameCapture.h"

#include "platform/qt/QtFrameCapture.h"
#include "platform/quick/QtItemMasks.h"
#include "platform/quick/QtQuickWindows.h"
#include "platform/quick/QtSoftwareRenderer.h"

#include <QQuickWindow>
#include <QSGRendererInterface>

#include <cmath>

namespace rivlo {

namespace {
bool isWholePixelTranslation(const QTransform& t) {
    return t.type() <= QTransform::TxTranslate && std::abs(t.dx() - std::round(t.dx())) < 1e-6 &&
           std::abs(t.dy() - std::round(t.dy())) < 1e-6;
}

bool rendersInSoftware(QQuickWindow* window) {
    const QSGRendererInterface* renderer = window->rendererInterface();
    return renderer && renderer->graphicsApi() == QSGRendererInterface::Software;
}

}  // namespace

bool QtQuickFrameCapture::draws(const View& window) const {
    return windows_.quickWindowFor(&window) != nullptr;
}

std::shared_ptr<QtFrame> QtQuickFrameCapture::capture(const View& view, const QRectF& target,
                                                      QSize frameSize) {
    auto frame = std::make_shared<QtFrame>(frameSize);
    QQuickWindow* window = windows_.quickWindowFor(&view);
    if (!window || window->width() <= 0 || window->height() <= 0) {
        frame->outcome().drop("the Qt Quick window is gone or has no size");
        return frame;
    }
    const QSize size = window->size();
    const QTransform windowToFrame = QtFrameCapture::windowToFrame(size, target);
    const QRectF frameArea(QPointF(0, 0), QSizeF(frameSize));
    const QRectF clip =
        windowToFrame.mapRect(QRectF(QPointF(0, 0), QSizeF(size))) & target & frameArea;
    // Pixels drawn scaled are interpolated from their neighbours: the masks reach a pixel further.
    const double ratio = window->effectiveDevicePixelRatio();
    const bool scaled = ratio != 1.0 || !isWholePixelTranslation(windowToFrame);
    auto masksNow = [&] {
        QtFrameMasks masks(QRect(QPoint(0, 0), frameSize));
        if (scaled) masks.setMargin(1);
        masks_.collect(window, windowToFrame, clip, masks);
        return masks;
    };
    // The pixels show the items as the scene graph synchronised them: after their layout was
    // brought up to date inside grabWindow(), and before the animations step on at the end of
    // that rendering. So the masks are worked out right then, as the synchronisation begins
    // (on the thread that renders, the main thread waiting). When nothing needed
    // synchronising, the items are as they were before the call. The software scene graph
    // renders while the main thread waits in the call: its masks are worked out as its
    // rendering begins, when the Animators have moved their items' nodes to where they are
    // drawn (a walk at the synchronisation met them a step behind: a page leaving in a
    // StackView's transition showed its member card beside its mask).
    const bool software = rendersInSoftware(window);
    QtFrameMasks masks = software ? QtFrameMasks(QRect(QPoint(0, 0), frameSize)) : masksNow();
    QMetaObject::Connection during;
    if (!software) {
        during = QObject::connect(
            window, &QQuickWindow::beforeSynchronizing, window, [&] { masks = masksNow(); },
            Qt::DirectConnection);
    }
    bool repaintedWhole = false;
    QMetaObject::Connection repaint;
    if (software) {
        repaint = QObject::connect(
            window, &QQuickWindow::beforeRendering, window,
            [&] {
                repaintedWhole = QtSoftwareRenderer::repaintWhole(window);
                masks = masksNow();
            },
            Qt::DirectConnection);
    }
    QImage pixels = window->grabWindow();
    QObject::disconnect(during);
    QObject::disconnect(repaint);
    if (pixels.isNull()) {
        frame->outcome().drop("the Qt Quick window's pixels could not be taken");
        return frame;
    }
    if (software && !repaintedWhole) {
        frame->outcome().drop("the Qt Quick window's software renderer did not repaint it whole");
        return frame;
    }
    if (pixels.format() != QImage::Format_RGB32 &&
        pixels.format() != QImage::Format_ARGB32_Premultiplied)
        pixels = pixels.convertToFormat(QImage::Format_ARGB32_Premultiplied);

    if (pixels.devicePixelRatio() != ratio) {
        frame->outcome().drop("the Qt Quick window's scale changed while its pixels were taken");
        return frame;
    }

    QtFrame::Layer layer;
    layer.toFrame = QTransform::fromScale(1 / ratio, 1 / ratio) * windowToFrame;
    layer.clip = clip;
    layer.opaque = window->color().alpha() == 255 || pixels.format() == QImage::Format_RGB32;
    layer.pixels = std::move(pixels);
    layer.masks = std::move(masks);
    if (layer.masks.dropped()) frame->outcome().drop(layer.masks.reason());
    if (layer.masks.coversAll()) frame->outcome().coverAll(layer.masks.reason());
    frame->layers().push_back(std::move(layer));
    return frame;
}

}  // namespace rivlo
