#pragma once

#include "platform/Graphics.h"

#include <cairo.h>

#include <memory>
#include <vector>

namespace rivlo {

// A bitmap context on a Cairo image surface (ARGB32 in native byte order: B, G, R, A on this
// little-endian machine, premultiplied). One thread at a time.
class CairoContext : public GraphicsContext {
  public:
    // Null when the size is empty or too large.
    static std::unique_ptr<CairoContext> create(Size size, bool opaque, double scale);
    ~CairoContext() override;

    Size size() const override { return size_; }
    double scale() const override { return scale_; }
    bool isOpaque() const override { return opaque_; }
    void saveGState() override;
    void restoreGState() override;
    void setInterpolationQuality(InterpolationQuality quality) override;
    InterpolationQuality interpolationQuality() const override { return qualities_.back(); }
    void translate(double dx, double dy) override;
    void scaleBy(double sx, double sy) override;
    void setFillColor(const Color& color) override;
    void fillRect(const Rect& rect) override;
    void drawImage(const Image& image, const Rect& rect) override;
    bool drawViewHierarchy(View& view, const Rect& rect, bool afterScreenUpdates) override;
    void renderLayer(View& view) override;
    Image makeImage() const override;

    cairo_t* cairo() const { return cr_; }

  private:
    CairoContext(cairo_surface_t* surface, Size size, bool opaque, double scale);
    cairo_surface_t* surface_;
    cairo_t* cr_;
    Size size_;
    bool opaque_;
    double scale_;
    Color fill_ = Color::black();
    std::vector<InterpolationQuality> qualities_{InterpolationQuality::Default};
    std::vector<Color> fills_;
};

// Graphics of the headless device.
class CairoGraphics : public Graphics {
  public:
    explicit CairoGraphics(double screenScale) : screenScale_(screenScale) {}
    std::unique_ptr<GraphicsContext> makeBitmapContext(Size size, bool opaque,
                                                       double scale) override;
    Size textSize(const std::string& text, double fontSize, Size constraint) override;

  private:
    double screenScale_;
};

}  // namespace rivlo
