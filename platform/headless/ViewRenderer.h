#pragma once

#include <cairo.h>

#include <string>

namespace rivlo {

class View;
struct Size;

// Draws view trees with Cairo: background colours, rounded corners, borders, clipping, alpha,
// text of labels and text fields (DejaVu Sans), images, transforms. The Cairo context's user
// space must be the view's bounds space (points). Main thread (views are main-thread objects).
class ViewRenderer {
  public:
    // Draws the view and its subviews. The root is drawn even when hidden (hidden subviews are
    // skipped), as rendering a layer does.
    static void draw(cairo_t* cr, View& view);
    // Text layout shared with the graphics' text measurement: lines broken at spaces to fit
    // `maxWidth` (no breaking when maxWidth <= 0).
    static Size measureText(cairo_t* cr, const std::string& text, double fontSize, bool bold,
                            double maxWidth, int maxLines);
};

}  // namespace rivlo
