#pragma once

// Qt for the Qt bridge's suites: one offscreen QApplication for the process (WebEngine renders
// in software), created on first use on the test's main thread, with the bridge installed.

#include "foundation/RunLoop.h"
#include "platform/qt/QtBridge.h"
#include "platform/qt/QtWebEngine.h"
#include "platform/qt/webengine/QtWebEngineViews.h"

#include <QApplication>
#include <QTest>

#include <chrono>
#include <cstdlib>
#include <functional>

namespace rivlo::test {

// The process's QApplication without the bridge (a program before it installs the library).
inline QApplication& qtApplicationWithoutBridge() {
    static QApplication* app = [] {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
        ::setenv("QTWEBENGINE_CHROMIUM_FLAGS", "--no-sandbox --disable-gpu", 0);
        ::setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
        static int argc = 1;
        static char name[] = "rivlo-qt-tests";
        static char* argv[] = {name, nullptr};
        RunLoop::main().setMainThread();
        // The bridge's web view module, linked into the suites rather than loaded.
        QtWebEngine::provide(&QtWebEngineViews::create);
        return new QApplication(argc, argv);  // lives for the process
    }();
    return *app;
}

inline QApplication& qtApplication() {
    QApplication& app = qtApplicationWithoutBridge();
    if (!QtBridge::current()) QtBridge::install(app);
    return app;
}

inline QtBridge& qtBridge() {
    qtApplication();
    return *QtBridge::current();
}

// Turns Qt's event loop (and with it the library's main run loop) until the predicate holds or
// the time is up; answers the predicate's last value.
inline bool qtWaitFor(const std::function<bool()>& predicate, double seconds = 10) {
    return QTest::qWaitFor(predicate, static_cast<int>(seconds * 1000));
}

}  // namespace rivlo::test
