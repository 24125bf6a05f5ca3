#include "HeatMaps.h"

#include "DemoImages.h"
#include "DemoJson.h"

#include <cairo.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <map>
#include <memory>

namespace rivlo::demo {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kLegendHeight = 86;

// One gesture as the timeline keeps it.
struct Mark {
    Point point;   // positions 1-2: the point the heat map uses
    int code = 0;  // event code
    double seconds = 0;
};

using Surface = std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)>;
using Context = std::unique_ptr<cairo_t, decltype(&cairo_destroy)>;

Surface makeSurface(int w, int h) {
    return Surface(cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h), &cairo_surface_destroy);
}

// Copies RGB rows into a Cairo image surface at (x, y).
void blit(cairo_surface_t* surface, const uint8_t* rgb, int w, int h, int x0, int y0) {
    cairo_surface_flush(surface);
    uint8_t* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    const int sw = cairo_image_surface_get_width(surface);
    const int sh = cairo_image_surface_get_height(surface);
    for (int y = 0; y < h; ++y) {
        if (y + y0 < 0 || y + y0 >= sh) continue;
        auto* row = reinterpret_cast<uint32_t*>(data + static_cast<size_t>(y + y0) * stride);
        for (int x = 0; x < w; ++x) {
            if (x + x0 < 0 || x + x0 >= sw) continue;
            const uint8_t* p = rgb + (static_cast<size_t>(y) * w + x) * 3;
            row[x + x0] = (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
        }
    }
    cairo_surface_mark_dirty(surface);
}

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

// The density of touches as a translucent colour layer over the picture.
void paintDensity(cairo_t* cr, int w, int h, const std::vector<Point>& points) {
    if (points.empty()) return;
    constexpr int kCell = 4;
    const int gw = (w + kCell - 1) / kCell, gh = (h + kCell - 1) / kCell;
    std::vector<double> grid(static_cast<size_t>(gw) * gh, 0.0);
    const double sigma = 22.0 / kCell;
    const int reach = static_cast<int>(std::ceil(3 * sigma));
    for (const Point& p : points) {
        const int cx = static_cast<int>(p.x / kCell), cy = static_cast<int>(p.y / kCell);
        for (int y = std::max(0, cy - reach); y < std::min(gh, cy + reach + 1); ++y) {
            for (int x = std::max(0, cx - reach); x < std::min(gw, cx + reach + 1); ++x) {
                const double d2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
                if (d2 > reach * reach) continue;
                grid[static_cast<size_t>(y) * gw + x] += std::exp(-d2 / (2 * sigma * sigma));
            }
        }
    }
    const double peak = *std::max_element(grid.begin(), grid.end());
    if (peak <= 0) return;
    Surface layer(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, gw, gh), &cairo_surface_destroy);
    cairo_surface_flush(layer.get());
    uint8_t* data = cairo_image_surface_get_data(layer.get());
    const int stride = cairo_image_surface_get_stride(layer.get());
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
    cairo_surface_mark_dirty(layer.get());
    cairo_save(cr);
    cairo_scale(cr, kCell, kCell);
    cairo_set_source_surface(cr, layer.get(), 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_BILINEAR);
    cairo_paint(cr);
    cairo_restore(cr);
}

void arrow(cairo_t* cr, Point from, double dx, double dy) {
    const double len = 56;
    const Point to{from.x + dx * len, from.y + dy * len};
    cairo_move_to(cr, from.x, from.y);
    cairo_line_to(cr, to.x, to.y);
    cairo_stroke(cr);
    const double angle = std::atan2(dy, dx);
    cairo_move_to(cr, to.x, to.y);
    cairo_line_to(cr, to.x - 12 * std::cos(angle - 0.45), to.y - 12 * std::sin(angle - 0.45));
    cairo_line_to(cr, to.x - 12 * std::cos(angle + 0.45), to.y - 12 * std::sin(angle + 0.45));
    cairo_close_path(cr);
    cairo_fill(cr);
}

// Taps as dots, double taps as rings, swipes as arrows, pinches as circles; in picture pixels.
void paintMarks(cairo_t* cr, const std::vector<Mark>& marks, double sx, double sy) {
    cairo_set_line_width(cr, 3);
    for (const Mark& m : marks) {
        const Point p{m.point.x * sx, m.point.y * sy};
        switch (m.code) {
            case 0:
                cairo_arc(cr, p.x, p.y, 7, 0, 2 * kPi);
                cairo_set_source_rgb(cr, 1, 1, 1);
                cairo_fill_preserve(cr);
                cairo_set_source_rgb(cr, 0.85, 0.1, 0.1);
                cairo_stroke(cr);
                break;
            case 1:
                cairo_set_source_rgb(cr, 1, 0.55, 0);
                cairo_arc(cr, p.x, p.y, 9, 0, 2 * kPi);
                cairo_stroke(cr);
                cairo_arc(cr, p.x, p.y, 15, 0, 2 * kPi);
                cairo_stroke(cr);
                break;
            case 2:
            case 3:
            case 4:
            case 5: {
                static const double dirs[4][2] = {{0, -1}, {0, 1}, {-1, 0}, {1, 0}};
                cairo_set_source_rgb(cr, 0.1, 0.75, 0.95);
                arrow(cr, p, dirs[m.code - 2][0], dirs[m.code - 2][1]);
                break;
            }
            case 7:
            case 8: {
                cairo_set_source_rgb(cr, 0.65, 0.2, 0.9);
                if (m.code == 8) {
                    const double dash[] = {6, 4};
                    cairo_set_dash(cr, dash, 2, 0);
                }
                cairo_arc(cr, p.x, p.y, 26, 0, 2 * kPi);
                cairo_stroke(cr);
                cairo_set_dash(cr, nullptr, 0, 0);
                for (int k = 0; k < 4; ++k) {  // outwards or inwards ticks
                    const double a = kPi / 4 + k * kPi / 2;
                    const double r0 = m.code == 7 ? 28 : 40, r1 = m.code == 7 ? 40 : 28;
                    cairo_move_to(cr, p.x + r0 * std::cos(a), p.y + r0 * std::sin(a));
                    cairo_line_to(cr, p.x + r1 * std::cos(a), p.y + r1 * std::sin(a));
                    cairo_stroke(cr);
                }
                break;
            }
            default:
                break;
        }
    }
}

void legend(cairo_t* cr, int width, int top, const std::string& title, const std::string& counts,
            const std::string& note) {
    cairo_set_source_rgb(cr, 0.12, 0.12, 0.14);
    cairo_rectangle(cr, 0, top, width, kLegendHeight);
    cairo_fill(cr);
    cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
    cairo_set_font_size(cr, 13);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_move_to(cr, 8, top + 20);
    cairo_show_text(cr, title.c_str());
    cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, 11);
    cairo_move_to(cr, 8, top + 42);
    cairo_show_text(cr, counts.c_str());
    cairo_move_to(cr, 8, top + 62);
    cairo_set_source_rgb(cr, 0.75, 0.75, 0.8);
    cairo_show_text(cr, note.c_str());
}

std::string countsText(const std::vector<Mark>& marks, int rotations) {
    std::map<int, int> n;
    for (const Mark& m : marks)
        ++n[m.code];
    std::string out;
    const auto add = [&](int count, const char* what) {
        if (count) out += (out.empty() ? "" : ", ") + std::to_string(count) + " " + what;
    };
    add(n[0], "taps");
    add(n[1], "double taps");
    add(n[2] + n[3] + n[4] + n[5], "swipes");
    add(n[7] + n[8], "pinches");
    add(rotations, "rotations");
    return out.empty() ? "no gestures" : out;
}

std::string fileSafe(const std::string& name) {
    std::string out;
    for (char c : name)
        out += std::isalnum(static_cast<unsigned char>(c)) ? c : '-';
    while (out.find("--") != std::string::npos)
        out.erase(out.find("--"), 1);
    return out.substr(0, 80);
}

bool writePng(cairo_surface_t* surface, const fs::path& path, std::vector<std::string>& problems) {
    if (cairo_surface_write_to_png(surface, path.c_str()) != CAIRO_STATUS_SUCCESS) {
        problems.push_back("cannot write the heat map " + path.string());
        return false;
    }
    return true;
}

// The movie frame nearest to a moment of the session.
const media::DecodedFrame* frameNear(const media::MovieProbe& movie, double seconds) {
    const media::DecodedFrame* best = nullptr;
    for (const auto& f : movie.frames) {
        if (!best || std::fabs(f.seconds - seconds) < std::fabs(best->seconds - seconds)) best = &f;
    }
    return best;
}

struct ScreenMarks {
    std::vector<Mark> marks;
    int rotations = 0;
    double firstSeconds = -1;
    bool web = false;
};

// A web page: its tiles stitched in place (parts never captured are hatched grey), with the
// touches at their points in the page.
bool paintPage(const DemoData& data, const collector::CollectedSession& session,
               const std::string& address, const ScreenMarks& s, const fs::path& path,
               HeatMapImage& image, std::vector<std::string>& problems) {
    int rows = 0, columns = 0, tw = 0, th = 0;
    std::vector<const collector::UploadRecord*> tiles;
    for (const auto& item : session.items) {
        if (item.kind != "tile" || textOf(item.fields, "activity_name") != address) continue;
        const auto integer = [&](const char* key) {
            return static_cast<int>(numberOf(item.fields, key, 0));
        };
        rows = std::max(rows, integer("total_rows"));
        columns = std::max(columns, integer("total_columns"));
        tw = std::max(tw, integer("gridImg_width"));
        th = std::max(th, integer("gridImg_height"));
        tiles.push_back(&item);
    }
    if (tiles.empty() || rows <= 0 || columns <= 0 || tw <= 0 || th <= 0 || rows * th > 20000 ||
        columns * tw > 20000) {
        problems.push_back("no usable tiles to draw the page " + address);
        return false;
    }
    const int w = columns * tw, h = rows * th;
    Surface surface = makeSurface(w, h + kLegendHeight);
    Context cr(cairo_create(surface.get()), &cairo_destroy);
    cairo_set_source_rgb(cr.get(), 0.86, 0.86, 0.88);
    cairo_paint(cr.get());
    cairo_set_source_rgb(cr.get(), 0.78, 0.78, 0.8);
    cairo_set_line_width(cr.get(), 2);
    for (int d = -h; d < w; d += 24) {
        cairo_move_to(cr.get(), d, 0);
        cairo_line_to(cr.get(), d + h, h);
    }
    cairo_stroke(cr.get());
    cairo_surface_flush(surface.get());
    for (const auto* tile : tiles) {
        std::string error;
        auto picture = decodeJpegFile((fs::path(data.dataDir) / tile->path).string(), error);
        if (!picture) {
            problems.push_back(error);
            continue;
        }
        const int x = static_cast<int>(std::lround(numberOf(tile->fields, "dist_x", 0)));
        const int y = static_cast<int>(std::lround(numberOf(tile->fields, "dist_y", 0)));
        blit(surface.get(), picture->rgb.data(), picture->width, picture->height, x, y);
        ++image.tiles;
    }
    std::vector<Point> points;
    for (const Mark& m : s.marks)
        points.push_back(m.point);
    paintDensity(cr.get(), w, h, points);
    paintMarks(cr.get(), s.marks, 1, 1);
    char note[128];
    std::snprintf(note, sizeof note, "web page, %d of %d tiles captured, %d x %d each", image.tiles,
                  rows * columns, tw, th);
    legend(cr.get(), w, h, address, countsText(s.marks, s.rotations), note);
    return writePng(surface.get(), path, problems);
}

}  // namespace

std::vector<HeatMapImage> HeatMaps::paint(const DemoData& data, Size screen, const fs::path& outDir,
                                          std::vector<std::string>& problems) {
    std::vector<HeatMapImage> out;
    std::error_code ec;
    fs::create_directories(outDir, ec);
    for (size_t k = 0; k < data.installation.sessions.size(); ++k) {
        const auto& session = data.installation.sessions[k];
        if (!session.readable) continue;
        // Every gesture of the session by screen name, in the order the screens came.
        std::vector<std::string> order;
        std::map<std::string, ScreenMarks> screens;
        for (const json& entry : listOf(session.content, "ut")) {
            const std::string name = textOf(entry, "an");
            if (!screens.count(name)) order.push_back(name);
            ScreenMarks& s = screens[name];
            s.web = s.web || numberOf(entry, "wb", 0) == 1;
            for (const json& r : listOf(entry, "cor")) {
                if (!isRecord(r)) continue;
                Mark m{{r[0].get<double>(), r[1].get<double>()},
                       static_cast<int>(r[3].get<double>()),
                       r[5].get<double>()};
                if (s.firstSeconds < 0) s.firstSeconds = m.seconds;
                if (m.code == 10)
                    ++s.rotations;
                else
                    s.marks.push_back(m);
            }
        }
        const media::MovieProbe* movie = nullptr;
        for (const auto& item : session.items) {
            auto it = data.movies.find(item.path);
            if (item.kind == "screen" && it != data.movies.end() && !it->second.frames.empty())
                movie = &it->second;
        }
        for (const std::string& name : order) {
            const ScreenMarks& s = screens[name];
            HeatMapImage image;
            image.session = k + 1;
            image.screen = name;
            image.web = s.web;
            image.gestures = static_cast<int>(s.marks.size());
            image.orientationChanges = s.rotations;
            if (s.web) {
                image.file = "session" + std::to_string(k + 1) + "-page-" + fileSafe(name) + ".png";
                if (paintPage(data, session, name, s, outDir / image.file, image, problems))
                    out.push_back(image);
                continue;
            }
            if (!movie) continue;
            const media::DecodedFrame* frame = frameNear(*movie, s.firstSeconds + 0.6);
            if (!frame) continue;
            const int w = frame->width, h = frame->height;
            Surface surface = makeSurface(w, h + kLegendHeight);
            blit(surface.get(), frame->rgb.data(), w, h, 0, 0);
            Context cr(cairo_create(surface.get()), &cairo_destroy);
            cairo_set_source_rgba(cr.get(), 0, 0, 0, 0.35);
            cairo_rectangle(cr.get(), 0, 0, w, h);
            cairo_fill(cr.get());
            const double sx = w / screen.width, sy = h / screen.height;
            std::vector<Point> points;
            for (const Mark& m : s.marks)
                points.push_back({m.point.x * sx, m.point.y * sy});
            paintDensity(cr.get(), w, h, points);
            paintMarks(cr.get(), s.marks, sx, sy);
            char note[128];
            std::snprintf(note, sizeof note, "session %zu, frame at %.1f s of the screen movie",
                          k + 1, frame->seconds);
            legend(cr.get(), w, h, name, countsText(s.marks, s.rotations), note);
            image.file = "session" + std::to_string(k + 1) + "-" + fileSafe(name) + ".png";
            if (writePng(surface.get(), outDir / image.file, problems)) out.push_back(image);
        }
    }
    return out;
}

}  // namespace rivlo::demo
