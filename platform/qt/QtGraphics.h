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

class QtShadowTree;

// Bitmap contexts over QImage (premultiplied ARGB32: B, G, R, A bytes in memory) drawn with
// QPainter. Views of the shadow tree are drawn from their widgets' pixels: a window from its
// backing store or by painting it (QtWindowPixels), a proxy view by rendering its widget, a web
// page's content view from the part of the page its web view shows now. The library's own
// views are painted from their properties. Contexts may be used on any thread one at a time;
// views are drawn on the main thread only.
class QtGraphics : public Graphics {
  public:
    explicit QtGraphics(QtShadowTree* tree) : tree_(tree) {}
    std::unique_ptr<GraphicsContext> makeBitmapContext(Size size, bool opaque,
                                                       double scale) override;
    Size textSize(const std::string& text, double fontSize, Size constraint) override;

    QtShadowTree* tree() const { return tree_; }
    // Called (main thread) before a window is drawn: the bridge brings the tree up to date.
    void setBeforeDrawing(std::function<void()> hook) { beforeDrawing_ = std::move(hook); }
    void beforeDrawing() const {
        if (beforeDrawing_) beforeDrawing_();
    }

  private:
    QtShadowTree* tree_;
    std::function<void()> beforeDrawing_;
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
    void renderWebContent(View& contentView);
    // Whether `rect` (user space) covers every pixel under a transform without rotation.
    bool coversWholeImage(const QRectF& rect) const;
    // Puts into the bitmap what was put off (a whole fill, a window picture and the areas
    // painted over it), before painting anything else.
    void settle();
    // Takes an opaque window picture of exactly the bitmap's size as the whole frame.
    bool takeWholeFrame(const QImage& pixels, const QRectF& target, bool windowOpaque);

    const QtGraphics& graphics_;
    Size size_;
    double scale_;
    bool opaque_;
    InterpolationQuality quality_ = InterpolationQuality::Default;
    QColor fill_ = Qt::black;
    QImage image_;
    QPainter painter_;
    mutable bool incomplete_ = false;
    // A screen recorder's frame is a fill of the whole bitmap, the window's picture over all of
    // it, a few opaque areas over that (sensitive views), then the image. Copying the picture
    // into the bitmap and the bitmap into the image would move every pixel twice on the main
    // thread: instead the fill is put off, the picture is held (Qt shares it, nothing is
    // copied) with the areas painted over it, and makeImage() copies the picture once, straight
    // into the image, and lets it go (so that the window's next paint does not copy its
    // buffer). Any other drawing first puts all of it into the bitmap (settle()).
    std::optional<QColor> pendingFill_;
    mutable QImage base_;
    mutable std::vector<std::pair<QRect, QRgb>> baseFills_;
    // makeImage() let the picture go: what the bitmap held is gone (a later frame starts with a
    // whole fill, so this is only seen by a caller drawing on after making its image).
    mutable bool baseGiven_ = false;
};

}  // namespace rivlo
