#include "platform/Geometry.h"

#include <gtest/gtest.h>

#include <cmath>

namespace rivlo {

TEST(GeometryTest, RectTextFormRoundTrips) {
    EXPECT_EQ(stringFromRect(Rect(0, 500, 320, 500)), "{{0, 500}, {320, 500}}");
    EXPECT_EQ(stringFromRect(Rect(-1.5, 0.25, 1e-3, 2)), "{{-1.5, 0.25}, {0.001, 2}}");
    EXPECT_EQ(stringFromPoint(Point{3, 4}), "{3, 4}");
    for (const Rect& r : {Rect(0, 1000, 320, 500), Rect(0.1, 1.0 / 3, 568, 300.5)}) {
        EXPECT_EQ(rectFromString(stringFromRect(r)), r);
    }
    EXPECT_EQ(rectFromString("{{1,2},{3,4}}"), Rect(1, 2, 3, 4));
    // Unreadable texts give the zero rect.
    EXPECT_EQ(rectFromString(""), Rect());
    EXPECT_EQ(rectFromString("{{1, 2}, {3}}"), Rect());
    EXPECT_EQ(rectFromString("{{a, b}, {c, d}}"), Rect());
}

TEST(GeometryTest, ContainsUsesHalfOpenEdges) {
    const Rect tile(0, 500, 320, 500);
    EXPECT_TRUE(tile.contains({0, 500}));
    EXPECT_FALSE(tile.contains({0, 1000}));
    EXPECT_FALSE(tile.contains({320, 600}));
    EXPECT_TRUE(tile.contains({319.999, 999.999}));
    EXPECT_FALSE(tile.contains({NAN, 600}));
    EXPECT_EQ(Rect(0, 0, 10, 10).intersection(Rect(5, 5, 10, 10)), Rect(5, 5, 5, 5));
    EXPECT_TRUE(Rect(0, 0, 10, 10).intersection(Rect(10, 0, 5, 5)).isEmpty());
    EXPECT_EQ(Rect(0.5, 0.5, 1, 1).integral(), Rect(0, 0, 2, 2));
}

TEST(GeometryTest, TransformsComposeAndInvert) {
    const auto r = AffineTransform::makeRotation(M_PI / 2);
    const Point p = r.apply({1, 0});
    EXPECT_NEAR(p.x, 0, 1e-12);
    EXPECT_NEAR(p.y, 1, 1e-12);
    const auto moved = r.concat(AffineTransform::makeTranslation(10, 0));
    const Point q = moved.apply({1, 0});
    EXPECT_NEAR(q.x, 10, 1e-12);
    EXPECT_NEAR(q.y, 1, 1e-12);
    const Point back = moved.inverted()->apply(q);
    EXPECT_NEAR(back.x, 1, 1e-12);
    EXPECT_NEAR(back.y, 0, 1e-12);
    EXPECT_FALSE(AffineTransform::makeScale(0, 1).inverted().has_value());
}

TEST(GeometryTest, HexColours) {
    EXPECT_EQ(Color::fromHex("#FF0000"), (Color{1, 0, 0, 1}));
    auto c = Color::fromHex("#00ff0080");
    ASSERT_TRUE(c);
    EXPECT_NEAR(c->alpha, 128 / 255.0, 1e-12);
    EXPECT_FALSE(Color::fromHex("FF0000"));
    EXPECT_FALSE(Color::fromHex("#GG0000"));
    EXPECT_FALSE(Color::fromHex("#FFF"));
}

}  // namespace rivlo
