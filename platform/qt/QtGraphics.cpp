#include "platform/qt/QtGraphics.h"

#include "foundation/Log.h"
#include "foundation/RunLoop.h"
#include "platform/View.h"
#include "platform/Window.h"
#include "platform/qt/QtFrameCapture.h"
#include "platform/qt/QtFrameSource.h"
#include "platform/qt/QtShadowTree.h"
#include "platform/qt/QtViewPainter.h"
#include "platform/qt/QtWebEngine.h"
#include "platform/qt/QtWebViewProxy.h"
#include "platform/qt/QtWidgetMasks.h"

#include <QCoreApplication>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QScreen>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace rivlo {

namespace {
constexpr int kMaxPixels = 16384;
// How long the main thread waits at most for a frame to let the windows' pixels go.
constexpr double kReleaseWait = 0.02;

// A web view's page address for the log ("" without the web view module).
std::string pageAddress(QObject* web, const QtWebViewHost& host) {
    QtWebEngine* engine = host.engine();
    return engine ? engine->url(web).toString().toStdString() : std::string();
}
}  // namespace

std::unique_ptr<GraphicsContext> QtGraphics::makeBitmapContext(Size size, bool opaque,
                                                               double scale) {
    if (scale <= 0) {
        const QScreen* screen = QGuiApplication::primaryScreen();
        scale = screen ? screen->devicePixelRatio() : 1.0;
    }
    if (!std::isfinite(size.width) || !std::isfinite(size.height) || !std::isfinite(scale) ||
        size.width <= 0 || size.height <= 0) {
        return nullptr;
    }
    const double w = std::ceil(size.width * scale);
    const double h = std::ceil(size.height * scale);
    if (w < 1 || h < 1 || w > kMaxPixels || h > kMaxPixels) {
        RVLog("QtGraphics: no bitmap of %g x %g pixels", w, h);
        return nullptr;
    }
    return std::make_unique<QtGraphicsContext>(*this, size, static_cast<int>(w),
                                               static_cast<int>(h), scale, opaque);
}

QtFrameSource* QtGraphics::frameSourceFor(const View& window) const {
    for (QtFrameSource* source : sources_) {
        if (source->draws(window)) return source;
    }
    return nullptr;
}

Size QtGraphics::textSize(const std::string& text, double fontSize, Size constraint) {
    QFont font;
    font.setPointSizeF(fontSize > 0 ? fontSize * 0.75 : 12.75);
    const QFontMetricsF metrics(font);
    const double width = constraint.width > 0 ? constraint.width : 1e6;
    const double height = constraint.height > 0 ? constraint.height : 1e6;
    const QRectF r = metrics.boundingRect(QRectF(0, 0, width, height), Qt::TextWordWrap,
                                          QString::fromStdString(text));
    return Size{std::ceil(std::min(r.width(), width)), std::ceil(std::min(r.height(), height))};
}

QtGraphicsContext::QtGraphicsContext(const QtGraphics& graphics, Size size, int pixelWidth,
                                     int pixelHeight, double scale, bool opaque)
    : graphics_(graphics),
      size_(size),
      scale_(scale),
      opaque_(opaque),
      image_(pixelWidth, pixelHeight, QImage::Format_ARGB32_Premultiplied) {
    // A fresh opaque bitmap is black, a transparent one clear.
    image_.fill(opaque ? Qt::black : Qt::transparent);
    painter_.begin(&image_);
    painter_.scale(scale, scale);
}

QtGraphicsContext::~QtGraphicsContext() {
    painter_.end();
}

void QtGraphicsContext::setInterpolationQuality(InterpolationQuality quality) {
    quality_ = quality;
    painter_.setRenderHint(
        QPainter::SmoothPixmapTransform,
        quality != InterpolationQuality::None && quality != InterpolationQuality::Low);
}

void QtGraphicsContext::setFillColor(const Color& c) {
    fill_ = QColor::fromRgbF(static_cast<float>(c.red), static_cast<float>(c.green),
                             static_cast<float>(c.blue), static_cast<float>(c.alpha));
}

bool QtGraphicsContext::coversWholeImage(const QRectF& rect) const {
    const QTransform& t = painter_.transform();
    if (t.type() > QTransform::TxScale) return false;
    const QRectF device = t.mapRect(rect);
    return device.left() <= 0 && device.top() <= 0 && device.right() >= image_.width() &&
           device.bottom() >= image_.height();
}

QImage QtGraphicsContext::renderFrame(QColor background, bool mayWait,
                                      std::vector<uint8_t>* bytes) const {
    std::shared_ptr<QtFrame> frame = std::move(frame_);
    frame_.reset();
    if (frame) frame->finish(!RunLoop::isMainThread());
    if (!frame || frame->dropped()) {
        if (frame) RVLog("QtGraphics: frame dropped: %s", frame->outcome().reason().c_str());
        return QImage();
    }
    const int w = image_.width();
    const int h = image_.height();
    QImage out;
    if (bytes) {
        // Drawn straight into the bytes handed over.
        bytes->resize(static_cast<size_t>(w) * static_cast<size_t>(h) * 4);
        out = QImage(bytes->data(), w, h, w * 4, QImage::Format_ARGB32_Premultiplied);
    } else {
        out = QImage(w, h, QImage::Format_ARGB32_Premultiplied);
    }
    // Under a window drawn point for pixel over all of it there is nothing to clear.
    if (!frame->coversWholeFrame()) out.fill(background);
    frame->render(out, mayWait);
    for (const auto& [area, color] : frameFills_) {
        const QRect r = area & out.rect();
        for (int y = r.top(); y <= r.bottom(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
            std::fill(line + r.left(), line + r.right() + 1, color);
        }
    }
    frameFills_.clear();
    return out;
}

void QtGraphicsContext::settle() {
    if (frameGiven_) {
        frameGiven_ = false;
        RVLog("QtGraphics: drawing on after the frame's image was made; the frame starts %s",
              opaque_ ? "black" : "clear");
        image_.fill(opaque_ ? Qt::black : Qt::transparent);
    }
    if (frame_) {
        const QImage rendered = renderFrame(frameBackground_, false, nullptr);
        if (rendered.isNull()) {
            incomplete_ = true;  // what was drawn cannot be shown: nothing of it is
        } else {
            painter_.save();
            painter_.resetTransform();
            painter_.setCompositionMode(QPainter::CompositionMode_Source);
            painter_.drawImage(0, 0, rendered);
            painter_.restore();
        }
        pendingFill_.reset();
    }
    if (pendingFill_) {
        const QColor color = *pendingFill_;
        pendingFill_.reset();
        painter_.save();
        painter_.resetTransform();
        painter_.setCompositionMode(QPainter::CompositionMode_Source);
        painter_.fillRect(image_.rect(), color);
        painter_.restore();
    }
}

void QtGraphicsContext::fillRect(const Rect& r) {
    const QRectF rect(r.minX(), r.minY(), r.width(), r.height());
    if (fill_.alpha() == 255 && coversWholeImage(rect)) {
        // Replaces whatever was there.
        pendingFill_ = fill_;
        frame_.reset();
        frameFills_.clear();
        frameGiven_ = false;
        incomplete_ = false;
        return;
    }
    if (frame_ && fill_.alpha() == 255 && painter_.transform().type() <= QTransform::TxScale) {
        // An opaque area over the frame, on whole pixels: noted, put in after the frame.
        const QRectF device = painter_.transform().mapRect(rect);
        const QRectF snapped(std::round(device.left()), std::round(device.top()),
                             std::round(device.right()) - std::round(device.left()),
                             std::round(device.bottom()) - std::round(device.top()));
        if (std::abs(device.left() - snapped.left()) < 1e-6 &&
            std::abs(device.top() - snapped.top()) < 1e-6 &&
            std::abs(device.width() - snapped.width()) < 1e-6 &&
            std::abs(device.height() - snapped.height()) < 1e-6) {
            const QRect area = snapped.toRect() & image_.rect();
            if (!area.isEmpty()) frameFills_.emplace_back(area, fill_.rgba());
            return;
        }
    }
    settle();
    painter_.fillRect(rect, fill_);
}

void QtGraphicsContext::drawImage(const Image& image, const Rect& r) {
    if (image.isEmpty()) return;
    settle();
    const QImage source(image.bytes().data(), image.width(), image.height(),
                        static_cast<qsizetype>(image.bytesPerRow()),
                        QImage::Format_ARGB32_Premultiplied);
    painter_.drawImage(QRectF(r.minX(), r.minY(), r.width(), r.height()), source);
}

bool QtGraphicsContext::drawViewHierarchy(View& view, const Rect& rect, bool) {
    if (!RunLoop::isMainThread()) {
        RVLog("QtGraphics: views are drawn on the main thread only");
        return false;
    }
    graphics_.beforeDrawing();
    QtShadowTree* tree = graphics_.tree();
    QtFrameCapture* capture = graphics_.capture();
    const QRectF target =
        painter_.transform().mapRect(QRectF(rect.minX(), rect.minY(), rect.width(), rect.height()));
    QWidget* topLevel = tree ? tree->topLevelForWindow(&view) : nullptr;
    QWidget* widget = topLevel ? nullptr : (tree ? tree->widgetForView(&view) : nullptr);
    QtFrameSource* source = topLevel || widget ? nullptr : graphics_.frameSourceFor(view);
    if (((topLevel || widget) && capture) || source) {
        std::shared_ptr<QtFrame> frame =
            source     ? source->capture(view, target, image_.size())
            : topLevel ? capture->capture(topLevel, target, image_.size())
                       : capture->captureWidget(widget, target, image_.size());
        if (frame->dropped()) {
            RVLog("QtGraphics: frame dropped: %s", frame->outcome().reason().c_str());
            incomplete_ = true;
            return true;  // drawn as far as it may be: not at all
        }
        // The frame over what is there: put off while that is a whole fill (the recorder's
        // frame), drawn now otherwise.
        if (!frame_ && !frameGiven_ && pendingFill_) {
            frameBackground_ = *pendingFill_;
            pendingFill_.reset();
            // The image is made on another thread (the recorder's frame thread). Until it has
            // let the windows' pixels go, a window painting would copy its whole buffer on the
            // main thread: back in its event loop, before any repaint (those come at low
            // priority), the main thread waits a moment for that, then copies them itself.
            // Another bridge's frames own their pixels or see to them themselves (a Qt Quick
            // window's picture shared with the frame is waited for before the window paints).
            if (!source) {
                std::weak_ptr<QtFrame> weak = frame;
                QMetaObject::invokeMethod(
                    QCoreApplication::instance(),
                    [weak] {
                        if (auto f = weak.lock()) f->awaitPixelsLetGo(kReleaseWait);
                    },
                    Qt::QueuedConnection);
            }
            frame_ = std::move(frame);
            frameFills_.clear();
            return true;
        }
        settle();
        frame_ = std::move(frame);
        const QImage rendered = renderFrame(Qt::transparent, false, nullptr);
        if (rendered.isNull()) {
            incomplete_ = true;
            return true;
        }
        painter_.save();
        painter_.resetTransform();
        painter_.drawImage(0, 0, rendered);
        painter_.restore();
        return true;
    }
    if (topLevel || widget) {
        RVLog("QtGraphics: no frame capture; a widget is not drawn without its masks");
        incomplete_ = true;
        return true;
    }
    settle();
    // A view tree of the library's own, stretched into the rectangle.
    const Rect b = view.bounds();
    if (b.width() <= 0 || b.height() <= 0) return false;
    painter_.save();
    painter_.translate(rect.minX(), rect.minY());
    painter_.scale(rect.width() / b.width(), rect.height() / b.height());
    painter_.translate(-b.minX(), -b.minY());
    paintLibraryViewTree(painter_, view);
    painter_.restore();
    return true;
}

void QtGraphicsContext::renderLayer(View& view) {
    if (!RunLoop::isMainThread()) {
        RVLog("QtGraphics: views are drawn on the main thread only");
        return;
    }
    QtShadowTree* tree = graphics_.tree();
    QtFrameCapture* capture = graphics_.capture();
    if (QtWebViewProxy* proxy = capture ? capture->web().proxyOf(view) : nullptr) {
        settle();
        renderWebContent(*proxy);
        return;
    }
    if ((tree && (tree->topLevelForWindow(&view) || tree->widgetForView(&view))) ||
        graphics_.frameSourceFor(view)) {
        // The same pixels and masks as its drawing, in its own size at the origin.
        const Rect b = view.bounds();
        drawViewHierarchy(view, Rect(0, 0, b.width(), b.height()), false);
        return;
    }
    settle();
    paintLibraryViewTree(painter_, view);
}

void QtGraphicsContext::renderWebContent(QtWebViewProxy& proxy) {
    QObject* web = proxy.webView();
    std::shared_ptr<QtWebViewHost> host = proxy.host();
    QtFrameCapture* capture = graphics_.capture();
    if (!web || !host || !capture) {
        incomplete_ = true;
        return;
    }
    if (host->isWithinRegistered(web)) {
        // A registered web view, or one inside a registered widget or item: no picture of it
        // leaves.
        RVLog("QtGraphics: web view %s is painted over; none of its page is captured",
              pageAddress(web, *host).c_str());
        incomplete_ = true;
        return;
    }
    proxy.follow();
    // The part of the page this context covers (page coordinates), and the part the web view
    // shows now. Only what is on the screen can be copied.
    const QRectF wanted =
        painter_.transform().inverted().mapRect(QRectF(0, 0, image_.width(), image_.height()));
    const Point offset = proxy.scrollView()->contentOffset();
    const QSize size = host->size(web);
    const QRectF visible(offset.x, offset.y, size.width(), size.height());
    // Half a point of slack for rounding of the scroll position.
    if (!visible.adjusted(-0.5, -0.5, 0.5, 0.5).contains(wanted)) {
        RVLog(
            "QtGraphics: web page area (%.0f, %.0f, %.0f x %.0f) is not wholly on the screen "
            "(showing %.0f, %.0f, %.0f x %.0f); it is captured when it is",
            wanted.x(), wanted.y(), wanted.width(), wanted.height(), visible.x(), visible.y(),
            visible.width(), visible.height());
        incomplete_ = true;
        return;
    }
    // The checked picture of what the view shows, masks painted over.
    const QImage pixels = capture->web().shown(web);
    if (pixels.isNull()) {
        RVLog(
            "QtGraphics: web page %s is being checked for areas to paint over; it is captured "
            "at a later touch",
            pageAddress(web, *host).c_str());
        incomplete_ = true;
        return;
    }
    painter_.drawImage(visible, pixels);
}

Image QtGraphicsContext::makeImage() const {
    if (incomplete_) {
        incomplete_ = false;
        frame_.reset();
        frameFills_.clear();
        return Image();
    }
    const size_t row = static_cast<size_t>(image_.width()) * 4;
    const size_t total = row * static_cast<size_t>(image_.height());
    if (frame_) {
        // The frame, rendered once straight into the image handed over. Pages of web views in
        // it are waited for here unless this is the main thread (their answers come there).
        std::vector<uint8_t> bytes;
        const QImage out = renderFrame(frameBackground_, !RunLoop::isMainThread(), &bytes);
        if (out.isNull()) return Image();
        frameGiven_ = true;
        return Image(image_.width(), image_.height(), scale_, std::move(bytes));
    }
    if (frameGiven_) {
        // Made again without drawing: the frame was handed over whole; as a fresh context.
        RVLog("QtGraphics: the frame's image was made already; this one starts %s",
              opaque_ ? "black" : "clear");
        std::vector<uint8_t> bytes(total);
        if (opaque_) {
            for (size_t i = 3; i < total; i += 4)
                bytes[i] = 255;
        }
        return Image(image_.width(), image_.height(), scale_, std::move(bytes));
    }
    if (pendingFill_) {
        // The whole bitmap is one colour: B, G, R, A (opaque, so premultiplied as it is).
        std::vector<uint8_t> bytes(total);
        const QRgb c = pendingFill_->rgba();
        const uint8_t pixel[4] = {static_cast<uint8_t>(qBlue(c)), static_cast<uint8_t>(qGreen(c)),
                                  static_cast<uint8_t>(qRed(c)), 255};
        for (size_t i = 0; i < total; i += 4)
            std::memcpy(bytes.data() + i, pixel, 4);
        return Image(image_.width(), image_.height(), scale_, std::move(bytes));
    }
    // 32-bit rows have no padding: one copy of the whole block, without clearing it first.
    if (static_cast<size_t>(image_.bytesPerLine()) == row) {
        const uint8_t* first = image_.constBits();
        return Image(image_.width(), image_.height(), scale_,
                     std::vector<uint8_t>(first, first + total));
    }
    std::vector<uint8_t> bytes(total);
    for (int y = 0; y < image_.height(); ++y)
        std::memcpy(bytes.data() + row * y, image_.constScanLine(y), row);
    return Image(image_.width(), image_.height(), scale_, std::move(bytes));
}

}  // namespace rivlo
