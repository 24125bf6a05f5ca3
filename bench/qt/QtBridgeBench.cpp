// The Qt bridge's main-thread costs, on Qt's offscreen platform:
//  - a movie frame of a list-and-table window at 390 x 844, 1280 x 800 and 1920 x 1080: painting
//    the window again (QWidget::render) against copying its backing store, each drawn into a
//    frame-sized bitmap as the screen recorder does;
//  - the application-wide event filter per input event when nothing is being touched, and at a
//    touch begin (tree check, hit test through the method table over 500 widgets, recognisers);
//  - the memory a 1920 x 1080 frame adds (frame bitmap and the frame image handed to the encoder).
//
//   bench_qt --benchmark_min_time=0.2

#include "qt/QtTestSupport.h"

#include "platform/Graphics.h"
#include "platform/Platform.h"
#include "platform/Window.h"
#include "platform/qt/QtShadowTree.h"
#include "platform/qt/QtWindowPixels.h"

#include <QPainter>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

using namespace rivlo;

namespace {

struct WindowSize {
    int width, height;
};
const WindowSize kSizes[] = {{390, 844}, {1280, 800}, {1920, 1080}};

// A list beside a table, as many applications' main windows are.
std::unique_ptr<QWidget> listAndTableWindow(WindowSize size) {
    rivlo::test::qtApplication();
    auto window = std::make_unique<QWidget>();
    auto* layout = new QVBoxLayout(window.get());
    auto* splitter = new QSplitter;
    auto* list = new QListWidget;
    for (int i = 0; i < 200; ++i)
        list->addItem(QString("Order %1 — waiting for payment").arg(1000 + i));
    auto* table = new QTableWidget(200, 6);
    for (int r = 0; r < 200; ++r)
        for (int c = 0; c < 6; ++c)
            table->setItem(r, c, new QTableWidgetItem(QString("R%1 C%2").arg(r).arg(c)));
    splitter->addWidget(list);
    splitter->addWidget(table);
    layout->addWidget(splitter);
    window->resize(size.width, size.height);
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get())) std::fprintf(stderr, "window not exposed\n");
    QApplication::processEvents();
    rivlo::test::qtBridge().tree().sync();
    return window;
}

void BM_FrameByPaintingTheWindow(benchmark::State& state) {
    const WindowSize size = kSizes[state.range(0)];
    auto window = listAndTableWindow(size);
    for (auto _ : state) {
        const QImage pixels = QtWindowPixels::render(window.get());
        benchmark::DoNotOptimize(pixels.constBits());
    }
    state.SetLabel(std::to_string(size.width) + "x" + std::to_string(size.height) + " render");
}

void BM_FrameByCopyingTheBackingStore(benchmark::State& state) {
    const WindowSize size = kSizes[state.range(0)];
    auto window = listAndTableWindow(size);
    auto shadow = rivlo::test::qtBridge().tree().windowForWidget(window.get());
    auto context = Platform::current().graphics()->makeBitmapContext(
        Size{double(size.width), double(size.height)}, true, 1.0);
    QtWindowPixels::Source source = QtWindowPixels::Source::None;
    QtWindowPixels::grab(window.get(), &source);
    for (auto _ : state) {
        // What the recorder's frame costs on the main thread: tree check, the copy into the
        // frame bitmap.
        benchmark::DoNotOptimize(
            context->drawViewHierarchy(*shadow, Rect(0, 0, size.width, size.height), false));
    }
    state.SetLabel(std::to_string(size.width) + "x" + std::to_string(size.height) +
                   (source == QtWindowPixels::Source::BackingStore ? " backing store"
                                                                   : " (store not usable)"));
}

// The render path drawn into the frame bitmap too, for a like-for-like frame.
void BM_FrameByPaintingIntoTheFrame(benchmark::State& state) {
    const WindowSize size = kSizes[state.range(0)];
    auto window = listAndTableWindow(size);
    QImage frame(size.width, size.height, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        const QImage pixels = QtWindowPixels::render(window.get());
        QPainter painter(&frame);
        painter.drawImage(QPoint(0, 0), pixels);
    }
    state.SetLabel(std::to_string(size.width) + "x" + std::to_string(size.height) +
                   " render + draw");
}

// A window of 500 widgets: 25 rows of 20 buttons.
std::unique_ptr<QWidget> manyWidgetsWindow() {
    rivlo::test::qtApplication();
    auto window = std::make_unique<QWidget>();
    window->resize(1000, 1000);
    for (int r = 0; r < 25; ++r)
        for (int c = 0; c < 20; ++c)
            (new QPushButton(QString::number(r * 20 + c), window.get()))
                ->setGeometry(c * 50, r * 40, 48, 38);
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get())) std::fprintf(stderr, "window not exposed\n");
    QApplication::processEvents();
    rivlo::test::qtBridge().tree().sync();
    return window;
}

void BM_EventFilterIdleInputEvent(benchmark::State& state) {
    auto window = manyWidgetsWindow();
    QObject* filter = &rivlo::test::qtBridge();
    QWidget* target = window->childAt(510, 410);
    QMouseEvent hover(QEvent::MouseMove, QPointF(5, 5), QPointF(515, 415), Qt::NoButton,
                      Qt::NoButton, Qt::NoModifier);
    for (auto _ : state) {
        benchmark::DoNotOptimize(filter->eventFilter(target, &hover));
    }
    state.SetLabel("mouse move, no button, 500 widgets");
}

void BM_EventFilterTouchBegin(benchmark::State& state) {
    auto window = manyWidgetsWindow();
    QObject* filter = &rivlo::test::qtBridge();
    QWidget* target = window->childAt(510, 410);
    const QPointF global = target->mapToGlobal(QPointF(5, 5));
    quint64 timestamp = 1;
    for (auto _ : state) {
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), global, Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        press.setTimestamp(++timestamp);
        const auto start = std::chrono::steady_clock::now();
        filter->eventFilter(target, &press);
        const auto end = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
        QMouseEvent release(QEvent::MouseButtonRelease, QPointF(5, 5), global, Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        release.setTimestamp(++timestamp);
        filter->eventFilter(target, &release);
    }
    state.SetLabel("left-button press, 500 widgets");
}

size_t residentBytes() {
    std::ifstream statm("/proc/self/statm");
    size_t pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * 4096;
}

void BM_MemoryOfA1920x1080Frame(benchmark::State& state) {
    auto window = listAndTableWindow({1920, 1080});
    auto shadow = rivlo::test::qtBridge().tree().windowForWidget(window.get());
    double added = 0;
    for (auto _ : state) {
        const size_t before = residentBytes();
        auto context =
            Platform::current().graphics()->makeBitmapContext(Size{1920, 1080}, true, 1.0);
        context->drawViewHierarchy(*shadow, Rect(0, 0, 1920, 1080), false);
        const Image frame = context->makeImage();
        benchmark::DoNotOptimize(frame.bytes().data());
        added = static_cast<double>(residentBytes() - before);
    }
    state.counters["MiB_added"] = added / (1024.0 * 1024.0);
}

}  // namespace

BENCHMARK(BM_FrameByPaintingTheWindow)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FrameByPaintingIntoTheFrame)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FrameByCopyingTheBackingStore)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EventFilterIdleInputEvent)->Unit(benchmark::kNanosecond);
BENCHMARK(BM_EventFilterTouchBegin)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MemoryOfA1920x1080Frame)->Iterations(3)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
