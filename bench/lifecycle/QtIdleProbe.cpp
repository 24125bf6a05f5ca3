// rivlo-qt-idle-probe PHASE SECONDS [KEY]: an idle Qt Widgets program on the shared libraries
// (Rivlo::qt, as a host outside this build links them): a window of a list and a few labels on
// Qt's offscreen platform, nothing changing on screen. PHASE is one of
//   alone      the program without the library;
//   installed  the Linux defaults and the Qt bridge installed, no session;
//   recording  recording a session of KEY with the service RIVLO_SERVICE_URL names (the screen
//              movie at its default 2 frames a second).
// After two seconds of settling it counts, for SECONDS, the main thread's wake-ups (its
// voluntary context switches: each is a return from waiting in Qt's event loop or on a lock)
// and its CPU time, and prints "<wake-ups a second> <CPU milliseconds a second>". Exit status
// 1 when the recording did not begin within a minute.

#include <rivlo/Platform.h>
#include <rivlo/Rivlo.h>
#include <rivlo/qt/QtPlatform.h>

#include "IdleProbeSupport.h"

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QTest>
#include <QVBoxLayout>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

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
    QApplication app(argc, argv);
    if (phase != "alone") {
        rivlo::installLinuxPlatform({"com.example.idle-probe", "Idle Probe", "1.0"});
        rivlo::QtPlatform::install(app);
    }

    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* list = new QListWidget;
    for (int i = 0; i < 50; ++i)
        list->addItem(QString("Order %1").arg(1000 + i));
    layout->addWidget(new QLabel("Orders waiting for payment"));
    layout->addWidget(list);
    layout->addWidget(new QLabel("Nothing changes here"));
    window.resize(390, 844);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) std::fprintf(stderr, "window not exposed\n");

    if (phase == "recording") {
        if (argc < 4) return 2;
        rivlo::Rivlo::startApplicationWithKey(argv[3]);
        if (!QTest::qWaitFor([] { return rivlo::Rivlo::isRecording(); }, 60000)) return 1;
    }

    waitInEventLoop(2.0);  // settling: the session's first uploads, the movie's first frames
    const long switches = voluntarySwitches();
    const double cpu = threadCpuSeconds();
    const auto wall = std::chrono::steady_clock::now();
    waitInEventLoop(seconds);
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count();
    std::printf("%.3f %.3f\n", static_cast<double>(voluntarySwitches() - switches) / elapsed,
                (threadCpuSeconds() - cpu) / elapsed * 1000);
    std::fflush(stdout);
    if (phase != "alone") rivlo::Rivlo::close(std::chrono::seconds(5));
    return 0;
}
