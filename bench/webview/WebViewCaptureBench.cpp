// Capture of one tile from a 390 x 3000 page on a 390 x 844 phone (tiles of 390 x 750): the main
// thread's time per capture (render, JPEG at quality 0.5, file write) and the JPEG bytes per
// tile, beside the whole-page render the capture used to crop its tile from, and a whole touch
// through the key window's hit test.

#include "webview/WebViewWorld.h"
#include "support/Registrations.h"

#include <benchmark/benchmark.h>

#include <sys/stat.h>

using namespace rivlo;
using namespace rivlo::test;

namespace {

// The hooks and session steps the library's start registers, for the recorders this suite
// links.
const bool kRegistered = (rivlo::test::registerWebViews(), rivlo::test::registerTimeline(), true);

constexpr Size kScreen{390, 844};
constexpr Size kPage{390, 3000};

// A page like a shop's catalogue: a header, then cards with a picture area, a title and two
// lines of text, every 150 points.
void fillPage(WebViewWorld& world) {
    world.web().loadPage(WebViewWorld::kURL, kPage);
    auto content = world.web().contentView();
    content->setBackgroundColor(Color::rgb(248, 248, 250));
    auto header = std::make_shared<View>(Rect(0, 0, kPage.width, 90));
    header->setBackgroundColor(Color::rgb(30, 60, 120));
    content->addSubview(header);
    for (int i = 0; i * 150 + 100 < kPage.height; ++i) {
        const double y = 100 + i * 150.0;
        auto card = std::make_shared<View>(Rect(12, y, kPage.width - 24, 138));
        card->setBackgroundColor(Color::white());
        card->setCornerRadius(10);
        card->setBorderWidth(1);
        card->setBorderColor(Color::rgb(220, 220, 225));
        auto picture = std::make_shared<View>(Rect(10, 10, 110, 118));
        picture->setBackgroundColor(Color::rgb(40 + (i * 37) % 200, 120, 200 - (i * 23) % 150));
        card->addSubview(picture);
        auto title = std::make_shared<Label>(Rect(130, 12, 220, 24));
        title->setText("Item " + std::to_string(i + 1) + " of the catalogue");
        title->setFontSize(17);
        card->addSubview(title);
        auto text = std::make_shared<Label>(Rect(130, 42, 220, 80));
        text->setText("A short description of the item that wraps onto a second line of text.");
        text->setFontSize(14);
        text->setNumberOfLines(0);
        card->addSubview(text);
        content->addSubview(card);
    }
}

int64_t fileSize(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : 0;
}

// One capture as a touch makes it: a fresh record (so the tile is still expected), its grid and
// the tile under the content point.
void BM_CaptureOneTile(benchmark::State& state) {
    WebViewWorld world(kScreen);
    fillPage(world);
    auto content = world.web().contentView();
    const Point point{200, 1600};  // the third row
    int64_t bytes = 0;
    int64_t captures = 0;
    for (auto _ : state) {
        auto record = RVWebView::initWithWebViewName("bench__1");
        record->loadExpectedGrid(content.get());
        if (!record->screenshotHandler(point, content.get())) {
            state.SkipWithError("no capture");
            break;
        }
        state.PauseTiming();
        const std::string path = WebViewWorld::imagePath(record->achievedGridList()[0].imageName);
        bytes += fileSize(path);
        ++captures;
        std::filesystem::remove(path);
        state.ResumeTiming();
    }
    state.counters["jpeg_bytes_per_tile"] = captures ? double(bytes) / double(captures) : 0;
    state.counters["tile_w"] = 390;
    state.counters["tile_h"] = 750;
}
BENCHMARK(BM_CaptureOneTile)->Unit(benchmark::kMillisecond);

// The stages of one capture.
void BM_RenderTileOnly(benchmark::State& state) {
    WebViewWorld world(kScreen);
    fillPage(world);
    auto content = world.web().contentView();
    const Rect tile(0, 1500, 390, 750);
    for (auto _ : state)
        benchmark::DoNotOptimize(RVWebView::screenImage(*content, tile));
}
BENCHMARK(BM_RenderTileOnly)->Unit(benchmark::kMillisecond);

void BM_RenderWholePageAndCrop(benchmark::State& state) {
    WebViewWorld world(kScreen);
    fillPage(world);
    auto content = world.web().contentView();
    const Rect tile(0, 1500, 390, 750);
    for (auto _ : state)
        benchmark::DoNotOptimize(RVWebView::screenImageByCroppingWholeView(*content, tile));
}
BENCHMARK(BM_RenderWholePageAndCrop)->Unit(benchmark::kMillisecond);

void BM_EncodeTileJpeg(benchmark::State& state) {
    WebViewWorld world(kScreen);
    fillPage(world);
    auto image = RVWebView::screenImage(*world.web().contentView(), Rect(0, 1500, 390, 750));
    size_t bytes = 0;
    for (auto _ : state) {
        auto jpeg = image->jpegData(RVWebView::kJpegQuality);
        bytes = jpeg.size();
        benchmark::DoNotOptimize(jpeg);
    }
    state.counters["jpeg_bytes"] = double(bytes);
}
BENCHMARK(BM_EncodeTileJpeg)->Unit(benchmark::kMillisecond);

// A whole new touch on the page through the key window's hit test: the hook's address look-up,
// screen naming, grid and capture. The registry is emptied between touches so that each one
// captures.
void BM_TouchCapturingATile(benchmark::State& state) {
    WebViewWorld world(kScreen);
    fillPage(world);
    world.scrollTo({0, 1400});
    double x = 100;
    for (auto _ : state) {
        x = x == 100 ? 101 : 100;
        world.window()->hitTest({x, 300}, nullptr);
        state.PauseTiming();
        auto record = WebViewWorld::record();
        if (!record || record->achievedGridList().size() != 1) {
            state.SkipWithError("no capture");
            break;
        }
        std::filesystem::remove(WebViewWorld::imagePath(record->achievedGridList()[0].imageName));
        RVWebViewHandler::sharedHandler()->applicationDidBecomeActive();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_TouchCapturingATile)->Unit(benchmark::kMillisecond);

// A repeated hit test of the same touch: nothing but the duplicate check.
void BM_RepeatedHitTest(benchmark::State& state) {
    WebViewWorld world(kScreen);
    fillPage(world);
    world.window()->hitTest({100, 300}, nullptr);
    for (auto _ : state)
        benchmark::DoNotOptimize(world.window()->hitTest({100, 300}, nullptr));
}
BENCHMARK(BM_RepeatedHitTest);

}  // namespace

BENCHMARK_MAIN();
