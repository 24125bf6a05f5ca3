#include "platform/headless/ViewRenderer.h"

#include "platform/ImageView.h"
#include "platform/Label.h"
#include "platform/TextField.h"
#include "platform/View.h"

#include <algorithm>
#include <cmath>
#include <sstream>
#include <vector>

namespace rivlo {

namespace {

constexpr const char* kFontFamily = "DejaVu Sans";

void setColor(cairo_t* cr, const Color& c) {
    cairo_set_source_rgba(cr, c.red, c.green, c.blue, c.alpha);
}

void roundedRect(cairo_t* cr, const Rect& r, double radius) {
    radius = std::min({radius, r.width() / 2, r.height() / 2});
    if (radius <= 0) {
        cairo_rectangle(cr, r.minX(), r.minY(), r.width(), r.height());
        return;
    }
    const double x0 = r.minX(), y0 = r.minY(), x1 = r.maxX(), y1 = r.maxY();
    cairo_new_sub_path(cr);
    cairo_arc(cr, x1 - radius, y0 + radius, radius, -M_PI / 2, 0);
    cairo_arc(cr, x1 - radius, y1 - radius, radius, 0, M_PI / 2);
    cairo_arc(cr, x0 + radius, y1 - radius, radius, M_PI / 2, M_PI);
    cairo_arc(cr, x0 + radius, y0 + radius, radius, M_PI, 3 * M_PI / 2);
    cairo_close_path(cr);
}

void selectFont(cairo_t* cr, double size, bool bold) {
    cairo_select_font_face(cr, kFontFamily, CAIRO_FONT_SLANT_NORMAL,
                           bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, size);
}

double textWidth(cairo_t* cr, const std::string& s) {
    cairo_text_extents_t ext;
    cairo_text_extents(cr, s.c_str(), &ext);
    return ext.x_advance;
}

std::vector<std::string> layoutLines(cairo_t* cr, const std::string& text, double maxWidth,
                                     int maxLines) {
    std::vector<std::string> lines;
    std::istringstream paragraphs(text);
    std::string paragraph;
    while (std::getline(paragraphs, paragraph)) {
        if (maxWidth <= 0) {
            lines.push_back(paragraph);
            continue;
        }
        std::istringstream words(paragraph);
        std::string word, line;
        while (words >> word) {
            const std::string candidate = line.empty() ? word : line + " " + word;
            if (!line.empty() && textWidth(cr, candidate) > maxWidth) {
                lines.push_back(line);
                line = word;
            } else {
                line = candidate;
            }
        }
        lines.push_back(line);
    }
    if (lines.empty()) lines.push_back("");
    if (maxLines > 0 && static_cast<int>(lines.size()) > maxLines)
        lines.resize(static_cast<size_t>(maxLines));
    return lines;
}

void drawText(cairo_t* cr, const std::string& text, const Rect& box, double fontSize, bool bold,
              const Color& color, TextAlignment alignment, int maxLines) {
    if (text.empty()) return;
    cairo_save(cr);
    cairo_rectangle(cr, box.minX(), box.minY(), box.width(), box.height());
    cairo_clip(cr);
    selectFont(cr, fontSize, bold);
    const bool wrap = maxLines != 1;
    auto lines = layoutLines(cr, text, wrap ? box.width() : 0, maxLines);
    cairo_font_extents_t fe;
    cairo_font_extents(cr, &fe);
    const double lineHeight = fe.height;
    const double total = lineHeight * static_cast<double>(lines.size());
    double y = box.minY() + (box.height() - total) / 2 + fe.ascent;  // centred vertically
    setColor(cr, color);
    for (const auto& line : lines) {
        const double w = textWidth(cr, line);
        double x = box.minX();
        if (alignment == TextAlignment::Center) x += (box.width() - w) / 2;
        if (alignment == TextAlignment::Right) x += box.width() - w;
        cairo_move_to(cr, x, y);
        cairo_show_text(cr, line.c_str());
        y += lineHeight;
    }
    cairo_restore(cr);
}

void drawImage(cairo_t* cr, const Image& image, const Rect& box) {
    if (image.isEmpty() || box.isEmpty()) return;
    std::vector<uint8_t> copy = image.bytes();
    cairo_surface_t* s =
        cairo_image_surface_create_for_data(copy.data(), CAIRO_FORMAT_ARGB32, image.width(),
                                            image.height(), static_cast<int>(image.bytesPerRow()));
    if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(s);
        return;
    }
    cairo_save(cr);
    cairo_translate(cr, box.minX(), box.minY());
    cairo_scale(cr, box.width() / image.width(), box.height() / image.height());
    cairo_set_source_surface(cr, s, 0, 0);
    cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
    cairo_rectangle(cr, 0, 0, image.width(), image.height());
    cairo_fill(cr);
    cairo_restore(cr);
    cairo_surface_destroy(s);
}

void drawContent(cairo_t* cr, View& view) {
    const Rect b = view.bounds();
    if (auto* label = dynamic_cast<Label*>(&view)) {
        drawText(cr, label->text(), b, label->fontSize(), label->isBold(), label->textColor(),
                 label->textAlignment(), label->numberOfLines());
    } else if (auto* field = dynamic_cast<TextField*>(&view)) {
        const bool placeholder = field->text().empty();
        Color c = placeholder ? Color{0.7, 0.7, 0.7, 1} : field->textColor();
        Rect inset(b.minX() + 6, b.minY(), std::max(0.0, b.width() - 12), b.height());
        drawText(cr, field->displayText(), inset, field->fontSize(), false, c, TextAlignment::Left,
                 1);
    } else if (auto* imageView = dynamic_cast<ImageView*>(&view)) {
        if (auto img = imageView->image()) drawImage(cr, *img, b);
    }
}

void drawTree(cairo_t* cr, View& view, bool isRoot) {
    if (!isRoot && (view.isHidden() || view.alpha() <= 0)) return;
    cairo_save(cr);
    const bool faded = view.alpha() < 1.0;
    if (faded) cairo_push_group(cr);

    const Rect b = view.bounds();
    if (auto bg = view.backgroundColor(); bg && bg->alpha > 0) {
        roundedRect(cr, b, view.cornerRadius());
        setColor(cr, *bg);
        cairo_fill(cr);
    }
    drawContent(cr, view);

    cairo_save(cr);
    if (view.clipsToBounds()) {
        roundedRect(cr, b, view.cornerRadius());
        cairo_clip(cr);
    }
    for (const auto& sub : view.subviews()) {
        cairo_save(cr);
        // From the subview's bounds space to ours: centre, transform, anchor at its middle.
        const Point c = sub->center();
        const AffineTransform t = sub->transform();
        cairo_matrix_t m;
        cairo_matrix_init(&m, t.a, t.b, t.c, t.d, c.x + t.tx, c.y + t.ty);
        cairo_transform(cr, &m);
        const Rect sb = sub->bounds();
        cairo_translate(cr, -sb.width() / 2 - sb.minX(), -sb.height() / 2 - sb.minY());
        drawTree(cr, *sub, false);
        cairo_restore(cr);
    }
    cairo_restore(cr);

    if (view.borderWidth() > 0) {
        const double w = view.borderWidth();
        Rect inner(b.minX() + w / 2, b.minY() + w / 2, std::max(0.0, b.width() - w),
                   std::max(0.0, b.height() - w));
        roundedRect(cr, inner, std::max(0.0, view.cornerRadius() - w / 2));
        setColor(cr, view.borderColor());
        cairo_set_line_width(cr, w);
        cairo_stroke(cr);
    }

    if (faded) {
        cairo_pop_group_to_source(cr);
        cairo_paint_with_alpha(cr, view.alpha());
    }
    cairo_restore(cr);
}

}  // namespace

void ViewRenderer::draw(cairo_t* cr, View& view) {
    drawTree(cr, view, true);
}

Size ViewRenderer::measureText(cairo_t* cr, const std::string& text, double fontSize, bool bold,
                               double maxWidth, int maxLines) {
    cairo_save(cr);
    selectFont(cr, fontSize, bold);
    auto lines = layoutLines(cr, text, maxWidth, maxLines);
    cairo_font_extents_t fe;
    cairo_font_extents(cr, &fe);
    double w = 0;
    for (const auto& l : lines)
        w = std::max(w, textWidth(cr, l));
    cairo_restore(cr);
    if (maxWidth > 0) w = std::min(w, maxWidth);
    return {std::ceil(w), std::ceil(fe.height * static_cast<double>(lines.size()))};
}

}  // namespace rivlo
