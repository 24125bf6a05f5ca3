// Grid capture on the headless device: real taps on a web view showing a real page, tiles
// rendered and written as JPEG files, decoded back and compared with the page.

#include "WebViewWorld.h"

#include "platform/Application.h"
#include "support/Registrations.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using namespace rivlo;
using namespace rivlo::test;

namespace {

// The hooks and session steps the library's start registers, for the recorders this suite
// links.
const bool kRegistered = (rivlo::test::registerWebViews(), rivlo::test::registerTimeline(), true);

std::vector<double> tileTops(const std::vector<RVWebViewGrid>& tiles) {
    std::vector<double> tops;
    for (const auto& t : tiles)
        tops.push_back(t.rect.minY());
    return tops;
}

bool near(const DecodedJpeg::RGB& c, int r, int g, int b, int tolerance = 24) {
    return std::abs(c.r - r) <= tolerance && std::abs(c.g - g) <= tolerance &&
           std::abs(c.b - b) <= tolerance;
}

}  // namespace

TEST(WebViewCapture, PortraitPageIsGriddedIntoScreenSizedTilesAndTheTouchedTileIsCaptured) {
    WebViewWorld world;
    world.tapWeb({100, 100});

    auto record = WebViewWorld::record();
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->webViewName(), WebViewWorld::key());
    EXPECT_EQ(record->orientation(), 1);
    EXPECT_EQ(record->totalRow(), 3);
    EXPECT_EQ(record->totalColumn(), 1);
    EXPECT_EQ(record->elementImageWidth(), 320);
    EXPECT_EQ(record->elementImageHeight(), 500);

    const auto achieved = record->achievedGridList();
    ASSERT_EQ(achieved.size(), 1u);
    EXPECT_EQ(achieved[0].rect, Rect(0, 0, 320, 500));
    EXPECT_EQ(tileTops(record->expectedGridList()), (std::vector<double>{500, 1000}));
    for (const auto& tile : record->expectedGridList())
        EXPECT_EQ(tile.rect.size, (Size{320, 500}));

    // The image: "<stamp>.jpeg" in the store's image folder, the tile's size, the page's
    // content at that place (the red block, the white page, the label's dark text).
    EXPECT_EQ(achieved[0].imageName.size(), std::string("1234567890.jpeg").size());
    EXPECT_EQ(achieved[0].imageName.substr(achieved[0].imageName.size() - 5), ".jpeg");
    EXPECT_EQ(WebViewWorld::imageFiles(), (std::set<std::string>{achieved[0].imageName}));
    auto jpeg = decodeJpegFile(WebViewWorld::imagePath(achieved[0].imageName));
    ASSERT_TRUE(jpeg.has_value());
    EXPECT_EQ(jpeg->width, 320);
    EXPECT_EQ(jpeg->height, 500);
    EXPECT_TRUE(near(jpeg->at(160, 120), 220, 20, 20));
    EXPECT_TRUE(near(jpeg->at(10, 10), 255, 255, 255));
    EXPECT_TRUE(near(jpeg->at(160, 260), 255, 255, 255));
    int darkPixels = 0;
    for (int y = 300; y < 340; ++y)
        for (int x = 20; x < 300; ++x)
            darkPixels += jpeg->at(x, y).r < 100 ? 1 : 0;
    EXPECT_GT(darkPixels, 50) << "the label's text is in the tile";

    // Owner-only, as every file of the store.
    struct stat st {};
    ASSERT_EQ(::stat(WebViewWorld::imagePath(achieved[0].imageName).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(WebViewCapture, ScrolledTouchesCaptureTheTileUnderTheContentPointOnlyOnce) {
    WebViewWorld world;
    world.tapWeb({100, 100});
    auto record = WebViewWorld::record();
    ASSERT_NE(record, nullptr);
    ASSERT_EQ(record->achievedGridList().size(), 1u);

    // Scrolled by 400, a touch at 100 lies on the boundary y = 500: the lower tile.
    world.scrollTo({0, 400});
    world.tapWeb({50, 100});
    auto achieved = record->achievedGridList();
    ASSERT_EQ(achieved.size(), 2u);
    EXPECT_EQ(achieved[1].rect, Rect(0, 500, 320, 500));
    auto jpeg = decodeJpegFile(WebViewWorld::imagePath(achieved[1].imageName));
    ASSERT_TRUE(jpeg.has_value());
    EXPECT_TRUE(near(jpeg->at(160, 120), 20, 160, 20)) << "the green block of the second band";

    // A second touch inside a captured tile writes nothing.
    const auto files = WebViewWorld::imageFiles();
    world.tapWeb({200, 300});
    EXPECT_EQ(WebViewWorld::imageFiles(), files);
    EXPECT_EQ(record->achievedGridList().size(), 2u);
    EXPECT_EQ(tileTops(record->expectedGridList()), (std::vector<double>{1000}));
    EXPECT_EQ(files.size(), 2u);
}

TEST(WebViewCapture, TheSameContentPointIsHandledOnce) {
    WebViewWorld world;
    world.tapWeb({120, 140});
    EXPECT_EQ(world.web().evaluations, 1);
    // The same screen point without scrolling: the same content point, no second look.
    world.tapWeb({120, 140});
    EXPECT_EQ(world.web().evaluations, 1);
    // Scrolled, the same screen point is another content point.
    world.scrollTo({0, 10});
    world.tapWeb({120, 140});
    EXPECT_EQ(world.web().evaluations, 2);
    EXPECT_EQ(RVWebViewHooks::lastContentPoint(), (Point{120, 150}));
}

TEST(WebViewCapture, AGrownPageIsReGriddedAndAShrunkPageKeepsItsGrid) {
    WebViewWorld world;
    world.tapWeb({100, 100});
    auto record = WebViewWorld::record();
    ASSERT_NE(record, nullptr);
    const std::string first = record->achievedGridList().at(0).imageName;

    // More of the page loaded: 4 rows of 500, the tiles of the old grid are forgotten.
    world.web().setContentSize({320, 2000});
    world.scrollTo({0, 1400});
    world.tapWeb({100, 200});  // content y 1600: the fourth row
    EXPECT_EQ(record->totalRow(), 4);
    EXPECT_EQ(record->totalColumn(), 1);
    EXPECT_EQ(record->elementImageHeight(), 500);
    auto achieved = record->achievedGridList();
    ASSERT_EQ(achieved.size(), 1u);
    EXPECT_EQ(achieved[0].rect, Rect(0, 1500, 320, 500));
    EXPECT_NE(achieved[0].imageName, first);
    EXPECT_EQ(tileTops(record->expectedGridList()), (std::vector<double>{0, 500, 1000}));

    // The page shrinks: the larger grid stays, and so do the captured tiles.
    world.web().setContentSize({320, 700});
    world.scrollTo({0, 0});
    world.tapWeb({10, 10});
    EXPECT_EQ(record->totalRow(), 4);
    EXPECT_EQ(record->elementImageHeight(), 500);
    EXPECT_EQ(record->achievedGridList().size(), 2u);
}

TEST(WebViewCapture, LandscapeUsesTheSwappedScreenAndItsOwnRecordAndScreen) {
    WebViewWorld world;
    world.tapWeb({100, 100});
    ASSERT_NE(WebViewWorld::record(WebViewWorld::key(WebViewWorld::kURL, 1)), nullptr);

    // Rotated: the window turns to 568 x 320 bounds; tiles are 568 wide and 320 high.
    world.app().setStatusBarOrientation(InterfaceOrientation::LandscapeRight);
    world.showPage("https://shop.example.com/wide", {568, 900});
    world.tapWeb({30, 40});
    auto record = WebViewWorld::record(WebViewWorld::key("https://shop.example.com/wide", 0));
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->orientation(), 0);
    EXPECT_EQ(record->totalRow(), 3);
    EXPECT_EQ(record->totalColumn(), 1);
    EXPECT_EQ(record->elementImageWidth(), 568);
    EXPECT_EQ(record->elementImageHeight(), 300);
    ASSERT_EQ(record->achievedGridList().size(), 1u);
    auto jpeg = decodeJpegFile(WebViewWorld::imagePath(record->achievedGridList()[0].imageName));
    ASSERT_TRUE(jpeg.has_value());
    EXPECT_EQ(jpeg->width, 568);
    EXPECT_EQ(jpeg->height, 300);
    EXPECT_EQ(RVWebViewHooks::currentURL(), "https://shop.example.com/wide__0");
    EXPECT_EQ(RVWebViewHandler::sharedHandler()->webViewDict().size(), 2u);
}

TEST(WebViewCapture, AFirstTouchNamesTheScreenAfterTheAddressAndStoresBothPoints) {
    WebViewWorld world;
    RVHeatTimeHandler::startTimer(12.2);
    world.scrollTo({0, 250});
    world.tapWeb({40, 60});

    auto* heat = RVHeatTimeHandler::sharedHandler();
    auto screen = heat->vcDetail();
    ASSERT_NE(screen, nullptr);
    EXPECT_EQ(screen->vcName(), WebViewWorld::kURL);
    EXPECT_EQ(screen->appearTime(), "12");
    EXPECT_TRUE(screen->isVcNameIsUrl());
    EXPECT_EQ(heat->webViewHeatMapPoint(), (Point{40, 310}));
    EXPECT_EQ(heat->heatMapPoint(), (Point{40, 60}));
    EXPECT_EQ(RVWebViewHooks::currentURL(), WebViewWorld::key());

    // A later touch on the same page keeps the screen and its appear time.
    RVHeatTimeHandler::startTimer(30.5);
    world.tapWeb({41, 61});
    EXPECT_EQ(heat->vcDetail(), screen);
    EXPECT_EQ(screen->appearTime(), "12");

    // Activation forgets the address and the registry; the next touch names a new screen.
    world.app().moveToBackground();
    world.app().returnToForeground();
    EXPECT_EQ(RVWebViewHooks::currentURL(), "");
    EXPECT_TRUE(RVWebViewHandler::sharedHandler()->webViewDict().empty());
    world.tapWeb({42, 62});
    EXPECT_NE(heat->vcDetail(), screen);
    EXPECT_EQ(heat->vcDetail()->appearTime(), "30");
    RVHeatTimeHandler::resetTimer();
}

TEST(WebViewCapture, NothingIsRecordedBeforeVerification) {
    WebViewWorld world;
    RVUtil::isInfoPostSuccess(false);
    world.tapWeb({100, 100});
    EXPECT_TRUE(RVWebViewHandler::sharedHandler()->webViewDict().empty());
    EXPECT_EQ(world.web().evaluations, 0);
    EXPECT_EQ(RVHeatTimeHandler::sharedHandler()->webViewHeatMapPoint(), (Point{0, 0}));
    EXPECT_TRUE(WebViewWorld::imageFiles().empty());
}

TEST(WebViewCapture, ATileThatCannotBeWrittenStaysExpectedAndIsCapturedByALaterTouch) {
    WebViewWorld world;
    LogLines log;
    // Something that is not a folder stands where the images go.
    std::filesystem::create_directories(RVUtil::cachesDirectory());
    { std::ofstream(WebViewWorld::imageFolder()) << "in the way"; }

    world.tapWeb({100, 100});
    auto record = WebViewWorld::record();
    ASSERT_NE(record, nullptr);
    EXPECT_TRUE(record->achievedGridList().empty());
    EXPECT_EQ(record->expectedGridList().size(), 3u);
    EXPECT_EQ(log.count("Rivlo: WebViewHandler: Error saving web view image"), 1u) << log.all();

    std::filesystem::remove(WebViewWorld::imageFolder());
    world.tapWeb({110, 120});
    auto achieved = record->achievedGridList();
    ASSERT_EQ(achieved.size(), 1u);
    EXPECT_EQ(achieved[0].rect, Rect(0, 0, 320, 500));
    EXPECT_TRUE(std::filesystem::exists(WebViewWorld::imagePath(achieved[0].imageName)));
    EXPECT_EQ(record->expectedGridList().size(), 2u);
}

TEST(WebViewCapture, TileRenderingGivesThePixelsOfCroppingTheWholePage) {
    WebViewWorld world;
    // A page whose last row of tiles reaches past its end, with a fractional height, text,
    // rounded corners, a border and a translucent view across a tile boundary.
    world.showPage(WebViewWorld::kURL, {333, 1001.5});
    auto content = world.web().contentView();
    auto veil = std::make_shared<View>(Rect(5, 450, 300, 120));
    veil->setBackgroundColor(Color::rgb(90, 40, 160));
    veil->setAlpha(0.5);
    veil->setBorderWidth(3);
    veil->setCornerRadius(9);
    content->addSubview(veil);

    auto record = RVWebView::initWithWebViewName("page__1");
    record->loadExpectedGrid(content.get());
    ASSERT_EQ(record->totalRow(), 2);
    ASSERT_EQ(record->totalColumn(), 2);
    for (const auto& tile : record->expectedGridList()) {
        auto part = RVWebView::screenImage(*content, tile.rect);
        auto reference = RVWebView::screenImageByCroppingWholeView(*content, tile.rect);
        ASSERT_TRUE(part && reference) << stringFromRect(tile.rect);
        EXPECT_EQ(part->width(), reference->width()) << stringFromRect(tile.rect);
        EXPECT_EQ(part->height(), reference->height()) << stringFromRect(tile.rect);
        // Straight edges, fills and text are identical; the anti-aliased coverage of a curved
        // edge may round one level apart (its tessellation is done in the shifted space).
        int maxDelta = 0;
        size_t differing = 0;
        for (size_t i = 0; i < part->bytes().size() && i < reference->bytes().size(); ++i) {
            const int d = std::abs(int(part->bytes()[i]) - int(reference->bytes()[i]));
            maxDelta = std::max(maxDelta, d);
            differing += d != 0 ? 1 : 0;
        }
        EXPECT_LE(maxDelta, 1) << stringFromRect(tile.rect);
        EXPECT_LE(differing, 8u) << stringFromRect(tile.rect);
    }
    // The bitmap kept between captures starts clean each time: a tile rendered again after
    // another one of its size has the same pixels.
    const auto tiles = record->expectedGridList();
    auto first = RVWebView::screenImage(*content, tiles[0].rect);
    auto other = RVWebView::screenImage(*content, tiles[2].rect);
    auto again = RVWebView::screenImage(*content, tiles[0].rect);
    ASSERT_TRUE(first && other && again);
    EXPECT_FALSE(first->bytes() == other->bytes());
    EXPECT_TRUE(first->bytes() == again->bytes());
    // A rectangle outside the page has no pixels.
    EXPECT_FALSE(RVWebView::screenImage(*content, Rect(0, 2000, 100, 100)).has_value());
}

TEST(WebViewCapture, AbsentOrAbsurdContentBuildsNoGrid) {
    WebViewWorld world;
    LogLines log;
    auto record = RVWebView::initWithWebViewName("page__1");
    record->loadExpectedGrid(nullptr);
    EXPECT_EQ(record->totalRow(), 0);
    EXPECT_FALSE(record->screenshotHandler({1, 1}, nullptr));

    auto huge = std::make_shared<View>(Rect(0, 0, 1e9, 1e9));
    record->loadExpectedGrid(huge.get());
    EXPECT_EQ(record->totalRow(), 0);
    EXPECT_EQ(log.count("Rivlo: WebView: content of"), 1u);

    auto nan = std::make_shared<View>(Rect(0, 0, 320, std::nan("")));
    record->loadExpectedGrid(nan.get());
    EXPECT_EQ(record->totalRow(), 0);
    EXPECT_TRUE(record->expectedGridList().empty());
}

TEST(WebViewRecord, SavesAndRestoresItsGridAndAchievedTiles) {
    WebViewWorld world;
    RVUtil::appDeviceId("apd-7");
    world.tapWeb({100, 100});
    world.scrollTo({0, 1000});
    world.tapWeb({100, 100});
    auto record = WebViewWorld::record();
    ASSERT_NE(record, nullptr);

    const Value saved = record->savedDictionary();
    EXPECT_EQ(saved["webViewName"], WebViewWorld::key());
    EXPECT_EQ(saved["totalRow"], "3");
    EXPECT_EQ(saved["totalColumn"], "1");
    EXPECT_EQ(saved["elementImageWidth"], "320");
    EXPECT_EQ(saved["elementImageHeight"], "500");
    EXPECT_EQ(saved["key"], record->key());
    EXPECT_EQ(saved["appDeviceID"], "apd-7");
    ASSERT_EQ(saved["achievedGridList"].size(), 2u);
    EXPECT_EQ(saved["achievedGridList"][1]["rect"], "{{0, 1000}, {320, 500}}");

    auto restored = RVWebView::initFromSavedDictionary(saved);
    ASSERT_NE(restored, nullptr);
    EXPECT_EQ(restored->key(), record->key());
    EXPECT_EQ(restored->webViewName(), record->webViewName());
    EXPECT_EQ(restored->totalRow(), 3);
    EXPECT_EQ(restored->elementImageHeight(), 500);
    EXPECT_TRUE(restored->expectedGridList().empty());
    const auto tiles = restored->achievedGridList();
    ASSERT_EQ(tiles.size(), 2u);
    EXPECT_EQ(tiles[1].rect, Rect(0, 1000, 320, 500));
    EXPECT_EQ(tiles[1].imageName, record->achievedGridList()[1].imageName);
    EXPECT_EQ(tiles[1].tagInfo, "Kehi pani chaina");
    EXPECT_EQ(restored->description(), "Key:" + record->key() +
                                           ",Row:3, Column:1, Image Width:320, Image Height: 500, "
                                           "Web View Name:" +
                                           WebViewWorld::key() +
                                           ", Achieved GridList:2, Expected GridList: 0");

    // Hand-edited numbers read as the platform reads them; a non-dictionary is refused.
    Value odd = saved;
    odd["totalRow"] = " 12abc";
    odd["totalColumn"] = "x";
    odd["elementImageWidth"] = 640;
    auto oddRecord = RVWebView::initFromSavedDictionary(odd);
    ASSERT_NE(oddRecord, nullptr);
    EXPECT_EQ(oddRecord->totalRow(), 12);
    EXPECT_EQ(oddRecord->totalColumn(), 0);
    EXPECT_EQ(oddRecord->elementImageWidth(), 640);
    EXPECT_EQ(RVWebView::initFromSavedDictionary(Value::array()), nullptr);
    RVUtil::appDeviceId("");
}

TEST(WebViewRegistry, SavingHandsTheRecordsToTheStoreAndEmptiesTheRegistry) {
    WebViewWorld world;
    RVUtil::appDeviceId("apd-9");
    world.tapWeb({100, 100});
    world.showPage("https://shop.example.com/basket", {320, 400});
    world.tapWeb({10, 10});
    ASSERT_EQ(RVWebViewHandler::sharedHandler()->webViewDict().size(), 2u);
    EXPECT_FALSE(RVWebViewHandler::isNewWebView(WebViewWorld::key()));
    const auto images = WebViewWorld::imageFiles();

    RVWebViewHandler::saveWebViewData();
    EXPECT_TRUE(RVWebViewHandler::sharedHandler()->webViewDict().empty());
    EXPECT_TRUE(RVWebViewHandler::isNewWebView(WebViewWorld::key()));
    auto stored = RVPlistHandler::sharedHandler()->webViewList<RVWebView>();
    ASSERT_EQ(stored.size(), 2u);
    std::set<std::string> names;
    for (const auto& r : stored) {
        names.insert(r->webViewName());
        EXPECT_EQ(r->appDeviceID(), "apd-9");
        EXPECT_EQ(r->achievedGridList().size(), 1u);
    }
    EXPECT_EQ(names, (std::set<std::string>{WebViewWorld::key(),
                                            WebViewWorld::key("https://shop.example.com/basket")}));
    // The images the records name survive the store's clean-up of the folder.
    EXPECT_EQ(WebViewWorld::imageFiles(), images);

    // An empty registry adds nothing.
    RVWebViewHandler::saveWebViewData();
    EXPECT_EQ(RVPlistHandler::sharedHandler()->webViewList<RVWebView>().size(), 2u);
    RVUtil::appDeviceId("");
}

TEST(WebViewCapture, ATouchBesideAShortPageCapturesNothingAndTheGridIsThePages) {
    WebViewWorld world;
    world.showPage("https://shop.example.com/short", {320, 300});
    // Below the page's end the toolkit answers the scroll view: no tile there.
    world.tapWeb({100, 400});
    auto record = WebViewWorld::record(WebViewWorld::key("https://shop.example.com/short"));
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->totalRow(), 1);
    EXPECT_EQ(record->elementImageHeight(), 300);
    EXPECT_TRUE(record->achievedGridList().empty());
    EXPECT_TRUE(WebViewWorld::imageFiles().empty());
    // On a block drawn in the page, the page's tile is captured.
    world.tapWeb({60, 150});
    ASSERT_EQ(record->achievedGridList().size(), 1u);
    EXPECT_EQ(record->achievedGridList()[0].rect, Rect(0, 0, 320, 300));
}
