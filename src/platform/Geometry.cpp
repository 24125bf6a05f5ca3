#include "platform/Geometry.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace rivlo {

Rect Rect::intersection(const Rect& other) const {
    const double x0 = std::max(minX(), other.minX());
    const double y0 = std::max(minY(), other.minY());
    const double x1 = std::min(maxX(), other.maxX());
    const double y1 = std::min(maxY(), other.maxY());
    if (x1 <= x0 || y1 <= y0) return Rect();
    return Rect(x0, y0, x1 - x0, y1 - y0);
}

Rect Rect::integral() const {
    const double x0 = std::floor(minX());
    const double y0 = std::floor(minY());
    const double x1 = std::ceil(maxX());
    const double y1 = std::ceil(maxY());
    return Rect(x0, y0, x1 - x0, y1 - y0);
}

namespace {

std::string number(double v) {
    if (std::isfinite(v) && v == std::floor(v) && std::fabs(v) < 1e15) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.0f", v);
        return buf;
    }
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    // Shortest text that reads back as the same value.
    for (int precision = 1; precision <= 17; ++precision) {
        char shorter[40];
        std::snprintf(shorter, sizeof shorter, "%.*g", precision, v);
        if (std::strtod(shorter, nullptr) == v) return shorter;
    }
    return buf;
}

// Reads the numbers of a "{a, b}" or "{{a, b}, {c, d}}" text, ignoring braces and spaces.
bool readNumbers(const std::string& text, double* out, size_t count) {
    size_t found = 0;
    const char* p = text.c_str();
    while (*p && found < count) {
        if (*p == '{' || *p == '}' || *p == ',' || *p == ' ') {
            ++p;
            continue;
        }
        char* end = nullptr;
        const double v = std::strtod(p, &end);
        if (end == p) return false;
        out[found++] = v;
        p = end;
    }
    return found == count;
}

}  // namespace

std::string stringFromRect(const Rect& r) {
    return "{{" + number(r.origin.x) + ", " + number(r.origin.y) + "}, {" + number(r.size.width) +
           ", " + number(r.size.height) + "}}";
}

std::string stringFromPoint(const Point& p) {
    return "{" + number(p.x) + ", " + number(p.y) + "}";
}

Rect rectFromString(const std::string& text) {
    double v[4];
    if (!readNumbers(text, v, 4)) return Rect();
    return Rect(v[0], v[1], v[2], v[3]);
}

AffineTransform AffineTransform::makeRotation(double radians) {
    const double c = std::cos(radians);
    const double s = std::sin(radians);
    return {c, s, -s, c, 0, 0};
}

AffineTransform AffineTransform::makeScale(double sx, double sy) {
    return {sx, 0, 0, sy, 0, 0};
}

AffineTransform AffineTransform::makeTranslation(double dx, double dy) {
    return {1, 0, 0, 1, dx, dy};
}

AffineTransform AffineTransform::concat(const AffineTransform& n) const {
    return {a * n.a + b * n.c, a * n.b + b * n.d,          c * n.a + d * n.c,
            c * n.b + d * n.d, tx * n.a + ty * n.c + n.tx, tx * n.b + ty * n.d + n.ty};
}

std::optional<AffineTransform> AffineTransform::inverted() const {
    const double det = a * d - b * c;
    if (std::fabs(det) < 1e-12) return std::nullopt;
    AffineTransform r;
    r.a = d / det;
    r.b = -b / det;
    r.c = -c / det;
    r.d = a / det;
    r.tx = -(tx * r.a + ty * r.c);
    r.ty = -(tx * r.b + ty * r.d);
    return r;
}

std::optional<Color> Color::fromHex(const std::string& text) {
    if (text.size() != 7 && text.size() != 9) return std::nullopt;
    if (text[0] != '#') return std::nullopt;
    unsigned values[4] = {0, 0, 0, 255};
    for (size_t i = 0; i < (text.size() - 1) / 2; ++i) {
        unsigned v = 0;
        for (size_t k = 0; k < 2; ++k) {
            const char ch = text[1 + i * 2 + k];
            v <<= 4;
            if (ch >= '0' && ch <= '9')
                v |= static_cast<unsigned>(ch - '0');
            else if (ch >= 'a' && ch <= 'f')
                v |= static_cast<unsigned>(ch - 'a' + 10);
            else if (ch >= 'A' && ch <= 'F')
                v |= static_cast<unsigned>(ch - 'A' + 10);
            else
                return std::nullopt;
        }
        values[i] = v;
    }
    return Color{values[0] / 255.0, values[1] / 255.0, values[2] / 255.0, values[3] / 255.0};
}

}  // namespace rivlo
