// The window hit-test hook: a repeated point (nothing recorded) and a new touch on a key window
// of 500 views (gesture attachment, point update and the password-field scan).

#include "interaction/InteractionWorld.h"

#include "interaction/RVTouchHooks.h"
#include "platform/TextField.h"
#include "support/Registrations.h"

#include <benchmark/benchmark.h>

using namespace rivlo;
using namespace rivlo::test;

namespace {

// The hooks and session steps the library's start registers, for the recorders this suite
// links.
const bool kRegistered = (rivlo::test::registerInteraction(), rivlo::test::registerScreenRecorder(),
                          rivlo::test::registerTimeline(), true);

// 500 views under the key window: 25 groups of 19 plain views and one text field (every fifth
// one secure), so the scan walks nested levels like a real screen.
void fillWindow(Window& window) {
    for (int g = 0; g < 25; ++g) {
        auto group = std::make_shared<View>(Rect(0, g * 18.0, 320, 18));
        for (int i = 0; i < 18; ++i) {
            group->addSubview(std::make_shared<View>(Rect(i * 17.0, 0, 16, 16)));
        }
        auto field = std::make_shared<TextField>(Rect(300, 0, 20, 16));
        field->setSecureTextEntry(g % 5 == 0);
        group->addSubview(field);
        window.addSubview(group);
    }
}

size_t countViews(const View& view) {
    size_t n = 0;
    for (const auto& s : view.subviews())
        n += 1 + countViews(*s);
    return n;
}

void BM_HitTestRepeatedPoint(benchmark::State& state) {
    InteractionWorld world;
    RVUtil::setting()->setIsScreenVideoOn(true);
    fillWindow(*world.window());
    const Point p{5, 5};
    world.window()->hitTest(p, nullptr);  // the touch is recorded once
    for (auto _ : state) {
        benchmark::DoNotOptimize(world.window()->hitTest(p, nullptr));
    }
    state.counters["views"] = static_cast<double>(countViews(*world.window()));
}
BENCHMARK(BM_HitTestRepeatedPoint);

void BM_HitTestNewTouchWithScan(benchmark::State& state) {
    InteractionWorld world;
    RVUtil::setting()->setIsScreenVideoOn(true);
    fillWindow(*world.window());
    double x = 0;
    for (auto _ : state) {
        // Alternate between two points so that every call is a new touch.
        x = x == 5 ? 6 : 5;
        benchmark::DoNotOptimize(world.window()->hitTest({x, 5}, nullptr));
    }
    state.counters["views"] = static_cast<double>(countViews(*world.window()));
}
BENCHMARK(BM_HitTestNewTouchWithScan);

// The toolkit's own window hit test without the hook, for comparison.
void BM_ToolkitHitTestOnly(benchmark::State& state) {
    InteractionWorld world;
    fillWindow(*world.window());
    for (auto _ : state) {
        benchmark::DoNotOptimize(world.window()->defaultHitTest({5, 5}, nullptr));
    }
}
BENCHMARK(BM_ToolkitHitTestOnly);

// The hook's own work for a repeated point, without the toolkit's hit test.
void BM_NoteTouchRepeatedPoint(benchmark::State& state) {
    InteractionWorld world;
    RVUtil::setting()->setIsScreenVideoOn(true);
    fillWindow(*world.window());
    RVTouchHooks::noteTouch({5, 5});
    for (auto _ : state) {
        RVTouchHooks::noteTouch({5, 5});
    }
}
BENCHMARK(BM_NoteTouchRepeatedPoint);

// The recording part alone, without the toolkit's own hit test.
void BM_NoteTouchNewWithScan(benchmark::State& state) {
    InteractionWorld world;
    RVUtil::setting()->setIsScreenVideoOn(true);
    fillWindow(*world.window());
    double x = 0;
    for (auto _ : state) {
        x = x == 5 ? 6 : 5;
        RVTouchHooks::noteTouch({x, 5});
    }
}
BENCHMARK(BM_NoteTouchNewWithScan);

}  // namespace

BENCHMARK_MAIN();
