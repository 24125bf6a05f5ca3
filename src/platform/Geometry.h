#pragma once

#include <optional>
#include <string>

namespace rivlo {

// Points are logical units (points); a bitmap of scale s has s pixels per point.
struct Point {
    double x = 0;
    double y = 0;
    bool operator==(const Point&) const = default;
};

struct Size {
    double width = 0;
    double height = 0;
    bool operator==(const Size&) const = default;
};

struct Rect {
    Point origin;
    Size size;

    Rect() = default;
    Rect(double x, double y, double w, double h) : origin{x, y}, size{w, h} {}
    Rect(Point o, Size s) : origin(o), size(s) {}

    double minX() const { return origin.x; }
    double minY() const { return origin.y; }
    double maxX() const { return origin.x + size.width; }
    double maxY() const { return origin.y + size.height; }
    double width() const { return size.width; }
    double height() const { return size.height; }
    bool isEmpty() const { return size.width <= 0 || size.height <= 0; }
    // Left and top edges inside, right and bottom edges outside.
    bool contains(Point p) const {
        return p.x >= minX() && p.x < maxX() && p.y >= minY() && p.y < maxY();
    }
    // Empty (zero rect) when the two do not overlap.
    Rect intersection(const Rect& other) const;
    Rect offsetBy(double dx, double dy) const {
        return Rect(origin.x + dx, origin.y + dy, size.width, size.height);
    }
    // Smallest rect with integer edges that contains this one.
    Rect integral() const;
    bool operator==(const Rect&) const = default;
};

// The platform's text form of a rectangle: "{{x, y}, {w, h}}" (whole numbers without a
// fraction), and its parser. The parser answers the zero rect for text it cannot read, as the
// platform does.
std::string stringFromRect(const Rect& rect);
Rect rectFromString(const std::string& text);
std::string stringFromPoint(const Point& point);

// 2-D affine transform [a b; c d] + (tx, ty), applied as x' = a x + c y + tx, y' = b x + d y + ty.
struct AffineTransform {
    double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;
    static AffineTransform identity() { return {}; }
    static AffineTransform makeRotation(double radians);
    static AffineTransform makeScale(double sx, double sy);
    static AffineTransform makeTranslation(double dx, double dy);
    bool isIdentity() const { return *this == AffineTransform{}; }
    Point apply(Point p) const { return {a * p.x + c * p.y + tx, b * p.x + d * p.y + ty}; }
    // The transform that applies `this` first and then `next`.
    AffineTransform concat(const AffineTransform& next) const;
    std::optional<AffineTransform> inverted() const;
    bool operator==(const AffineTransform&) const = default;
};

// An RGBA colour with components in 0...1.
struct Color {
    double red = 0, green = 0, blue = 0, alpha = 1;
    static Color clear() { return {0, 0, 0, 0}; }
    static Color black() { return {0, 0, 0, 1}; }
    static Color white() { return {1, 1, 1, 1}; }
    static Color rgb(int r, int g, int b, double a = 1.0) {
        return {r / 255.0, g / 255.0, b / 255.0, a};
    }
    // "#RRGGBB" or "#RRGGBBAA"; nullopt when the text is not such a colour.
    static std::optional<Color> fromHex(const std::string& text);
    bool operator==(const Color&) const = default;
};

}  // namespace rivlo
