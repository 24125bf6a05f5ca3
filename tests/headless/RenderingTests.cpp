#include "HeadlessTestMain.h"

#include "platform/ImageView.h"
#include "platform/Label.h"
#include "platform/TextField.h"
#include "platform/headless/PngWriter.h"

#include <cairo.h>

namespace rivlo::testing {

namespace {
class RenderingTest : public HeadlessTest {};

int darkPixels(const Image& img, const Rect& pixelRect) {
    int n = 0;
    for (int y = static_cast<int>(pixelRect.minY()); y < static_cast<int>(pixelRect.maxY()); ++y) {
        for (int x = static_cast<int>(pixelRect.minX()); x < static_cast<int>(pixelRect.maxX());
             ++x) {
            auto p = img.pixelAt(x, y);
            if (p.r < 100 && p.g < 100 && p.b < 100) ++n;
        }
    }
    return n;
}
}  // namespace

TEST_F(RenderingTest, BackgroundsSubviewsAndScaleLandOnKnownPixels) {
    auto window = platform->makeKeyWindow();
    auto red = std::make_shared<View>(Rect(10, 20, 50, 40));
    red->setBackgroundColor(Color{1, 0, 0, 1});
    auto blue = std::make_shared<View>(Rect(5, 5, 10, 10));  // inside red, at (15,25) on screen
    blue->setBackgroundColor(Color{0, 0, 1, 1});
    red->addSubview(blue);
    window->addSubview(red);

    Image img = platform->snapshot(*window);
    ASSERT_EQ(img.width(), 640);
    ASSERT_EQ(img.height(), 1136);
    EXPECT_EQ(img.bytesPerRow(), 640u * 4);
    // BGRA byte order: red is (b=0, g=0, r=255).
    const auto redPixel = img.pixelAt(2 * 50, 2 * 50);
    EXPECT_EQ(redPixel.r, 255);
    EXPECT_EQ(redPixel.b, 0);
    EXPECT_EQ(redPixel.a, 255);
    EXPECT_EQ(img.bytes()[(100u * 640 + 100) * 4 + 2], 255);  // R at byte 2
    EXPECT_TRUE(isColor(img.pixelAt(2 * 18, 2 * 28), 0, 0, 255));
    EXPECT_TRUE(isColor(img.pixelAt(2 * 5, 2 * 5), 255, 255, 255));    // window background
    EXPECT_TRUE(isColor(img.pixelAt(2 * 61, 2 * 30), 255, 255, 255));  // right of red
}

TEST_F(RenderingTest, HiddenAlphaClippingAndRoundedCorners) {
    auto window = platform->makeKeyWindow();
    auto hidden = std::make_shared<View>(Rect(0, 0, 100, 100));
    hidden->setBackgroundColor(Color{0, 1, 0, 1});
    hidden->setHidden(true);
    window->addSubview(hidden);

    auto faded = std::make_shared<View>(Rect(100, 0, 50, 50));
    faded->setBackgroundColor(Color{0, 0, 0, 1});
    faded->setAlpha(0.5);
    window->addSubview(faded);

    auto clipper = std::make_shared<View>(Rect(0, 200, 50, 50));
    clipper->setClipsToBounds(true);
    auto overflow = std::make_shared<View>(Rect(0, 0, 100, 100));
    overflow->setBackgroundColor(Color{1, 0, 0, 1});
    clipper->addSubview(overflow);
    window->addSubview(clipper);

    auto round = std::make_shared<View>(Rect(200, 200, 100, 100));
    round->setBackgroundColor(Color{0, 0, 1, 1});
    round->setCornerRadius(40);
    window->addSubview(round);

    Image img = platform->snapshot(*window, 1.0);
    EXPECT_TRUE(isColor(img.pixelAt(50, 50), 255, 255, 255));      // hidden: not drawn
    EXPECT_TRUE(isColor(img.pixelAt(125, 25), 128, 128, 128, 3));  // half black over white
    EXPECT_TRUE(isColor(img.pixelAt(25, 225), 255, 0, 0));         // inside the clip
    EXPECT_TRUE(isColor(img.pixelAt(75, 225), 255, 255, 255));     // clipped away
    EXPECT_TRUE(isColor(img.pixelAt(250, 250), 0, 0, 255));        // middle of the round view
    EXPECT_TRUE(isColor(img.pixelAt(201, 201), 255, 255, 255));    // its cut corner
}

TEST_F(RenderingTest, TextIsDrawnAndSecureFieldsShowBullets) {
    auto window = platform->makeKeyWindow();
    auto label = std::make_shared<Label>(Rect(10, 10, 200, 40));
    label->setText("Hello");
    label->setFontSize(24);
    window->addSubview(label);
    auto empty = std::make_shared<Label>(Rect(10, 60, 200, 40));
    window->addSubview(empty);

    Image img = platform->snapshot(*window, 1.0);
    EXPECT_GT(darkPixels(img, Rect(10, 10, 200, 40)), 50);
    EXPECT_EQ(darkPixels(img, Rect(10, 60, 200, 40)), 0);

    TextField secret(Rect(0, 0, 100, 30));
    secret.setText("pässword");
    secret.setSecureTextEntry(true);
    std::string bullets;  // one per character, not per byte
    for (int i = 0; i < 8; ++i)
        bullets += "\xE2\x80\xA2";
    EXPECT_EQ(secret.displayText(), bullets);
    secret.setSecureTextEntry(false);
    EXPECT_EQ(secret.displayText(), "pässword");
    secret.setText("");
    secret.setPlaceholder("Password");
    EXPECT_EQ(secret.displayText(), "Password");
}

TEST_F(RenderingTest, StretchingIntoARectAndRenderingALayer) {
    auto window = platform->makeKeyWindow();
    auto left = std::make_shared<View>(Rect(0, 0, 160, 568));
    left->setBackgroundColor(Color{1, 0, 0, 1});
    window->addSubview(left);

    // Drawn into a quarter-size rectangle, the left half stays the left half.
    auto ctx = platform->graphics().makeBitmapContext(Size{80, 142}, true, 1.0);
    ASSERT_NE(ctx, nullptr);
    EXPECT_TRUE(ctx->drawViewHierarchy(*window, Rect(0, 0, 80, 142), true));
    Image small = ctx->makeImage();
    EXPECT_EQ(small.width(), 80);
    EXPECT_TRUE(isColor(small.pixelAt(20, 70), 255, 0, 0));
    EXPECT_TRUE(isColor(small.pixelAt(60, 70), 255, 255, 255));

    // Fill, save and restore.
    ctx->saveGState();
    ctx->setFillColor(Color{0, 1, 0, 1});
    ctx->fillRect(Rect(0, 0, 10, 10));
    ctx->restoreGState();
    ctx->fillRect(Rect(10, 0, 10, 10));  // fill colour restored to the default black
    Image filled = ctx->makeImage();
    EXPECT_TRUE(isColor(filled.pixelAt(5, 5), 0, 255, 0));
    EXPECT_TRUE(isColor(filled.pixelAt(15, 5), 0, 0, 0));

    // A view's layer rendered at the origin of a context of its own size.
    auto layerCtx = platform->graphics().makeBitmapContext(left->bounds().size, true, 1.0);
    layerCtx->renderLayer(*left);
    EXPECT_TRUE(isColor(layerCtx->makeImage().pixelAt(100, 300), 255, 0, 0));

    EXPECT_EQ(platform->graphics().makeBitmapContext(Size{0, 10}, true, 1.0), nullptr);
    EXPECT_EQ(platform->graphics().makeBitmapContext(Size{1e9, 10}, true, 1.0), nullptr);
}

TEST_F(RenderingTest, ImagesAreStretchedIntoImageViews) {
    auto window = platform->makeKeyWindow();
    // A 2x1 image: a green pixel and a blue one.
    Image img(2, 1, 1.0, {0, 255, 0, 255, 255, 0, 0, 255});
    auto iv = std::make_shared<ImageView>(Rect(0, 0, 100, 50));
    iv->setImage(std::make_shared<Image>(img));
    window->addSubview(iv);
    Image shot = platform->snapshot(*window, 1.0);
    EXPECT_TRUE(isColor(shot.pixelAt(10, 25), 0, 255, 0, 10));
    EXPECT_TRUE(isColor(shot.pixelAt(90, 25), 0, 0, 255, 10));
}

TEST_F(RenderingTest, TextMeasurementWrapsWithinTheConstraint) {
    Size one = platform->graphics().textSize("Recording", 14, Size{1000, 1000});
    EXPECT_GT(one.width, 30);
    EXPECT_LT(one.width, 200);
    Size wrapped = platform->graphics().textSize("one two three four five six", 14, Size{60, 1000});
    EXPECT_LE(wrapped.width, 60);
    EXPECT_GT(wrapped.height, one.height * 2);
    Size cut = platform->graphics().textSize("one two three four five six", 14, Size{60, 20});
    EXPECT_EQ(cut.height, 20);
}

TEST_F(RenderingTest, PngFilesReadBackWithTheSamePixels) {
    auto window = platform->makeKeyWindow();
    auto green = std::make_shared<View>(Rect(0, 0, 100, 100));
    green->setBackgroundColor(Color{0, 1, 0, 1});
    window->addSubview(green);
    Image shot = platform->snapshot(*window, 1.0);
    const std::string path = ::testing::TempDir() + "headless-shot.png";
    ASSERT_TRUE(PngWriter::write(shot, path));
    cairo_surface_t* back = cairo_image_surface_create_from_png(path.c_str());
    ASSERT_EQ(cairo_surface_status(back), CAIRO_STATUS_SUCCESS);
    EXPECT_EQ(cairo_image_surface_get_width(back), 320);
    const unsigned char* data = cairo_image_surface_get_data(back);
    const int stride = cairo_image_surface_get_stride(back);
    const unsigned char* px = data + 50 * stride + 50 * 4;  // B, G, R, A
    EXPECT_EQ(px[0], 0);
    EXPECT_EQ(px[1], 255);
    EXPECT_EQ(px[2], 0);
    cairo_surface_destroy(back);
    EXPECT_FALSE(PngWriter::write(Image(), path));
    EXPECT_FALSE(PngWriter::write(shot, "/nonexistent-dir/x.png"));
}

}  // namespace rivlo::testing
