#pragma once

#include "platform/Graphics.h"

#include <QImage>
#include <QPainter>

#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace rivlo {

class QtFrame;
class QtFrameCapture;
class QtFrameSource;
class QtShadowTree;
class QtWebViewProxy;

// Bitmap contexts over QImage (premultiplied ARGB32: B, G, R, A bytes in memory) drawn with
// QPainter. Views of the shadow tree are drawn from their widgets' pixels, never without their
// masks: a window as the frame the person saw (QtFrameCapture: the window, the dialogs and
// popups over it, scaled uniformly into the rectangle, masks worked out as the pixels are
// taken), a proxy view from its widget with the masks inside it, a web page's content view from
// the checked picture of what its web view shows; a window another bridge shows (Qt Quick)
// from that bridge's frames (QtFrameSource). A frame whose masks cannot be worked out
// leaves the context's image empty, and nothing is drawn from it. The library's own views are
// painted from their properties. Contexts may be used on any thread one at a time; views are
// drawn on the main thread only.
class QtGraphics : public Graphics {
  public:
    QtGraphics(QtShadowTree* tree, QtFrameCapture* capture) : tree_(tree), capture_(capture) {}
    std::unique_ptr<GraphicsContext> makeBitmapContext(Size size, bool opaque,
                                                       double scale) override;
    Size textSize(const std::string& text, double fontSize, Size constraint) override;

    QtShadowTree* tree() const { return tree_; }
    QtFrameCapture* capture() const { return capture_; }
    // Called (main thread) before a window is drawn: the bridge brings the tree up to date.
    void setBeforeDrawing(std::function<void()> hook) { beforeDrawing_ = std::move(hook); }
    void beforeDrawing() const {
        if (beforeDrawing_) beforeDrawing_();
    }
    // Windows another bridge shows (Qt Quick) are drawn from its frames. The source outlives the
    // graphics (bridges live for the process).
    void addFrameSource(QtFrameSource* source) { sources_.push_back(source); }
    // The source that draws this window's view, or null.
    QtFrameSource* frameSourceFor(const View& window) const;

  private:
    QtShadowTree* tree_;
    QtFrameCapture* capture_;
    std::function<void()> beforeDrawing_;
    std::vector<QtFrameSource*> sources_;
};

class QtGraphicsContext : public GraphicsContext {
  public:
    QtGraphicsContext(const QtGraphics& graphics, Size size, int pixelWidth, int pixelHeight,
                      double scale, bool opaque);
    ~QtGraphicsContext() override;

    Size size() const override { return size_; }
    double scale() const override { return scale_; }
    bool isOpaque() const override { return opaque_; }
    void saveGState() override { painter_.save(); }
    void restoreGState() override { painter_.restore(); }
    void setInterpolationQuality(InterpolationQuality quality) override;
    InterpolationQuality interpolationQuality() const override { return quality_; }
    void translate(double dx, double dy) override { painter_.translate(dx, dy); }
    void scaleBy(double sx, double sy) override { painter_.scale(sx, sy); }
    void setFillColor(const Color& color) override;
    void fillRect(const Rect& rect) override;
    void drawImage(const Image& image, const Rect& rect) override;
    bool drawViewHierarchy(View& view, const Rect& rect, bool afterScreenUpdates) override;
    void renderLayer(View& view) override;
    // The pixels now in the context; an empty image when a web page part asked for was not
    // on the screen to be copied (the caller then leaves that part for later).
    Image makeImage() const override;

  private:
    void renderWebContent(QtWebViewProxy& proxy);
    // Whether `rect` (user space) covers every pixel under a transform without rotation.
    bool coversWholeImage(const QRectF& rect) const;
    // Puts into the bitmap what was put off (a whole fill, a frame and the areas filled over
    // it), before painting anything else.
    void settle();
    // The frame rendered into a fresh image of the bitmap's size over `background`; null when
    // the frame was dropped.
    QImage renderFrame(QColor background, bool mayWait, std::vector<uint8_t>* bytes) const;

    const QtGraphics& graphics_;
    Size size_;
    double scale_;
    bool opaque_;
    InterpolationQuality quality_ = InterpolationQuality::Default;
    QColor fill_ = Qt::black;
    QImage image_;
    QPainter painter_;
    mutable bool incomplete_ = false;
    // A screen recorder's frame is a fill of the whole bitmap, the frame drawn over all of it,
    // perhaps a few opaque areas over that, then the image. The fill and the frame are put off:
    // makeImage() renders the frame once, straight into the image handed over (on the thread
    // that asks for it: the recorder's frame thread, off the main thread), and lets the
    // windows' pixels go. Any other drawing first puts all of it into the bitmap (settle()).
    std::optional<QColor> pendingFill_;
    mutable std::shared_ptr<QtFrame> frame_;
    mutable QColor frameBackground_ = Qt::black;
    mutable std::vector<std::pair<QRect, QRgb>> frameFills_;
    // makeImage() handed the frame over: what the bitmap held is gone (a later frame starts with
    // a whole fill, so this is only seen by a caller drawing on after making its image).
    mutable bool frameGiven_ = false;
};

}  // namespace rivlo
