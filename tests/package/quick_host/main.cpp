// A Qt Quick program outside the project, built against the installed package with
// find_package(Rivlo REQUIRED COMPONENTS quick) and Rivlo::quick, on a QGuiApplication (no Qt
// Widgets). It shows a green checkout window with a blue payment card occluded from QML
// (`import Rivlo 1.0`, `Rivlo.occluded: true`), records it with the lines marked "rivlo", taps the
// page and the card as a user would (Qt's own synthetic input), and quits a second later; quitting
// sends what was recorded. At the end it says whether Qt WebEngine was ever loaded (it has no
// web view, so it must not have been).
//
//   rivlo-quick-host APPLICATION_KEY SECONDS     (SECONDS: how long to wait for the recording)

#include <rivlo/Log.h>
#include <rivlo/Platform.h>            // rivlo
#include <rivlo/Rivlo.h>               // rivlo
#include <rivlo/qt/QtQuickPlatform.h>  // rivlo

#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

// The window is named after its objectName (its type is Qt's own); the card is the middle of
// the window: from a quarter to three quarters across and down.
static const char* const kScene = R"(
import QtQuick
import Rivlo 1.0
Window {
    objectName: "checkout"
    width: 320; height: 480; visible: true; color: "#00a000"
    Rectangle {
        objectName: "card"
        x: 80; y: 120; width: 160; height: 240; color: "#0000c8"
        Rivlo.occluded: true
        Text { anchors.centerIn: parent; text: "4111 1111 1111 1111"; color: "white" }
    }
}
)";

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s APPLICATION_KEY SECONDS\n", argv[0]);
        return 2;
    }
    const std::string key = argv[1];
    const int seconds = std::atoi(argv[2]);
    QGuiApplication app(argc, argv);
    // Taps count from the moment the service has verified the key: the library says so in its
    // log.
    static std::atomic<bool> verified{false};
    rivlo::setLogHandler([](const std::string& line) {
        if (line.find("Application key is verified") != std::string::npos) verified = true;
        std::fprintf(stderr, "%s\n", line.c_str());
    });
    rivlo::installLinuxPlatform({"com.example.quick-host", "Quick Host", "1.0"});  // rivlo
    rivlo::QtQuickPlatform::install(app);                                          // rivlo

    QQmlApplicationEngine engine;
    engine.loadData(kScene);
    auto* window = engine.rootObjects().isEmpty()
                       ? nullptr
                       : qobject_cast<QQuickWindow*>(engine.rootObjects().front());
    if (!window) {
        std::fprintf(stderr, "the scene did not load\n");
        return 2;
    }
    rivlo::Rivlo::startApplicationWithKey(key);  // rivlo

    // Once the library records, a user taps the page above the card, then the card, and the
    // program quits a second later. It gives up (exit status 1) after SECONDS without a recording.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, window, [&] {
        if (!rivlo::Rivlo::isRecording() || !verified) return;
        poll.stop();
        std::printf("recording: yes\n");
        std::fflush(stdout);
        QTest::mouseClick(window, Qt::LeftButton, {}, QPoint(160, 60));
        QTimer::singleShot(500, window, [window] {
            QTest::mouseClick(window, Qt::LeftButton, {}, QPoint(160, 240));
        });
        QTimer::singleShot(1500, &app, [] { QGuiApplication::quit(); });
    });
    poll.start(50);
    QTimer::singleShot(seconds * 1000, &app, [] {
        std::printf("recording: no\n");
        QGuiApplication::exit(1);
    });
    const int status = app.exec();
    std::printf("close: %d\n", rivlo::Rivlo::close(std::chrono::seconds(10)));  // rivlo
    std::ifstream maps("/proc/self/maps");
    const std::string mapped((std::istreambuf_iterator<char>(maps)), {});
    std::printf("webengine loaded: %s\n",
                mapped.find("libQt6WebEngine") != std::string::npos ? "yes" : "no");
    return status;
}
