#include "platform/quick/QtQuickFrameCapture.h"

#include "platform/qt/QtFrameCapture.h"
#include "platform/qt/QtWebMasks.h"
#include "platform/qt/QtWebViewHost.h"
#include "platform/quick/QtItemMasks.h"
#include "platform/quick/QtQuickReadback.h"
#include "platform/quick/QtQuickWindows.h"
#include "platform/quick/QtSoftwareRepaints.h"

#include <QBackingStore>
#include <QCoreApplication>
#include <QPointer>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <qpa/qplatformbackingstore.h>
#include <private/qquickwindow_p.h>
#include <private/qsgsoftwarerenderloop_p.h>

#include <cmath>
#include <cstring>

namespace rivlo {

namespace {
bool isWholePixelTranslation(const QTransform& t) {
    return t.type() <= QTransform::TxTranslate && std::abs(t.dx() - std::round(t.dx())) < 1e-6 &&
           std::abs(t.dy() - std::round(t.dy())) < 1e-6;
}

// Has the window rendered now, as the platform's request for a new picture would, by Qt's basic
// software render loop (the one Qt Quick runs on the main thread), and returns the picture it
// rendered into, shared with the window's backing store (its next painting copies it if the
// frame still holds it). Null, `rendered` false, when another render loop renders the window or
// the window did not render (it is not exposed); `rendered` tells whether it rendered.
// The render loop's class has no type information outside Qt Quick: the undefined behaviour
// sanitizer's check of the dynamic type, which needs it, is left out here.
__attribute__((no_sanitize("vptr"))) QImage renderInPlace(QQuickWindow* window,
                                                          const bool& rendered) {
    QSGRenderLoop* loop = QQuickWindowPrivate::get(window)->windowManager;
    // The class is private to Qt Quick (no type information to ask): known by its name.
    if (!loop || std::strcmp(loop->metaObject()->className(), "QSGSoftwareRenderLoop") != 0)
        return {};
    auto* software = static_cast<QSGSoftwareRenderLoop*>(loop);
    QBackingStore* store = software->m_backingStores.value(window);
    if (!store || !store->handle()) return {};
    QEvent request(QEvent::UpdateRequest);
    QCoreApplication::sendEvent(window, &request);
    if (!rendered || software->m_backingStores.value(window) != store) return {};
    return store->handle()->toImage();
}

}  // namespace

QtQuickFrameCapture::~QtQuickFrameCapture() {
    for (const QPointer<QtQuickReadback>& readback : readbacks_) {
        if (readback) readback->detach();
    }
}

bool QtQuickFrameCapture::draws(const View& window) const {
    return windows_.quickWindowFor(&window) != nullptr;
}

QtQuickFrameCapture::Placement QtQuickFrameCapture::Placement::of(QQuickWindow* window,
                                                                  const QRectF& target,
                                                                  QSize frameSize) {
    Placement placement;
    placement.size = window->size();
    if (placement.size.isEmpty()) return placement;
    placement.ratio = window->effectiveDevicePixelRatio();
    placement.windowToFrame = QtFrameCapture::windowToFrame(placement.size, target);
    const QRectF frameArea(QPointF(0, 0), QSizeF(frameSize));
    placement.clip =
        placement.windowToFrame.mapRect(QRectF(QPointF(0, 0), QSizeF(placement.size))) & target &
        frameArea;
    placement.opaque = window->color().alpha() == 255;
    return placement;
}

QtFrameMasks QtQuickFrameCapture::Placement::masks(QQuickWindow* window, const QtItemMasks& items,
                                                   QSize frameSize,
                                                   std::vector<QtWebArea>* webViews) const {
    QtFrameMasks masks(QRect(QPoint(0, 0), frameSize));
    if (size.isEmpty()) {
        masks.drop("the Qt Quick window has no size");
        return masks;
    }
    // Pixels drawn scaled are interpolated from their neighbours: the masks reach a pixel further.
    if (ratio != 1.0 || !isWholePixelTranslation(windowToFrame)) masks.setMargin(1);
    items.collect(window, windowToFrame, clip, masks, webViews);
    return masks;
}

void QtQuickFrameCapture::addLayer(QtFrame& frame, QImage pixels, const Placement& placement,
                                   QtFrameMasks masks) {
    QtFrame::Layer layer;
    // The pixels cover the window's whole area, whatever their number.
    layer.toFrame = QTransform::fromScale(placement.size.width() / double(pixels.width()),
                                          placement.size.height() / double(pixels.height())) *
                    placement.windowToFrame;
    layer.clip = placement.clip;
    layer.opaque = placement.opaque || pixels.format() == QImage::Format_RGB32;
    layer.pixels = std::move(pixels);
    layer.masks = std::move(masks);
    if (layer.masks.dropped()) frame.outcome().drop(layer.masks.reason());
    if (layer.masks.coversAll()) frame.outcome().coverAll(layer.masks.reason());
    frame.layers().push_back(std::move(layer));
}

std::shared_ptr<QtFrame> QtQuickFrameCapture::capture(const View& view, const QRectF& target,
                                                      QSize frameSize) {
    QQuickWindow* window = windows_.quickWindowFor(&view);
    const QSGRendererInterface* renderer = window ? window->rendererInterface() : nullptr;
    if (!window || !renderer || window->width() <= 0 || window->height() <= 0) {
        auto frame = std::make_shared<QtFrame>(frameSize);
        frame->outcome().drop("the Qt Quick window is gone or has no size");
        return frame;
    }
    if (!QSGRendererInterface::isApiRhiBased(renderer->graphicsApi()))
        return grab(window, target, frameSize);
    QtQuickReadback* readback = QtQuickReadback::find(window);
    if (!readback) {
        readback = QtQuickReadback::of(window, masks_);
        readbacks_.emplace_back(readback);
    }
    return readback->capture(target, frameSize);
}

std::shared_ptr<QtFrame> QtQuickFrameCapture::grab(QQuickWindow* window, const QRectF& target,
                                                   QSize frameSize) {
    auto frame = std::make_shared<QtFrame>(frameSize);
    // The pixels show the items as the scene graph synchronised them: after their layout was
    // brought up to date inside grabWindow(), and before the animations step on at the end of
    // that rendering. So the masks are worked out right then, as the synchronisation begins
    // (on the thread that renders, the main thread waiting). When nothing needed
    // synchronising, the items are as they were before the call. The software scene graph
    // renders while the main thread waits in the call: its masks are worked out as its
    // rendering begins, when the Animators have moved their items' nodes to where they are
    // drawn (a walk at the synchronisation met them a step behind: a page leaving in a
    // StackView's transition showed its member card beside its mask).
    const bool software =
        window->rendererInterface()->graphicsApi() == QSGRendererInterface::Software;
    // The WebEngineViews met are left to their pages' masks, asked for once the pixels are in.
    std::vector<QtWebArea> webViews;
    std::vector<QtWebArea>* const pages = pages_ ? &webViews : nullptr;
    Placement placement = Placement::of(window, target, frameSize);
    QtFrameMasks masks = software ? QtFrameMasks(QRect(QPoint(0, 0), frameSize))
                                  : placement.masks(window, masks_, frameSize, pages);
    auto masksNow = [&] {
        webViews.clear();
        placement = Placement::of(window, target, frameSize);
        masks = placement.masks(window, masks_, frameSize, pages);
    };
    QMetaObject::Connection during;
    if (!software) {
        during = QObject::connect(window, &QQuickWindow::beforeSynchronizing, window, masksNow,
                                  Qt::DirectConnection);
    }
    // The software renderer repaints only what it finds changed: what it leaves may hold masked
    // items where they were (QtSoftwareRepaints).
    QtSoftwareRepaints* repaints = software ? QtSoftwareRepaints::of(window) : nullptr;
    QMetaObject::Connection repaint;
    bool began = false;  // the frame's rendering began
    if (software) {
        repaint = QObject::connect(
            window, &QQuickWindow::beforeRendering, window,
            [&] {
                began = true;
                masksNow();
                repaints->begin(placement, masks, !webViews.empty());
            },
            Qt::DirectConnection);
    }
    // On Qt's basic software render loop the window renders now into its own picture, which
    // the frame shares (grabWindow() renders the same way and hands back a copy of the whole
    // picture); where it does not render now (not exposed), or on another render loop,
    // grabWindow() renders it.
    QImage pixels;
    bool inPlace = false;
    if (software) {
        // The rendering delivers the window's pending hover events first: the host's code may
        // end the window there.
        const QPointer<QQuickWindow> alive(window);
        pixels = renderInPlace(window, began);
        if (!alive) {
            frame->outcome().drop("the Qt Quick window was destroyed while it rendered");
            return frame;
        }
        inPlace = !pixels.isNull();
    }
    if (!began) pixels = window->grabWindow();
    QObject::disconnect(during);
    QObject::disconnect(repaint);
    if (software && !repaints->finish(placement, masks)) {
        frame->outcome().drop("the Qt Quick window's software rendering cannot be trusted");
        return frame;
    }
    if (pixels.isNull()) {
        frame->outcome().drop("the Qt Quick window's pixels could not be taken");
        return frame;
    }
    if (inPlace) {
        // The window's picture has its pixels from the top left of its backing store.
        const QSize size = (QSizeF(placement.size) * placement.ratio).toSize();
        if (pixels.width() < size.width() || pixels.height() < size.height()) {
            frame->outcome().drop("the Qt Quick window's picture is smaller than the window");
            return frame;
        }
        if (pixels.size() != size) {
            pixels = pixels.copy(QRect(QPoint(0, 0), size));
            inPlace = false;
        }
    } else if (pixels.devicePixelRatio() != placement.ratio) {
        frame->outcome().drop("the Qt Quick window's scale changed while its pixels were taken");
        return frame;
    }
    if (window->size() != placement.size) {
        frame->outcome().drop("the Qt Quick window's size changed while its pixels were taken");
        return frame;
    }
    if (pixels.format() != QImage::Format_RGB32 &&
        pixels.format() != QImage::Format_ARGB32_Premultiplied) {
        pixels = pixels.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        inPlace = false;
    }
    addLayer(*frame, std::move(pixels), placement, std::move(masks));
    if (inPlace) repaints->heldBy(frame);
    QtFrame::Layer& layer = frame->layers().back();
    for (const QtWebArea& web : webViews) {
        if (web.view)
            layer.web.push_back(
                {web.viewToFrame, web.frameClip, web.visible, pages_->ask(web.view)});
    }
    return frame;
}

}  // namespace rivlo
