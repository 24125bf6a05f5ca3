// The main thread's time per recorded frame of a still 1920 x 1080 QML window (400 labelled
// rectangles, a password field) on a hardware scene graph, in one run:
//  - grab: a bare QQuickWindow::grabWindow(), which renders the scene again while the main thread
//    waits (the way frames were taken before the read-back);
//  - readback: the frame asked for (QtQuickReadback::capture) plus the time the main thread is
//    held for that frame: with the threaded render loop while the scene graph synchronises the
//    items (the masks worked out then included); with the basic loop the whole frame, which the
//    main thread renders itself (a still window renders only for the recorded frame, so all of
//    it is counted). The frame is finished on a thread of its own, as the recorder's thread
//    does, while the main thread turns its event loop.
// The readback figure over the grab figure is reported as `ratio`.
//
//   tests/quick/run-with-xvfb.sh env QT_QPA_PLATFORM=offscreen QT_QUICK_BACKEND=rhi
//       QSG_RHI_BACKEND=opengl QSG_RENDER_LOOP=threaded
//       build/release/bench/quickrhi/bench_quick_rhi
//   (Vulkan: QT_QPA_PLATFORM=xcb QSG_RHI_BACKEND=vulkan)

#include "foundation/RunLoop.h"
#include "platform/qt/QtFrameCapture.h"
#include "platform/quick/QtItemMasks.h"
#include "platform/quick/QtQuickReadback.h"

#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QThread>

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

using namespace rivlo;
using Clock = std::chrono::steady_clock;

namespace {

double since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

QGuiApplication& application() {
    static QGuiApplication* app = [] {
        static int argc = 1;
        static char name[] = "bench_quick_rhi";
        static char* argv[] = {name, nullptr};
        RunLoop::main().setMainThread();
        return new QGuiApplication(argc, argv);
    }();
    return *app;
}

const char* const kScene = R"(
import QtQuick
Window {
    width: 1920; height: 1080; visible: true; color: "white"
    Grid {
        columns: 20; spacing: 4
        Repeater {
            model: 400
            Rectangle {
                width: 92; height: 42; color: index % 2 ? "#e0e8f0" : "#f0e8e0"
                Text { anchors.centerIn: parent; text: "Item " + index; font.pixelSize: 16 }
            }
        }
    }
    TextInput {
        x: 100; y: 1000; width: 400; height: 50; font.pixelSize: 40
        echoMode: TextInput.Password; text: "secretsecret"
    }
}
)";

// The time the main thread is held for the scene graph's frames: their synchronisation on the
// render thread (the main thread waits), or the whole frame when the main thread renders it.
struct Held {
    std::atomic<double> seconds{0};
    Clock::time_point start;

    explicit Held(QQuickWindow* window) {
        // Connected after the read-back's own: its walk of the items is inside.
        QObject::connect(
            window, &QQuickWindow::beforeSynchronizing, window,
            [this] {
                if (!onMainThread()) start = Clock::now();
            },
            Qt::DirectConnection);
        QObject::connect(
            window, &QQuickWindow::afterSynchronizing, window,
            [this] {
                if (!onMainThread()) add(since(start));
            },
            Qt::DirectConnection);
        QObject::connect(
            window, &QQuickWindow::beforeFrameBegin, window,
            [this] {
                if (onMainThread()) start = Clock::now();
            },
            Qt::DirectConnection);
        QObject::connect(
            window, &QQuickWindow::afterFrameEnd, window,
            [this] {
                if (onMainThread()) add(since(start));
            },
            Qt::DirectConnection);
    }
    static bool onMainThread() { return QThread::currentThread() == application().thread(); }
    void add(double s) { seconds.store(seconds.load() + s); }
};

void BM_StillWindowFrame(benchmark::State& state) {
    application();
    QQmlApplicationEngine engine;
    engine.loadData(kScene);
    auto* window = qobject_cast<QQuickWindow*>(engine.rootObjects().value(0));
    if (!window) {
        state.SkipWithError("the scene did not load");
        return;
    }
    while (!window->isExposed())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    const QSGRendererInterface::GraphicsApi api = window->rendererInterface()->graphicsApi();
    if (!QSGRendererInterface::isApiRhiBased(api)) {
        state.SkipWithError(
            "not a hardware scene graph (run under tests/quick/run-with-xvfb.sh "
            "with QT_QUICK_BACKEND=rhi)");
        return;
    }
    QtItemMasks masks;
    QtQuickReadback* readback = QtQuickReadback::of(window, masks);
    Held held(window);
    const QSize size(1920, 1080);
    const QRectF target(0, 0, 1920, 1080);
    double grabTotal = 0, readbackTotal = 0, finishTotal = 0;
    int frames = 0, dropped = 0;
    for (auto _ : state) {
        QCoreApplication::processEvents();
        auto start = Clock::now();
        const QImage grabbed = window->grabWindow();
        const double grab = since(start);
        benchmark::DoNotOptimize(grabbed.constBits());
        QCoreApplication::processEvents();

        held.seconds = 0;
        start = Clock::now();
        std::shared_ptr<QtFrame> frame = readback->capture(target, size);
        const double asked = since(start);
        std::atomic<bool> done{false};
        std::atomic<double> finishing{0};
        std::thread drawer([&] {
            const auto begun = Clock::now();
            frame->finish(true);
            finishing = since(begun);
            done = true;
        });
        while (!done.load())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        drawer.join();
        const double main = asked + held.seconds.load();
        state.SetIterationTime(main);
        grabTotal += grab;
        readbackTotal += main;
        finishTotal += finishing.load();
        ++frames;
        if (frame->dropped()) ++dropped;
    }
    if (frames == 0) return;
    state.counters["grab_ms"] = 1000 * grabTotal / frames;
    state.counters["readback_main_ms"] = 1000 * readbackTotal / frames;
    state.counters["ratio"] = readbackTotal / grabTotal;
    state.counters["frame_thread_ms"] = 1000 * finishTotal / frames;
    state.counters["dropped"] = dropped;
    std::printf(
        "%s, %s loop: grab %.2f ms, read-back main thread %.3f ms (ratio %.3f), frame "
        "thread %.2f ms, %d of %d frames dropped\n",
        api == QSGRendererInterface::Vulkan ? "Vulkan" : "OpenGL",
        qEnvironmentVariable("QSG_RENDER_LOOP", "default").toUtf8().constData(),
        1000 * grabTotal / frames, 1000 * readbackTotal / frames, readbackTotal / grabTotal,
        1000 * finishTotal / frames, dropped, frames);
}
BENCHMARK(BM_StillWindowFrame)->Iterations(40)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
