// Qt Quick windows on a hardware scene graph: OpenGL on Mesa's llvmpipe and Vulkan on lavapipe,
// on an X server of the test's own (ctest runs this program through run-with-xvfb.sh, the
// backend and render loop in its environment). Frames are read back from what the window
// renders: recorded at the configured rate, only those frames read back, a window where
// nothing moves still giving its frames and rendering nothing else, the pixels the right way
// up, and frames whose masks or pixels cannot be had dropped. The privacy scene of
// QtQuickRecordingTest.cpp runs on the same graph from the same program.

#include "QtRecording.h"
#include "QuickTestSupport.h"
#include "QtTestSupport.h"

#include "platform/qt/QtFrameCapture.h"
#include "platform/quick/QtItemMasks.h"
#include "platform/quick/QtQuickBridge.h"
#include "platform/quick/QtQuickReadback.h"
#include "platform/quick/QtQuickWindows.h"
#include "rivlo/qt/QtQuickPlatform.h"

#include <QElapsedTimer>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSGRendererInterface>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

using namespace rivlo;
using rivlo::test::QtRecorder;
using rivlo::test::QtRecording;
using rivlo::test::qtWaitFor;

namespace {

// The suites' recorder links Qt WebEngine, which asks Qt Quick for OpenGL as the application
// starts (Qt Quick's choice from the environment then goes unheard): this program asks for the
// graph its environment names after that, as a program that wants Vulkan does. Both test
// files of the program draw on it.
void graphicsApiFromTheEnvironment() {
    const char* asked = std::getenv("QSG_RHI_BACKEND");
    if (asked && std::strcmp(asked, "vulkan") == 0)
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Vulkan);
}
Q_COREAPP_STARTUP_FUNCTION(graphicsApiFromTheEnvironment)

const QColor kSecret(16, 208, 16);  // a password TextInput
const QColor kMark(16, 224, 224);   // a plain rectangle near the top: shows which way is up
constexpr double kRate = 4;         // the suites' recorder: four frames a second

// A window with a plain rectangle at its top left and a password field below, the field moving
// when `moving`.
QString scene(bool moving) {
    return QStringLiteral(R"(
import QtQuick
Window {
    width: 320; height: 240; visible: true; color: "white"
    Rectangle { x: 10; y: 10; width: 100; height: 40; color: "#10e0e0" }
    TextInput {
        x: 20; y: 150; width: 200; height: 50
        font.pixelSize: 40; color: "#10d010"; echoMode: TextInput.Password; text: "secretsecret"
        %1
    }
}
)")
        .arg(moving ? "NumberAnimation on x { from: 20; to: 100; duration: 700; loops: "
                      "Animation.Infinite }"
                    : "");
}

struct Shown {
    QQmlApplicationEngine engine;
    QQuickWindow* window = nullptr;
    std::atomic<int> rendered{0};

    explicit Shown(bool moving) {
        engine.loadData(scene(moving).toUtf8());
        if (engine.rootObjects().size() != 1) return;
        window = qobject_cast<QQuickWindow*>(engine.rootObjects().front());
        if (!window || !QTest::qWaitForWindowExposed(window)) {
            window = nullptr;
            return;
        }
        QObject::connect(
            window, &QQuickWindow::afterRendering, window, [this] { ++rendered; },
            Qt::DirectConnection);
        (void)qtWaitFor(
            [this] { return QtQuickBridge::current()->windows().windowFor(window) != nullptr; });
    }
};

// The graph the environment asks for (QSG_RHI_BACKEND), not the software one.
void expectHardwareGraph(QQuickWindow* window) {
    const QSGRendererInterface::GraphicsApi api = window->rendererInterface()->graphicsApi();
    ASSERT_TRUE(QSGRendererInterface::isApiRhiBased(api)) << "graphics API " << int(api);
    const char* asked = std::getenv("QSG_RHI_BACKEND");
    if (asked && std::strcmp(asked, "opengl") == 0) {
        EXPECT_EQ(api, QSGRendererInterface::OpenGL);
    } else if (asked && std::strcmp(asked, "vulkan") == 0) {
        EXPECT_EQ(api, QSGRendererInterface::Vulkan);
    }
}

bool near(const media::DecodedFrame::RGB& c, QColor colour, int tolerance = 40) {
    return std::abs(c.r - colour.red()) <= tolerance &&
           std::abs(c.g - colour.green()) <= tolerance &&
           std::abs(c.b - colour.blue()) <= tolerance;
}

// The recorded frames, each showing the mark at the top (and not where an upside-down frame
// would have it), never the secret, and the mask somewhere.
void expectFramesTheRightWayUp(const QtRecording& recording) {
    for (size_t i = 0; i < recording.frames.size(); ++i) {
        EXPECT_TRUE(near(recording.at(i, QPoint(60, 30)), kMark)) << "frame " << i;
        EXPECT_FALSE(near(recording.at(i, QPoint(60, 240 - 30)), kMark)) << "frame " << i;
    }
    EXPECT_EQ(recording.find(kSecret, 50).framePixels, 0u) << recording.find(kSecret, 50).first;
    EXPECT_GT(recording.find(QColor(255, 0, 0), 40).framePixels, 0u);
}

TEST(QtQuickRhi, FramesAtTheRateAndOnlyTheseReadBack) {
    QtRecorder& rec = rivlo::test::quickRecorder();
    Shown shown(true);
    ASSERT_NE(shown.window, nullptr);
    expectHardwareGraph(shown.window);

    QElapsedTimer clock;
    clock.start();
    const QtRecording recording = rec.record([] { QtRecorder::pass(3.0); });
    const double seconds = clock.elapsed() / 1000.0;
    ASSERT_TRUE(recording.problems.empty()) << recording.problems.front();
    const QtQuickReadback* readback = QtQuickReadback::find(shown.window);
    ASSERT_NE(readback, nullptr) << "the frames were not read back";
    const uint64_t readBack = readback->readBackCount();
    const size_t frames = recording.frames.size();
    // At the rate: the frames of at least the 3.6 s the library was surely recording at half
    // of it (the recorder's thread waits for each read-back, the machine is shared), and no
    // more than the whole call could hold.
    EXPECT_GE(frames, static_cast<size_t>(3.6 * kRate / 2)) << seconds << " s";
    EXPECT_LE(frames, static_cast<size_t>(seconds * kRate) + 1) << seconds << " s";
    // Each frame of the movie was read back; frames nobody asked for were not, though the
    // moving field had the window render all along.
    std::printf("%zu frames, %llu read back, %d rendered in %.1f s\n", frames,
                static_cast<unsigned long long>(readBack), shown.rendered.load(), seconds);
    EXPECT_GE(readBack, frames);
    EXPECT_LE(readBack, static_cast<uint64_t>(seconds * kRate) + 1);
    EXPECT_GT(static_cast<uint64_t>(shown.rendered.load()), 2 * readBack);
    expectFramesTheRightWayUp(recording);
}

TEST(QtQuickRhi, StillWindowGivesFramesAndRendersOnlyForThem) {
    QtRecorder& rec = rivlo::test::quickRecorder();
    Shown shown(false);
    ASSERT_NE(shown.window, nullptr);
    expectHardwareGraph(shown.window);
    // Shown and still: nothing is rendered while nothing records.
    QtRecorder::pass(0.3);
    shown.rendered = 0;
    QtRecorder::pass(0.7);
    EXPECT_EQ(shown.rendered.load(), 0);

    const QtQuickReadback* readback = QtQuickReadback::find(shown.window);
    const uint64_t before = readback ? readback->readBackCount() : 0;
    const QtRecording recording = rec.record([] { QtRecorder::pass(2.0); });
    ASSERT_TRUE(recording.problems.empty()) << recording.problems.front();
    readback = QtQuickReadback::find(shown.window);
    ASSERT_NE(readback, nullptr);
    const uint64_t readBack = readback->readBackCount() - before;
    std::printf("%zu frames, %llu read back, %d rendered\n", recording.frames.size(),
                static_cast<unsigned long long>(readBack), shown.rendered.load());
    EXPECT_GE(recording.frames.size(), static_cast<size_t>(2.6 * kRate / 2));
    EXPECT_GE(readBack, recording.frames.size());
    // One rendering for each frame asked for (and one more that a frame asked as the recording
    // stopped may have started), none in between.
    EXPECT_LE(static_cast<uint64_t>(shown.rendered.load()), readBack + 1);
    expectFramesTheRightWayUp(recording);
}

// Finishes `frame` on a thread of its own (as the recorder's thread does) while the main thread
// turns the event loop, so that the window can render.
void finishOffTheMainThread(QtFrame& frame) {
    std::atomic<bool> done{false};
    std::thread drawer([&] {
        frame.finish(true);
        done = true;
    });
    (void)qtWaitFor([&] { return done.load(); }, 3 * QtQuickReadback::kWaitSeconds);
    drawer.join();
}

TEST(QtQuickRhi, FramesWhosePixelsOrMasksCannotBeHadAreDropped) {
    rivlo::test::quickRecorder();
    Shown shown(false);
    ASSERT_NE(shown.window, nullptr);
    expectHardwareGraph(shown.window);
    QtItemMasks& items = QtQuickBridge::current()->itemMasks();
    QtQuickReadback* readback = QtQuickReadback::of(shown.window, items);
    const QSize size(320, 240);
    const QRectF target(0, 0, 320, 240);

    // Read back and drawn: the mark at the top, the field's mask over where it is.
    std::shared_ptr<QtFrame> frame = readback->capture(target, size);
    finishOffTheMainThread(*frame);
    ASSERT_FALSE(frame->dropped()) << frame->outcome().reason();
    ASSERT_EQ(frame->layers().size(), 1u);
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::black);
    frame->render(image, false);
    EXPECT_EQ(image.pixelColor(60, 30), kMark);
    EXPECT_EQ(image.pixelColor(60, 240 - 30), QColor(Qt::white));
    EXPECT_EQ(image.pixelColor(40, 170), QColor(Qt::red));

    // Wanted on the main thread, which the window may need to render it: not waited for.
    frame = readback->capture(target, size);
    frame->finish(false);
    EXPECT_TRUE(frame->dropped());

    // Asked for again before it was rendered: the earlier one is not drawn.
    std::shared_ptr<QtFrame> earlier = readback->capture(target, size);
    frame = readback->capture(target, size);
    finishOffTheMainThread(*earlier);
    finishOffTheMainThread(*frame);
    EXPECT_TRUE(earlier->dropped());
    EXPECT_FALSE(frame->dropped()) << frame->outcome().reason();

    // The masks are not known (the bridge went): the pixels are not sent without them.
    readback->detach();
    frame = readback->capture(target, size);
    finishOffTheMainThread(*frame);
    EXPECT_TRUE(frame->dropped());
    EXPECT_NE(frame->outcome().reason().find("masks"), std::string::npos)
        << frame->outcome().reason();
    QtQuickReadback::of(shown.window, items);

    // A hidden window renders nothing: its frame is given up, not waited for for ever.
    shown.window->hide();
    frame = readback->capture(target, size);
    finishOffTheMainThread(*frame);
    EXPECT_TRUE(frame->dropped());
}

}  // namespace
