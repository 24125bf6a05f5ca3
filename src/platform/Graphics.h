#pragma once

#include "platform/Geometry.h"
#include "platform/Image.h"

#include <memory>
#include <string>

namespace rivlo {

class View;

enum class InterpolationQuality { Default = 0, None = 1, Low = 2, High = 3, Medium = 4 };

// An offscreen bitmap context: 32-bit BGRA pixels, rows of 4 x pixel width bytes. Drawing
// coordinates are points with the origin at the top left; a context of scale s has s x s
// pixels per point. One thread at a time; views may only be drawn on the main thread (or
// while the main thread waits for the caller).
class GraphicsContext {
  public:
    virtual ~GraphicsContext() = default;

    virtual Size size() const = 0;  // points
    virtual double scale() const = 0;
    virtual bool isOpaque() const = 0;

    virtual void saveGState() = 0;
    virtual void restoreGState() = 0;
    virtual void setInterpolationQuality(InterpolationQuality quality) = 0;
    virtual InterpolationQuality interpolationQuality() const = 0;
    virtual void translate(double dx, double dy) = 0;
    virtual void scaleBy(double sx, double sy) = 0;

    virtual void setFillColor(const Color& color) = 0;
    virtual void fillRect(const Rect& rect) = 0;
    virtual void drawImage(const Image& image, const Rect& rect) = 0;

    // Draws the view's hierarchy (as the screen shows it) stretched into the rectangle.
    // Answers false when it could not draw.
    virtual bool drawViewHierarchy(View& view, const Rect& rect, bool afterScreenUpdates) = 0;
    // Renders the view's layer tree at the context's origin, in the view's own size.
    virtual void renderLayer(View& view) = 0;

    // A snapshot of the pixels now in the context.
    virtual Image makeImage() const = 0;
};

// Creates bitmap contexts and measures text. Any thread.
class Graphics {
  public:
    virtual ~Graphics() = default;
    // A scale of 0 means the main screen's scale. Null for an empty or absurd size.
    virtual std::unique_ptr<GraphicsContext> makeBitmapContext(Size size, bool opaque,
                                                               double scale) = 0;
    // The size of the text set in the system font of that size, wrapped within the width of
    // the constraint and cut at its height.
    virtual Size textSize(const std::string& text, double fontSize, Size constraint) = 0;
};

}  // namespace rivlo
