// rivlo-quick-idle-probe PHASE SECONDS [KEY]: an idle QML program on the shared libraries
// (Rivlo::quick, as a host outside this build links them): a 390 x 844 window of a list and a
// few labels on Qt's offscreen platform (the software scene graph), nothing moving. PHASE is
// one of
//   alone      the program without the library;
//   installed  the Linux defaults and the Qt Quick bridge installed, no session;
//   recording  recording a session of KEY with the service RIVLO_SERVICE_URL names (the screen
//              movie at its default 2 frames a second).
// After two seconds of settling it counts, for SECONDS, the main thread's wake-ups (its
// voluntary context switches: each is a return from waiting in Qt's event loop or on a lock),
// its CPU time, and the window's renderings (frameSwapped), and prints "<wake-ups a second>
// <CPU milliseconds a second> <renderings a second>". Exit status 1 when the recording did not
// begin within a minute.

#include <rivlo/Platform.h>
#include <rivlo/Rivlo.h>
#include <rivlo/qt/QtQuickPlatform.h>

#include "lifecycle/IdleProbeSupport.h"

#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QTest>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const char* const kScene = R"(
import QtQuick
Window {
    width: 390; height: 844; visible: true; color: "white"
    Column {
        x: 16; y: 16; spacing: 8
        Text { text: "Orders waiting for payment"; font.pixelSize: 20 }
        ListView {
            width: 358; height: 740; clip: true
            model: 50
            delegate: Rectangle {
                required property int index
                width: 358; height: 40; color: index % 2 ? "#f4f4f4" : "white"
                Text { x: 8; anchors.verticalCenter: parent.verticalCenter; text: "Order " + (1000 + index) }
            }
        }
        Text { text: "Nothing changes here" }
    }
}
)";

}  // namespace

using rivlo::bench::threadCpuSeconds;
using rivlo::bench::voluntarySwitches;
using rivlo::bench::waitInEventLoop;

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s alone|installed|recording SECONDS [KEY]\n", argv[0]);
        return 2;
    }
    const std::string phase = argv[1];
    const double seconds = std::atof(argv[2]);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QGuiApplication app(argc, argv);
    if (phase != "alone") {
        rivlo::installLinuxPlatform({"com.example.quick-idle-probe", "Quick Idle Probe", "1.0"});
        rivlo::QtQuickPlatform::install(app);
    }

    QQmlApplicationEngine engine;
    engine.loadData(kScene);
    auto* window = engine.rootObjects().isEmpty()
                       ? nullptr
                       : qobject_cast<QQuickWindow*>(engine.rootObjects().front());
    if (!window || !QTest::qWaitForWindowExposed(window)) {
        std::fprintf(stderr, "the window did not show\n");
        return 1;
    }
    long renderings = 0;
    QObject::connect(window, &QQuickWindow::frameSwapped, [&] { ++renderings; });

    if (phase == "recording") {
        if (argc < 4) return 2;
        rivlo::Rivlo::startApplicationWithKey(argv[3]);
        if (!QTest::qWaitFor([] { return rivlo::Rivlo::isRecording(); }, 60000)) return 1;
    }

    waitInEventLoop(2.0);  // settling: the session's first uploads, the movie's first frames
    const long switches = voluntarySwitches();
    const double cpu = threadCpuSeconds();
    const long rendered = renderings;
    const auto wall = std::chrono::steady_clock::now();
    waitInEventLoop(seconds);
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count();
    std::printf("%.3f %.3f %.3f\n", static_cast<double>(voluntarySwitches() - switches) / elapsed,
                (threadCpuSeconds() - cpu) / elapsed * 1000,
                static_cast<double>(renderings - rendered) / elapsed);
    std::fflush(stdout);
    if (phase != "alone") rivlo::Rivlo::close(std::chrono::seconds(5));
    return 0;
}
