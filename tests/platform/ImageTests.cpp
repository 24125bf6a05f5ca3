#include "platform/Image.h"

#include <gtest/gtest.h>
#include <jpeglib.h>

#include <cmath>

namespace rivlo {

namespace {
// A w x h image whose pixel (x, y) has blue = x, green = y, red = 200.
Image gradient(int w, int h) {
    std::vector<uint8_t> px;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            px.insert(px.end(), {static_cast<uint8_t>(x), static_cast<uint8_t>(y), 200, 255});
        }
    }
    return Image(w, h, 2.0, std::move(px));
}

struct Decoded {
    int width = 0, height = 0, components = 0;
    std::vector<uint8_t> rgb;
};

Decoded decodeJpeg(const std::vector<uint8_t>& bytes) {
    jpeg_decompress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&cinfo, TRUE);
    jpeg_start_decompress(&cinfo);
    Decoded d{static_cast<int>(cinfo.output_width),
              static_cast<int>(cinfo.output_height),
              cinfo.output_components,
              {}};
    d.rgb.resize(static_cast<size_t>(d.width) * d.height * d.components);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row =
            d.rgb.data() + static_cast<size_t>(cinfo.output_scanline) * d.width * d.components;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return d;
}
}  // namespace

TEST(ImageTest, RefusesMismatchedBytes) {
    Image bad(4, 4, 1.0, std::vector<uint8_t>(10));
    EXPECT_TRUE(bad.isEmpty());
    EXPECT_TRUE(bad.jpegData(0.5).empty());
    EXPECT_FALSE(bad.cropped(Rect(0, 0, 1, 1)).has_value());
    Image negative(-1, 4, 1.0, {});
    EXPECT_TRUE(negative.isEmpty());
}

TEST(ImageTest, CropsInPixelCoordinatesLimitedToTheImage) {
    Image img = gradient(64, 48);
    EXPECT_EQ(img.size(), (Size{32, 24}));
    auto crop = img.cropped(Rect(10, 20, 5, 4));
    ASSERT_TRUE(crop);
    EXPECT_EQ(crop->width(), 5);
    EXPECT_EQ(crop->height(), 4);
    EXPECT_EQ(crop->scale(), 2.0);
    EXPECT_EQ(crop->pixelAt(0, 0), (Image::Pixel{10, 20, 200, 255}));
    EXPECT_EQ(crop->pixelAt(4, 3), (Image::Pixel{14, 23, 200, 255}));
    // Hanging over the edge: only the part inside is kept.
    auto edge = img.cropped(Rect(60, 40, 100, 100));
    ASSERT_TRUE(edge);
    EXPECT_EQ(edge->width(), 4);
    EXPECT_EQ(edge->height(), 8);
    // Fractions widen to whole pixels.
    auto frac = img.cropped(Rect(1.5, 1.5, 1, 1));
    ASSERT_TRUE(frac);
    EXPECT_EQ(frac->width(), 2);
    EXPECT_FALSE(img.cropped(Rect(100, 100, 5, 5)).has_value());
    EXPECT_FALSE(img.cropped(Rect(0, 0, 0, 5)).has_value());
    EXPECT_FALSE(img.cropped(Rect(NAN, 0, 5, 5)).has_value());
}

TEST(ImageTest, JpegDecodesBackToTheSamePicture) {
    Image img = gradient(64, 48);
    auto jpeg = img.jpegData(0.9);
    ASSERT_GT(jpeg.size(), 100u);
    EXPECT_EQ(jpeg[0], 0xFF);
    EXPECT_EQ(jpeg[1], 0xD8);
    Decoded d = decodeJpeg(jpeg);
    EXPECT_EQ(d.width, 64);
    EXPECT_EQ(d.height, 48);
    ASSERT_EQ(d.components, 3);
    // Pixel (40, 30): red 200, green 30, blue 40, within JPEG's error.
    const size_t i = (30u * 64 + 40) * 3;
    EXPECT_NEAR(d.rgb[i], 200, 8);
    EXPECT_NEAR(d.rgb[i + 1], 30, 8);
    EXPECT_NEAR(d.rgb[i + 2], 40, 8);
    // Lower quality is smaller; absurd qualities are clamped, not refused.
    EXPECT_LT(img.jpegData(0.1).size(), jpeg.size());
    EXPECT_FALSE(img.jpegData(-3).empty());
    EXPECT_FALSE(img.jpegData(NAN).empty());
}

}  // namespace rivlo
