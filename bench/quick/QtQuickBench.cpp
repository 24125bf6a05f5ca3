// The Qt Quick bridge's main-thread costs, on Qt's offscreen platform (the software scene graph):
//
//   BM_QuickFrameAgainstBareGrab: one movie frame of a 1920 x 1080 QML window of 3,000 labels
//     (a password input and a registered item every 500, one rectangle moved before every
//     frame) as the screen recorder takes it on the main thread (the frame cleared, the window
//     drawn into it through the bridge: the window rendered, the renderer repainting what
//     changed, its picture shared with the frame, the masks of the items that may need them
//     worked out and what earlier frames' masks covered and the renderer left painted over;
//     the frame's image made on another thread, untimed, as the recorder's frame thread makes
//     it, which lets the picture go) against a bare QQuickWindow::grabWindow() of the same
//     scene, in the main thread's CPU time. Five rounds, the kinds interleaved in each (a
//     change of load falls on all alike), 20 frames of each kind a round after one untimed
//     (the other kinds have rendered the window: the bridge's first frame then repaints what
//     they painted, up to the whole window); the medians' ratio (goal: at most 1.2). Beside
//     them, to tell where the time goes: a grab with the whole window repainted (the software
//     renderer marked dirty, as the bridge does for a window's first frame or a new size) and
//     the masks alone. The same on a shop's page (a banner, a list, a password field and a
//     card) at 1920 x 1080.
//   BM_IdleQmlProgram: an idle QML program on the shared libraries (rivlo-quick-idle-probe, a
//     fresh process for each phase) without the library, with the bridge installed, and
//     recording at 2 frames a second, the three interleaved three times; the main thread's
//     wake-ups a second the library adds to the program alone (goal: nothing between frames,
//     that is at most the 2 frames a second while recording and none while only installed) and
//     its CPU time.
//
//   QT_QPA_PLATFORM=offscreen build/release/bench/quick/bench_quick
//   RIVLO_BENCH_KIND=bridge_ms (or grab_ms, grab_whole_ms, walk_ms): that kind of frame work
//   alone, to profile it (perf record --call-graph dwarf); the ratio is then meaningless.

#include "lifecycle/IdlePrograms.h"

#include "foundation/RunLoop.h"
#include "platform/Graphics.h"
#include "platform/Platform.h"
#include "platform/Window.h"
#include "platform/qt/QtFrameMasks.h"
#include "platform/quick/QtItemMasks.h"
#include "platform/quick/QtQuickBridge.h"
#include "platform/quick/QtQuickWindows.h"

#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>
#include <private/qquickwindow_p.h>
#include <private/qsgabstractsoftwarerenderer_p.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace rivlo;

namespace {

double threadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

QGuiApplication& quickApplication() {
    static QGuiApplication* app = [] {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
        static int argc = 1;
        static char name[] = "rivlo-quick-bench";
        static char* argv[] = {name, nullptr};
        RunLoop::main().setMainThread();
        auto* created = new QGuiApplication(argc, argv);  // lives for the process
        QtQuickBridge::install(*created);
        return created;
    }();
    return *app;
}

// 60 columns of 50 rows of labels; every 500th a password input, every 500th (offset by 250) a
// registered rectangle; a rectangle the benchmark moves.
const char* const kLabels = R"(
import QtQuick
Window {
    width: 1920; height: 1080; visible: true; color: "white"
    Repeater {
        model: 3000
        delegate: Item {
            required property int index
            x: (index % 60) * 32; y: Math.floor(index / 60) * 21; width: 31; height: 20
            Text { visible: index % 500 != 250; text: index; font.pixelSize: 12 }
            TextInput {
                visible: index % 500 == 250; width: 31; height: 20
                echoMode: TextInput.Password; text: "secret"
            }
            Rectangle {
                objectName: index % 500 == 0 ? "card" : ""
                visible: index % 500 == 0; anchors.fill: parent; color: "#2ead5b"
            }
        }
    }
    Rectangle { objectName: "mover"; x: 100; y: 500; width: 120; height: 40; color: "#2e6f9e" }
}
)";

// A shop's page: a banner, a list of 40 rows of which 25 show, a password field and a registered
// card beside it; the rectangle the benchmark moves.
const char* const kShopPage = R"(
import QtQuick
Window {
    width: 1920; height: 1080; visible: true; color: "white"
    Rectangle {
        width: 1920; height: 140; color: "#2e6f9e"
        Text { x: 16; y: 16; text: "Spring sale: walnut and oak"; color: "white"; font.pixelSize: 28 }
    }
    ListView {
        x: 0; y: 140; width: 1200; height: 940; clip: true
        model: 40
        delegate: Rectangle {
            required property int index
            width: 1200; height: 37; color: index % 2 ? "#f4f4f4" : "white"
            Text { x: 16; anchors.verticalCenter: parent.verticalCenter; font.pixelSize: 16
                   text: "Product " + (index + 1) + " — " + (index + 10) + ".00" }
        }
    }
    TextInput {
        x: 1260; y: 200; width: 600; height: 40; font.pixelSize: 24
        echoMode: TextInput.Password; text: "secret"
    }
    Item {
        x: 1260; y: 300; width: 600; height: 300
        Rectangle { objectName: "card"; anchors.fill: parent; radius: 8; color: "#2ead5b" }
    }
    Rectangle { objectName: "mover"; x: 100; y: 500; width: 120; height: 40; color: "#d6963c" }
}
)";

void BM_QuickFrameAgainstBareGrab(benchmark::State& state) {
    QGuiApplication& app = quickApplication();
    QQmlApplicationEngine engine;
    engine.loadData(state.range(0) == 0 ? kLabels : kShopPage);
    auto* window = engine.rootObjects().isEmpty()
                       ? nullptr
                       : qobject_cast<QQuickWindow*>(engine.rootObjects().front());
    if (!window || !QTest::qWaitForWindowExposed(window)) {
        state.SkipWithError("the window did not show");
        return;
    }
    QtQuickBridge& bridge = *QtQuickBridge::current();
    QQuickItem* mover = nullptr;
    for (QQuickItem* cell : window->contentItem()->childItems()) {
        if (cell->objectName() == "mover") mover = cell;
        for (QQuickItem* child : cell->childItems()) {
            if (child->objectName() == "card") bridge.itemMasks().registerItem(child);
        }
    }
    std::shared_ptr<Window> shadow;
    if (!QTest::qWaitFor([&] { return (shadow = bridge.windows().windowFor(window)) != nullptr; },
                         10000) ||
        !mover) {
        state.SkipWithError("the window is not a window of the recording");
        return;
    }
    app.processEvents();
    auto context = Platform::current().graphics()->makeBitmapContext({1920, 1080}, true, 1.0);
    int step = 0;
    const auto move = [&] { mover->setX(100 + (step++ % 400) * 4); };

    // The kinds of frame work, each timed on its own in this thread's CPU time.
    const std::vector<std::pair<const char*, std::function<void()>>> kinds = {
        {"grab_ms", [&] { benchmark::DoNotOptimize(window->grabWindow().constBits()); }},
        {"grab_whole_ms",
         [&] {
             const auto repaint = QObject::connect(
                 window, &QQuickWindow::beforeRendering, window,
                 [window] {
                     if (auto* software = dynamic_cast<QSGAbstractSoftwareRenderer*>(
                             QQuickWindowPrivate::get(window)->renderer))
                         software->markDirty();
                 },
                 Qt::DirectConnection);
             benchmark::DoNotOptimize(window->grabWindow().constBits());
             QObject::disconnect(repaint);
         }},
        {"walk_ms",
         [&] {
             QtFrameMasks masks(QRect(0, 0, 1920, 1080));
             bridge.itemMasks().collect(window, QTransform(), QRectF(0, 0, 1920, 1080), masks);
             benchmark::DoNotOptimize(masks.dropped());
         }},
        {"bridge_ms",
         [&] {
             context->setFillColor(Color::black());
             context->fillRect(Rect(0, 0, 1920, 1080));
             context->drawViewHierarchy(*shadow, Rect(0, 0, 1920, 1080), false);
         }},
    };
    constexpr int kRounds = 5, kFrames = 20;
    std::vector<std::vector<double>> perRound(kinds.size());
    for (auto _ : state) {
        for (int round = 0; round < kRounds; ++round) {
            for (size_t k = 0; k < kinds.size(); ++k) {
                // Each round starts with another kind.
                const size_t kind = (k + static_cast<size_t>(round)) % kinds.size();
                if (const char* only = std::getenv("RIVLO_BENCH_KIND");
                    only && kinds[kind].first != std::string(only)) {
                    perRound[kind].push_back(0);
                    continue;
                }
                double total = 0;
                for (int f = -1; f < kFrames; ++f) {
                    move();
                    const double start = threadSeconds();
                    kinds[kind].second();
                    if (f >= 0) total += threadSeconds() - start;
                    // The frame's image is made on another thread, as the recorder's frame
                    // thread makes it (the grabbed pixels are let go there).
                    if (kinds[kind].first == std::string("bridge_ms")) {
                        std::thread([&] {
                            benchmark::DoNotOptimize(context->makeImage().bytes().data());
                        }).join();
                    }
                }
                perRound[kind].push_back(total / kFrames * 1000);
            }
        }
        state.SetIterationTime(median(perRound.back()) / 1000);
    }
    for (size_t k = 0; k < kinds.size(); ++k)
        state.counters[kinds[k].first] = median(perRound[k]);
    state.counters["bridge_over_grab"] = median(perRound[3]) / median(perRound[0]);
    state.SetLabel(std::string("1920x1080, ") +
                   (state.range(0) == 0 ? "3,000 labels" : "a shop's page") +
                   ", software scene graph, medians of 5 rounds");
}
// 0: 3,000 labels; 1: a shop's page.
BENCHMARK(BM_QuickFrameAgainstBareGrab)
    ->DenseRange(0, 1)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

#ifdef RIVLO_QUICK_IDLE_PROBE
void BM_IdleQmlProgram(benchmark::State& state) {
    rivlo::bench::IdlePhases phases;
    for (auto _ : state) {
        // The probe prints a third number: the window's own renderings a second.
        phases = rivlo::bench::runIdlePhases(RIVLO_QUICK_IDLE_PROBE, 3, 3, 10);
        state.SetIterationTime(3 * 3 * 10.0);
    }
    rivlo::bench::reportIdlePhases(state, phases);
    if (phases.error.empty()) state.counters["recording_renderings_per_s"] = phases.medians[2][2];
    state.SetLabel("390x844 QML window, nothing moving, 10 s per phase, medians of 3");
}
BENCHMARK(BM_IdleQmlProgram)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);
#endif

}  // namespace

BENCHMARK_MAIN();
