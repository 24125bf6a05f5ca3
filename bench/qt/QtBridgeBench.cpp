// The Qt bridge's main-thread costs, on Qt's offscreen platform:
//  - a movie frame of a list-and-table window at 390 x 844, 1280 x 800 and 1920 x 1080: painting
//    the window again (QWidget::render) against copying its backing store, alone and as the
//    screen recorder's whole main-thread frame (clear, draw, occlude, make the frame image);
//  - the application-wide event filter per input event when nothing is being touched, and at a
//    touch begin (tree check, hit test through the method table over 500 widgets, recognisers),
//    against Qt's own hit test (QWidget::childAt) on the same window;
//  - the memory a 1920 x 1080 frame adds (frame bitmap and the frame image handed to the encoder);
//  - moving one widget at 60 Hz over 3,000 labels: the main thread's CPU time per second of the
//    program alone, of the same program with the library installed, and recording (each in a
//    process of its own: the library cannot be taken out of a process again);
//  - the main thread's work for one frame of a 1920 x 1080 window of 3,000 widgets, masks
//    included (the frame's image is made on the frame's own thread, reported apart).
//
//   bench_qt --benchmark_min_time=0.2

#include "qt/QtTestSupport.h"

#include "platform/Graphics.h"
#include "platform/Platform.h"
#include "platform/Window.h"
#include "platform/qt/QtShadowTree.h"
#include "platform/qt/QtWindowPixels.h"
#include "rivlo/qt/QtPlatform.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QSplitter>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <functional>
#include <future>
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

// What the screen recorder does on the main thread for one frame, with the window's pixels
// copied from its backing store: the reused frame bitmap cleared to black, the window drawn
// into it, a card-sized area painted over, the frame image made for the encoder.
void recorderFrame(GraphicsContext& context, Window& window, Size size) {
    context.setFillColor(Color::black());
    context.fillRect(Rect(0, 0, size.width, size.height));
    context.saveGState();
    context.drawViewHierarchy(window, Rect(0, 0, size.width, size.height), false);
    context.restoreGState();
    context.setFillColor(Color{1.0, 0, 0, 1.0});
    context.fillRect(Rect(20, 20, 300, 180));
    const Image frame = context.makeImage();
    benchmark::DoNotOptimize(frame.bytes().data());
}

void BM_FrameByCopyingTheBackingStore(benchmark::State& state) {
    const WindowSize size = kSizes[state.range(0)];
    auto window = listAndTableWindow(size);
    auto shadow = rivlo::test::qtBridge().tree().windowForWidget(window.get());
    const Size points{double(size.width), double(size.height)};
    auto context = Platform::current().graphics()->makeBitmapContext(points, true, 1.0);
    QtWindowPixels::Source source = QtWindowPixels::Source::None;
    const QImage store = QtWindowPixels::grab(window.get(), &source);
    for (auto _ : state)
        recorderFrame(*context, *shadow, points);
    state.SetLabel(std::to_string(size.width) + "x" + std::to_string(size.height) +
                   (source == QtWindowPixels::Source::BackingStore
                        ? " copy (store " + std::to_string(int(store.format())) + ")"
                        : std::string(" (store not usable)")));
}

// The same frame when the window is painted again instead (QWidget::render), for comparison.
void BM_FrameByPaintingTheWindowIntoTheRecorderFrame(benchmark::State& state) {
    const WindowSize size = kSizes[state.range(0)];
    auto window = listAndTableWindow(size);
    const Size points{double(size.width), double(size.height)};
    auto context = Platform::current().graphics()->makeBitmapContext(points, true, 1.0);
    Image pixels;
    for (auto _ : state) {
        const QImage painted = QtWindowPixels::render(window.get());
        std::vector<uint8_t> bytes(painted.constBits(),
                                   painted.constBits() + painted.sizeInBytes());
        pixels = Image(painted.width(), painted.height(), 1.0, std::move(bytes));
        context->setFillColor(Color::black());
        context->fillRect(Rect(0, 0, points.width, points.height));
        context->drawImage(pixels, Rect(0, 0, points.width, points.height));
        context->setFillColor(Color{1.0, 0, 0, 1.0});
        context->fillRect(Rect(20, 20, 300, 180));
        const Image frame = context->makeImage();
        benchmark::DoNotOptimize(frame.bytes().data());
    }
    state.SetLabel(std::to_string(size.width) + "x" + std::to_string(size.height) + " render");
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

double threadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// The filter's cost at a touch begin (tree check, hit test through the method table over 500
// widgets, recognisers), in this thread's CPU time so that a busy machine does not inflate it.
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
        const double start = threadSeconds();
        filter->eventFilter(target, &press);
        state.SetIterationTime(threadSeconds() - start);
        QMouseEvent release(QEvent::MouseButtonRelease, QPointF(5, 5), global, Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        release.setTimestamp(++timestamp);
        filter->eventFilter(target, &release);
    }
    state.SetLabel("left-button press, 500 widgets");
}

// The baseline in the same run: Qt's own hit test (QWidget::childAt) on the same window, timed
// the same way.
void BM_QtChildAtBaseline(benchmark::State& state) {
    auto window = manyWidgetsWindow();
    for (auto _ : state) {
        const double start = threadSeconds();
        benchmark::DoNotOptimize(window->childAt(515, 415));
        state.SetIterationTime(threadSeconds() - start);
    }
    state.SetLabel("QWidget::childAt, 500 widgets");
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

// A 1920 x 1080 window of 3,000 labels, 60 columns of 50 rows; with `secrets`, a password
// field and a registered widget every 500 labels.
std::unique_ptr<QWidget> labelsWindow(bool secrets) {
    auto window = std::make_unique<QWidget>();
    window->resize(1920, 1080);
    for (int i = 0; i < 3000; ++i) {
        const QRect cell((i % 60) * 32, (i / 60) * 21, 31, 20);
        if (secrets && i % 500 == 250) {
            auto* field = new QLineEdit("secret", window.get());
            field->setEchoMode(QLineEdit::Password);
            field->setGeometry(cell);
        } else if (secrets && i % 500 == 0) {
            auto* card = new QLabel("card", window.get());
            card->setGeometry(cell);
            rivlo::QtPlatform::occludeSensitiveWidget(card);
        } else {
            (new QLabel(QString::number(i), window.get()))->setGeometry(cell);
        }
    }
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get())) std::fprintf(stderr, "window not exposed\n");
    QApplication::processEvents();
    return window;
}

// Moving one widget at 60 Hz over 3,000 labels, for `seconds`: the main thread's CPU time per
// second; `everyHalfSecond` runs twice a second meanwhile.
double mainThreadMsPerSecond(QWidget* mover, double seconds,
                             const std::function<void()>& everyHalfSecond) {
    QTimer move;
    move.setTimerType(Qt::PreciseTimer);
    move.setInterval(16);
    int step = 0;
    QObject::connect(&move, &QTimer::timeout, [&] { mover->move(100 + (step++ % 400) * 4, 500); });
    QTimer frames;
    frames.setInterval(500);
    if (everyHalfSecond) QObject::connect(&frames, &QTimer::timeout, everyHalfSecond);
    move.start();
    frames.start();
    const double cpu0 = threadSeconds();
    const auto wall0 = std::chrono::steady_clock::now();
    QTest::qWait(static_cast<int>(seconds * 1000));
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    return (threadSeconds() - cpu0) / wall * 1000;
}

// One phase of the move benchmark in a process of its own (the library cannot be taken out of a
// process again): the program alone, with the library installed, or recording. Prints the main
// thread's CPU milliseconds per second.
int movePhase(const std::string& phase, double seconds) {
    if (phase == "alone") {
        rivlo::test::qtApplicationWithoutBridge();
    } else {
        rivlo::test::qtApplication();
    }
    auto window = labelsWindow(false);
    auto* mover = new QLabel("moving", window.get());
    mover->setAutoFillBackground(true);
    mover->setGeometry(100, 500, 120, 40);
    mover->show();
    std::function<void()> frame;
    std::shared_ptr<Window> shadow;
    std::unique_ptr<GraphicsContext> context;
    // The recorder's frame thread: waits for a frame drawn on the main thread, makes its image.
    std::mutex mutex;
    std::condition_variable drawn;
    bool pending = false, quit = false;
    std::thread frameThread;
    if (phase == "recorded") {
        auto& tree = rivlo::test::qtBridge().tree();
        tree.sync();
        shadow = tree.windowForWidget(window.get());
        context = Platform::current().graphics()->makeBitmapContext({1920, 1080}, true, 1.0);
        frameThread = std::thread([&] {
            std::unique_lock lock(mutex);
            while (true) {
                drawn.wait(lock, [&] { return pending || quit; });
                if (quit) return;
                lock.unlock();
                benchmark::DoNotOptimize(context->makeImage().bytes().data());
                lock.lock();
                pending = false;
            }
        });
        // Twice a second, as the recorder draws it: on the main thread, then handed over.
        frame = [&] {
            {
                std::lock_guard lock(mutex);
                if (pending) return;  // the last one is still being made: skipped
            }
            context->setFillColor(Color::black());
            context->fillRect(Rect(0, 0, 1920, 1080));
            context->drawViewHierarchy(*shadow, Rect(0, 0, 1920, 1080), false);
            {
                std::lock_guard lock(mutex);
                pending = true;
            }
            drawn.notify_one();
        };
    }
    mainThreadMsPerSecond(mover, 1.0, frame);  // settling
    const double ms = mainThreadMsPerSecond(mover, seconds, frame);
    if (frameThread.joinable()) {
        {
            std::lock_guard lock(mutex);
            quit = true;
        }
        drawn.notify_one();
        frameThread.join();
    }
    std::printf("%.4f\n", ms);
    std::fflush(stdout);
    return 0;
}

// Moving one widget at 60 Hz over 3,000 labels: the program alone, with the library installed,
// recording, each phase in a process of its own, the three interleaved five times (medians), so
// that a change of load falls on all of them alike.
void BM_MovingOneWidgetOver3000Labels(benchmark::State& state) {
    const char* phases[] = {"alone", "installed", "recorded"};
    for (auto _ : state) {
        std::vector<double> ms[3];
        for (int round = 0; round < 5; ++round) {
            for (int p = 0; p < 3; ++p) {
                const std::string command =
                    "/proc/" + std::to_string(::getpid()) + "/exe --move-phase=" + phases[p];
                FILE* child = ::popen(command.c_str(), "r");
                double value = 0;
                if (!child || std::fscanf(child, "%lf", &value) != 1) {
                    state.SkipWithError("a phase did not report");
                    if (child) ::pclose(child);
                    return;
                }
                ::pclose(child);
                ms[p].push_back(value);
            }
        }
        auto median = [](std::vector<double> v) {
            std::sort(v.begin(), v.end());
            return v[v.size() / 2];
        };
        const double alone = median(ms[0]);
        const double installed = median(ms[1]);
        const double recorded = median(ms[2]);
        state.SetIterationTime(3 * 7.0 * 5);
        state.counters["alone_ms_per_s"] = alone;
        state.counters["installed_ms_per_s"] = installed;
        state.counters["recorded_ms_per_s"] = recorded;
        state.counters["installed_added_percent"] = (installed - alone) / alone * 100;
        state.counters["recorded_added_percent"] = (recorded - alone) / alone * 100;
    }
    state.SetLabel("60 Hz moves, 3,000 labels, 1920x1080, frames at 2 Hz, medians of 5");
}

// The main thread's share of one frame: the window's pixels taken from its backing store and
// every mask worked out (the walk of 3,000 widgets, a password field and a registered widget
// every 500); the frame's image, made on the frame's thread, is timed apart.
void BM_FrameMainThreadWith3000Widgets(benchmark::State& state) {
    rivlo::test::qtApplication();
    auto window = labelsWindow(true);
    auto& tree = rivlo::test::qtBridge().tree();
    tree.sync();
    auto shadow = tree.windowForWidget(window.get());
    auto context = Platform::current().graphics()->makeBitmapContext({1920, 1080}, true, 1.0);
    double imageSeconds = 0;
    int64_t frames = 0;
    for (auto _ : state) {
        const double start = threadSeconds();
        context->setFillColor(Color::black());
        context->fillRect(Rect(0, 0, 1920, 1080));
        context->drawViewHierarchy(*shadow, Rect(0, 0, 1920, 1080), false);
        state.SetIterationTime(threadSeconds() - start);
        const double made = threadSeconds();
        const Image image = context->makeImage();
        imageSeconds += threadSeconds() - made;
        ++frames;
        benchmark::DoNotOptimize(image.bytes().data());
    }
    state.counters["image_ms_off_main"] = frames ? imageSeconds / frames * 1000 : 0;
    state.SetLabel("1920x1080, 3,000 widgets, masks");
}

}  // namespace

BENCHMARK(BM_MovingOneWidgetOver3000Labels)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);
BENCHMARK(BM_FrameMainThreadWith3000Widgets)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FrameByPaintingTheWindow)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FrameByPaintingTheWindowIntoTheRecorderFrame)
    ->DenseRange(0, 2)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FrameByCopyingTheBackingStore)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EventFilterIdleInputEvent)->Unit(benchmark::kNanosecond);
BENCHMARK(BM_EventFilterTouchBegin)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_QtChildAtBaseline)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MemoryOfA1920x1080Frame)->Iterations(3)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--move-phase=", 0) == 0) return movePhase(arg.substr(13), 6.0);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
