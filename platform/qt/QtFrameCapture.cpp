#include "platform/qt/QtFrameCapture.h"

#include "platform/qt/QtShadowTree.h"
#include "platform/qt/QtWidgetMasks.h"
#include "platform/qt/QtWindowPixels.h"

#include <QCoreApplication>
#include <QGraphicsScene>
#include <QPainter>
#include <QWidget>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

namespace rivlo {

namespace {

bool isWholePixelTranslation(const QTransform& t) {
    return t.type() <= QTransform::TxTranslate && std::abs(t.dx() - std::round(t.dx())) < 1e-6 &&
           std::abs(t.dy() - std::round(t.dy())) < 1e-6;
}

// A graphics scene repaints its views only after a widget embedded in it has repainted (a posted
// update request) and then from a queued call: until both have run, the window's pixels show the
// scene as it was, while the masks follow the items as they are. So the pending repaints run
// first, then the scenes shown in the window (and those shown inside widgets embedded in scenes,
// as the last frames met them) bring their views up to date, and the windows' repaints before
// their pixels are taken draw them as they are.
void flushScenes(const std::vector<QGraphicsScene*>& scenes,
                 const std::vector<QPointer<QGraphicsScene>>& nested) {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
    for (const auto& scene : nested) {
        if (scene) QCoreApplication::sendPostedEvents(scene, QEvent::MetaCall);
    }
    for (QGraphicsScene* scene : scenes)
        QCoreApplication::sendPostedEvents(scene, QEvent::MetaCall);
}

bool hasOpaquePixels(const QWidget* window, const QImage& pixels) {
    if (pixels.format() == QImage::Format_RGB32) return true;
    // A window that is neither translucent nor left unpainted has its background filled.
    return pixels.format() == QImage::Format_ARGB32_Premultiplied &&
           !window->testAttribute(Qt::WA_TranslucentBackground) &&
           !window->testAttribute(Qt::WA_NoSystemBackground);
}

}  // namespace

// ---- Finishing a frame -----------------------------------------------------------------------

bool QtFrame::coversWholeFrame() const {
    std::lock_guard lock(pixelsMutex_);
    if (layers_.empty()) return false;
    const Layer& first = layers_.front();
    if (!first.opaque || !isWholePixelTranslation(first.toFrame) ||
        (first.pixels.format() != QImage::Format_RGB32 &&
         first.pixels.format() != QImage::Format_ARGB32_Premultiplied))
        return false;
    const QRect frame(QPoint(0, 0), size_);
    const QRect drawn = first.clip.toAlignedRect() &
                        first.toFrame.mapRect(QRectF(first.pixels.rect())).toAlignedRect();
    return drawn.contains(frame);
}

void QtFrame::awaitPixelsLetGo(double seconds) {
    std::unique_lock lock(pixelsMutex_);
    if (pixelsLetGo_.wait_for(lock, std::chrono::duration<double>(seconds),
                              [this] { return letGo_; }))
        return;
    // The frame's thread is late: the pixels become the frame's own here.
    for (Layer& layer : layers_)
        layer.pixels = layer.pixels.copy();
    letGo_ = true;
}

namespace {

void drawLayer(QImage& image, const QtFrame::Layer& layer) {
    const QRect clip = layer.clip.toAlignedRect() & image.rect();
    if (clip.isEmpty() || layer.pixels.isNull()) return;
    // RGB32 keeps 0xff in its fourth byte: opaque premultiplied pixels as they are.
    const bool sameLayout =
        layer.pixels.format() == image.format() || layer.pixels.format() == QImage::Format_RGB32;
    if (layer.opaque && sameLayout && isWholePixelTranslation(layer.toFrame)) {
        // Point for pixel: the rows are copied as they are.
        const int dx = static_cast<int>(std::round(layer.toFrame.dx()));
        const int dy = static_cast<int>(std::round(layer.toFrame.dy()));
        const QRect source = clip.translated(-dx, -dy) & layer.pixels.rect();
        const QRect target = source.translated(dx, dy);
        const size_t bytes = static_cast<size_t>(source.width()) * 4;
        for (int y = 0; y < source.height(); ++y) {
            std::memcpy(image.scanLine(target.top() + y) + target.left() * 4,
                        layer.pixels.constScanLine(source.top() + y) + source.left() * 4, bytes);
        }
        return;
    }
    QPainter painter(&image);
    painter.setClipRect(clip);
    painter.setTransform(layer.toFrame);
    painter.setRenderHint(QPainter::SmoothPixmapTransform,
                          layer.toFrame.type() > QTransform::TxTranslate);
    painter.drawImage(QPointF(0, 0), layer.pixels);
}

}  // namespace

void QtFrame::render(QImage& image, bool mayWait) {
    {
        // The windows' pixels first: the window worked in drawn, those over it copied (they are
        // small); then no window's buffer is held.
        std::lock_guard lock(pixelsMutex_);
        if (outcome_.dropped()) {
            layers_.clear();
        } else if (!layers_.empty()) {
            drawLayer(image, layers_[0]);
            layers_[0].pixels = QImage();
            for (size_t i = 1; i < layers_.size(); ++i) {
                if (!letGo_) layers_[i].pixels = layers_[i].pixels.copy();
            }
        }
        letGo_ = true;
    }
    pixelsLetGo_.notify_all();
    if (outcome_.dropped()) return;
    // Each window's masks over it, before the next window is drawn over both.
    for (size_t i = 0; i < layers_.size(); ++i) {
        Layer& layer = layers_[i];
        if (i > 0) drawLayer(image, layer);
        layer.pixels = QImage();
        for (const QtWebFramePart& part : layer.web)
            QtWebMasks::apply(part, layer.masks, mayWait);
        layer.masks.paint(image);
    }
    layers_.clear();
    if (outcome_.coversAll()) outcome_.paint(image);
}

// ---- Taking a frame --------------------------------------------------------------------------

QTransform QtFrameCapture::windowToFrame(QSize window, const QRectF& target) {
    if (window.isEmpty() || target.isEmpty()) return QTransform();
    const double scale =
        std::min({1.0, target.width() / window.width(), target.height() / window.height()});
    return QTransform::fromScale(scale, scale) *
           QTransform::fromTranslate(target.left(), target.top());
}

void QtFrameCapture::addLayer(QtFrame& frame, QWidget* widget, QImage pixels,
                              const QTransform& pointsToFrame, const QRectF& clip,
                              bool wholeMasked) {
    QtFrame::Layer layer;
    const double ratio = pixels.devicePixelRatio() > 0 ? pixels.devicePixelRatio() : 1.0;
    layer.toFrame = QTransform::fromScale(1 / ratio, 1 / ratio) * pointsToFrame;
    layer.clip = clip;
    layer.opaque = hasOpaquePixels(widget, pixels);
    layer.pixels = std::move(pixels);
    layer.masks = QtFrameMasks(QRect(QPoint(0, 0), frame.size()));
    if (!isWholePixelTranslation(layer.toFrame)) layer.masks.setMargin(1);
    const QRectF area(QPointF(0, 0), QSizeF(widget->size()));
    if (wholeMasked) {
        layer.masks.add(area, pointsToFrame, clip);
    } else {
        std::vector<QtWebArea> webViews;
        widgets_.collect(widget, pointsToFrame, clip, layer.masks, &webViews);
        for (const QtWebArea& web : webViews) {
            if (!web.view) continue;
            layer.web.push_back(
                QtWebFramePart{web.viewToFrame, web.frameClip, web.visible, web_.ask(web.view)});
        }
    }
    if (layer.masks.dropped()) frame.outcome().drop(layer.masks.reason());
    frame.layers().push_back(std::move(layer));
}

std::shared_ptr<QtFrame> QtFrameCapture::capture(QWidget* main, const QRectF& target,
                                                 QSize frameSize) {
    auto frame = std::make_shared<QtFrame>(frameSize);
    if (!main || main->width() <= 0 || main->height() <= 0) {
        frame->outcome().drop("the window has no size");
        return frame;
    }
    const QTransform mainToFrame = windowToFrame(main->size(), target);
    const QRectF frameArea(QPointF(0, 0), QSizeF(frameSize));
    const QRectF mainClip =
        mainToFrame.mapRect(QRectF(QPointF(0, 0), QSizeF(main->size()))) & target & frameArea;
    flushScenes(tree_.scenes(), widgets_.nestedScenes());
    QImage pixels =
        widgets_.paintsAfresh(main) ? QtWindowPixels::render(main) : QtWindowPixels::grab(main);
    if (pixels.isNull()) {
        frame->outcome().drop("the window's pixels could not be taken");
        return frame;
    }
    addLayer(*frame, main, std::move(pixels), mainToFrame, mainClip, false);
    const std::string whole = widgets_.wholeFrameReason(main);
    if (!whole.empty()) frame->outcome().coverAll(whole);

    // Dialogs, menus and popups where they show over it, cut to it.
    const QPoint origin = main->mapToGlobal(QPoint(0, 0));
    for (QWidget* over : tree_.windowsOver(main)) {
        if (over->width() <= 0 || over->height() <= 0) continue;
        const QPoint at = over->mapToGlobal(QPoint(0, 0)) - origin;
        const QTransform overToFrame = QTransform::fromTranslate(at.x(), at.y()) * mainToFrame;
        const QRectF clip =
            overToFrame.mapRect(QRectF(QPointF(0, 0), QSizeF(over->size()))) & mainClip;
        if (clip.isEmpty()) continue;
        QImage overPixels =
            widgets_.paintsAfresh(over) ? QtWindowPixels::render(over) : QtWindowPixels::grab(over);
        if (overPixels.isNull()) continue;  // not drawn: nothing of it shows
        addLayer(*frame, over, std::move(overPixels), overToFrame, clip,
                 widgets_.isWithinRegistered(over));
    }
    return frame;
}

std::shared_ptr<QtFrame> QtFrameCapture::captureWidget(QWidget* widget, const QRectF& target,
                                                       QSize frameSize) {
    auto frame = std::make_shared<QtFrame>(frameSize);
    if (!widget || widget->width() <= 0 || widget->height() <= 0) {
        frame->outcome().drop("the widget has no size");
        return frame;
    }
    QImage pixels = widget->grab().toImage();
    if (pixels.isNull()) {
        frame->outcome().drop("the widget's pixels could not be taken");
        return frame;
    }
    // Stretched into the rectangle, as a view's drawing is.
    const QTransform toFrame = QTransform::fromScale(target.width() / widget->width(),
                                                     target.height() / widget->height()) *
                               QTransform::fromTranslate(target.left(), target.top());
    const QRectF clip = target & QRectF(QPointF(0, 0), QSizeF(frameSize));
    addLayer(*frame, widget, std::move(pixels), toFrame, clip,
             widgets_.isWithinRegistered(widget->parentWidget()));
    return frame;
}

}  // namespace rivlo
