#include "HeatMapPainter.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace rivlo::collector {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Blue, cyan, green, yellow, red over 0...1.
void heatColour(double t, double& r, double& g, double& b) {
    t = std::clamp(t, 0.0, 1.0);
    const double stops[5][3] = {
        {0.1, 0.2, 1.0}, {0.0, 0.9, 1.0}, {0.1, 0.9, 0.2}, {1.0, 0.9, 0.0}, {1.0, 0.1, 0.0}};
    const double x = t * 4;
    const int i = std::min(3, static_cast<int>(x));
    const double f = x - i;
    r = stops[i][0] + (stops[i + 1][0] - stops[i][0]) * f;
    g = stops[i][1] + (stops[i + 1][1] - stops[i][1]) * f;
    b = stops[i][2] + (stops[i + 1][2] - stops[i][2]) * f;
}

void arrow(cairo_t* cr, double x, double y, double dx, double dy) {
    const double len = 56;
    const double tx = x + dx * len, ty = y + dy * len;
    cairo_move_to(cr, x, y);
    cairo_line_to(cr, tx, ty);
    cairo_stroke(cr);
    const double angle = std::atan2(dy, dx);
    cairo_move_to(cr, tx, ty);
    cairo_line_to(cr, tx - 12 * std::cos(angle - 0.45), ty - 12 * std::sin(angle - 0.45));
    cairo_line_to(cr, tx - 12 * std::cos(angle + 0.45), ty - 12 * std::sin(angle + 0.45));
    cairo_close_path(cr);
    cairo_fill(cr);
}

cairo_status_t appendBytes(void* closure, const unsigned char* data, unsigned int length) {
    static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
    return CAIRO_STATUS_SUCCESS;
}

}  // namespace

HeatMapPainter::HeatMapPainter(int width, int height)
    : width_(std::max(1, width)), height_(std::max(1, height)) {
    surface_ = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width_, height_ + kLegendHeight);
    cr_ = cairo_create(surface_);
    cairo_set_source_rgb(cr_, 0, 0, 0);
    cairo_paint(cr_);
}

HeatMapPainter::~HeatMapPainter() {
    cairo_destroy(cr_);
    cairo_surface_destroy(surface_);
}

bool HeatMapPainter::ok() const {
    return cairo_surface_status(surface_) == CAIRO_STATUS_SUCCESS &&
           cairo_status(cr_) == CAIRO_STATUS_SUCCESS;
}

void HeatMapPainter::place(const uint8_t* rgb, int w, int h, int x0, int y0) {
    if (!ok()) return;
    cairo_surface_flush(surface_);
    uint8_t* data = cairo_image_surface_get_data(surface_);
    const int stride = cairo_image_surface_get_stride(surface_);
    for (int y = 0; y < h; ++y) {
        if (y + y0 < 0 || y + y0 >= height_) continue;
        auto* row = reinterpret_cast<uint32_t*>(data + static_cast<size_t>(y + y0) * stride);
        for (int x = 0; x < w; ++x) {
            if (x + x0 < 0 || x + x0 >= width_) continue;
            const uint8_t* p = rgb + (static_cast<size_t>(y) * w + x) * 3;
            row[x + x0] = (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
        }
    }
    cairo_surface_mark_dirty(surface_);
}

void HeatMapPainter::hatch() {
    cairo_set_source_rgb(cr_, 0.86, 0.86, 0.88);
    cairo_rectangle(cr_, 0, 0, width_, height_);
    cairo_fill(cr_);
    cairo_set_source_rgb(cr_, 0.78, 0.78, 0.8);
    cairo_set_line_width(cr_, 2);
    for (int d = -height_; d < width_; d += 24) {
        cairo_move_to(cr_, d, 0);
        cairo_line_to(cr_, d + height_, height_);
    }
    cairo_stroke(cr_);
}

void HeatMapPainter::dim(double alpha) {
    cairo_set_source_rgba(cr_, 0, 0, 0, alpha);
    cairo_rectangle(cr_, 0, 0, width_, height_);
    cairo_fill(cr_);
}

void HeatMapPainter::density(const std::vector<HeatMark>& marks) {
    if (marks.empty() || !ok()) return;
    constexpr int kCell = 4;
    const int gw = (width_ + kCell - 1) / kCell, gh = (height_ + kCell - 1) / kCell;
    std::vector<double> grid(static_cast<size_t>(gw) * gh, 0.0);
    const double sigma = 22.0 / kCell;
    const int reach = static_cast<int>(std::ceil(3 * sigma));
    // The kernel once, added at each point times its count.
    std::vector<double> kernel(static_cast<size_t>(2 * reach + 1) * (2 * reach + 1), 0.0);
    for (int y = -reach; y <= reach; ++y) {
        for (int x = -reach; x <= reach; ++x) {
            const double d2 = x * x + y * y;
            if (d2 <= reach * reach) {
                kernel[static_cast<size_t>(y + reach) * (2 * reach + 1) + (x + reach)] =
                    std::exp(-d2 / (2 * sigma * sigma));
            }
        }
    }
    for (const HeatMark& m : marks) {
        if (!std::isfinite(m.x) || !std::isfinite(m.y)) continue;
        const int cx = static_cast<int>(std::floor(m.x / kCell));
        const int cy = static_cast<int>(std::floor(m.y / kCell));
        if (cx < -reach || cy < -reach || cx >= gw + reach || cy >= gh + reach) continue;
        const double weight = static_cast<double>(std::max<int64_t>(1, m.count));
        for (int y = std::max(0, cy - reach); y < std::min(gh, cy + reach + 1); ++y) {
            const double* k = &kernel[static_cast<size_t>(y - cy + reach) * (2 * reach + 1)];
            double* row = &grid[static_cast<size_t>(y) * gw];
            for (int x = std::max(0, cx - reach); x < std::min(gw, cx + reach + 1); ++x)
                row[x] += k[x - cx + reach] * weight;
        }
    }
    const double peak = *std::max_element(grid.begin(), grid.end());
    if (peak <= 0) return;
    cairo_surface_t* layer = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, gw, gh);
    cairo_surface_flush(layer);
    uint8_t* data = cairo_image_surface_get_data(layer);
    const int stride = cairo_image_surface_get_stride(layer);
    for (int y = 0; y < gh; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(data + static_cast<size_t>(y) * stride);
        for (int x = 0; x < gw; ++x) {
            const double t = grid[static_cast<size_t>(y) * gw + x] / peak;
            if (t < 0.04) {
                row[x] = 0;
                continue;
            }
            double r, g, b;
            heatColour(t, r, g, b);
            const double a = 0.25 + 0.45 * t;  // premultiplied below
            row[x] = (static_cast<uint32_t>(a * 255) << 24) |
                     (static_cast<uint32_t>(r * a * 255) << 16) |
                     (static_cast<uint32_t>(g * a * 255) << 8) | static_cast<uint32_t>(b * a * 255);
        }
    }
    cairo_surface_mark_dirty(layer);
    cairo_save(cr_);
    cairo_rectangle(cr_, 0, 0, width_, height_);
    cairo_clip(cr_);
    cairo_scale(cr_, kCell, kCell);
    cairo_set_source_surface(cr_, layer, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr_), CAIRO_FILTER_BILINEAR);
    cairo_paint(cr_);
    cairo_restore(cr_);
    cairo_surface_destroy(layer);
}

void HeatMapPainter::marks(const std::vector<HeatMark>& marks) {
    cairo_save(cr_);
    cairo_rectangle(cr_, 0, 0, width_, height_);
    cairo_clip(cr_);
    cairo_set_line_width(cr_, 3);
    for (const HeatMark& m : marks) {
        const double x = m.x, y = m.y;
        switch (m.code) {
            case 0:
                cairo_arc(cr_, x, y, 7, 0, 2 * kPi);
                cairo_set_source_rgb(cr_, 1, 1, 1);
                cairo_fill_preserve(cr_);
                cairo_set_source_rgb(cr_, 0.85, 0.1, 0.1);
                cairo_stroke(cr_);
                break;
            case 1:
                cairo_set_source_rgb(cr_, 1, 0.55, 0);
                cairo_arc(cr_, x, y, 9, 0, 2 * kPi);
                cairo_stroke(cr_);
                cairo_arc(cr_, x, y, 15, 0, 2 * kPi);
                cairo_stroke(cr_);
                break;
            case 2:
            case 3:
            case 4:
            case 5: {
                static const double dirs[4][2] = {{0, -1}, {0, 1}, {-1, 0}, {1, 0}};
                cairo_set_source_rgb(cr_, 0.1, 0.75, 0.95);
                arrow(cr_, x, y, dirs[m.code - 2][0], dirs[m.code - 2][1]);
                break;
            }
            case 7:
            case 8: {
                cairo_set_source_rgb(cr_, 0.65, 0.2, 0.9);
                if (m.code == 8) {
                    const double dash[] = {6, 4};
                    cairo_set_dash(cr_, dash, 2, 0);
                }
                cairo_arc(cr_, x, y, 26, 0, 2 * kPi);
                cairo_stroke(cr_);
                cairo_set_dash(cr_, nullptr, 0, 0);
                for (int k = 0; k < 4; ++k) {  // outwards or inwards ticks
                    const double a = kPi / 4 + k * kPi / 2;
                    const double r0 = m.code == 7 ? 28 : 40, r1 = m.code == 7 ? 40 : 28;
                    cairo_move_to(cr_, x + r0 * std::cos(a), y + r0 * std::sin(a));
                    cairo_line_to(cr_, x + r1 * std::cos(a), y + r1 * std::sin(a));
                    cairo_stroke(cr_);
                }
                break;
            }
            default:
                break;
        }
    }
    cairo_restore(cr_);
}

void HeatMapPainter::rageTaps(const std::vector<HeatMark>& taps) {
    cairo_save(cr_);
    cairo_rectangle(cr_, 0, 0, width_, height_);
    cairo_clip(cr_);
    cairo_select_font_face(cr_, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
    cairo_set_font_size(cr_, 12);
    for (const HeatMark& m : taps) {
        cairo_set_line_width(cr_, 4);
        cairo_set_source_rgb(cr_, 1, 1, 1);
        cairo_arc(cr_, m.x, m.y, 18, 0, 2 * kPi);
        cairo_stroke(cr_);
        cairo_set_line_width(cr_, 3);
        cairo_set_source_rgb(cr_, 0.9, 0.05, 0.1);
        cairo_arc(cr_, m.x, m.y, 18, 0, 2 * kPi);
        cairo_stroke(cr_);
        cairo_move_to(cr_, m.x - 9, m.y - 9);
        cairo_line_to(cr_, m.x + 9, m.y + 9);
        cairo_move_to(cr_, m.x + 9, m.y - 9);
        cairo_line_to(cr_, m.x - 9, m.y + 9);
        cairo_stroke(cr_);
        const std::string label = "x" + std::to_string(m.count);
        cairo_move_to(cr_, m.x + 22, m.y + 4);
        cairo_show_text(cr_, label.c_str());
    }
    cairo_restore(cr_);
}

void HeatMapPainter::legend(const std::string& title, const std::string& counts,
                            const std::string& note) {
    const int top = height_;
    cairo_set_source_rgb(cr_, 0.12, 0.12, 0.14);
    cairo_rectangle(cr_, 0, top, width_, kLegendHeight);
    cairo_fill(cr_);
    cairo_select_font_face(cr_, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
    cairo_set_font_size(cr_, 13);
    cairo_set_source_rgb(cr_, 1, 1, 1);
    cairo_move_to(cr_, 8, top + 20);
    cairo_show_text(cr_, title.c_str());
    cairo_select_font_face(cr_, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr_, 11);
    cairo_move_to(cr_, 8, top + 42);
    cairo_show_text(cr_, counts.c_str());
    cairo_move_to(cr_, 8, top + 62);
    cairo_set_source_rgb(cr_, 0.75, 0.75, 0.8);
    cairo_show_text(cr_, note.c_str());
}

bool HeatMapPainter::writePng(const std::string& path) const {
    cairo_surface_flush(surface_);
    return cairo_surface_write_to_png(surface_, path.c_str()) == CAIRO_STATUS_SUCCESS;
}

std::string HeatMapPainter::png() const {
    std::string out;
    cairo_surface_flush(surface_);
    if (cairo_surface_write_to_png_stream(surface_, appendBytes, &out) != CAIRO_STATUS_SUCCESS)
        return {};
    return out;
}

std::string HeatMapPainter::countsText(const std::vector<HeatMark>& marks, int rotations) {
    std::map<int, int64_t> n;
    for (const HeatMark& m : marks)
        n[m.code] += m.count;
    std::string out;
    const auto add = [&](int64_t count, const char* one, const char* many) {
        if (count)
            out +=
                (out.empty() ? "" : ", ") + std::to_string(count) + " " + (count == 1 ? one : many);
    };
    add(n[0], "tap", "taps");
    add(n[1], "double tap", "double taps");
    add(n[2] + n[3] + n[4] + n[5], "swipe", "swipes");
    add(n[7] + n[8], "pinch", "pinches");
    add(rotations, "rotation", "rotations");
    return out.empty() ? "no gestures" : out;
}

}  // namespace rivlo::collector
