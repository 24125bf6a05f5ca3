#pragma once

// Qt Quick for the Qt Quick suites: one offscreen QGuiApplication for the process (no Qt
// Widgets), the recorder of tests/qt with the Qt Quick bridge installed on it, and helpers to
// find items and read colours.

#include "QtRecording.h"

#include "foundation/RunLoop.h"
#include "platform/quick/QtQuickBridge.h"
#include "platform/quick/QtQuickWindows.h"
#include "rivlo/qt/QtQuickPlatform.h"

#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

#include <cstdlib>

namespace rivlo::test {

// A Qt Quick Controls Popup (objectName "popup", at 60, 150, 260 x 80) filled by a password
// TextField drawn in #96dc00, to end a scene's Window (import QtQuick.Controls) with.
inline constexpr const char* kPasswordPopup = R"(
    Popup {
        objectName: "popup"
        x: 60; y: 150; width: 260; height: 80; padding: 0
        background: Rectangle { color: "white" }
        TextField {
            anchors.fill: parent
            font.pixelSize: 40; color: "#96dc00"; echoMode: TextInput.Password; text: "popup"
            background: Rectangle { color: "white" }
        }
    }
)";

inline QGuiApplication& quickApplication() {
    static QGuiApplication* app = [] {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
        ::setenv("QT_QUICK_CONTROLS_STYLE", "Basic", 0);
        static int argc = 1;
        static char name[] = "rivlo-quick-tests";
        static char* argv[] = {name, nullptr};
        RunLoop::main().setMainThread();
        return new QGuiApplication(argc, argv);  // lives for the process
    }();
    return *app;
}

inline QtRecorder& quickRecorder() {
    QGuiApplication& app = quickApplication();
    return QtRecorder::shared([&app] { QtQuickPlatform::install(app); });
}

// The engine's one root object as a window, once it shows; null otherwise.
inline QQuickWindow* shownWindow(QQmlApplicationEngine& engine) {
    if (engine.rootObjects().size() != 1) return nullptr;
    auto* window = qobject_cast<QQuickWindow*>(engine.rootObjects().front());
    return window && QTest::qWaitForWindowExposed(window) ? window : nullptr;
}

// The same, once it is also a window of the recording.
inline QQuickWindow* recordedWindow(QQmlApplicationEngine& engine) {
    QQuickWindow* window = shownWindow(engine);
    if (!window) return nullptr;
    const bool recorded = QTest::qWaitFor(
        [&] { return QtQuickBridge::current()->windows().windowFor(window) != nullptr; });
    return recorded ? window : nullptr;
}

// The first item of the window's scene with that objectName (items made by containers are not
// always QObject children of the window), or null.
inline QQuickItem* findItem(QQuickItem* item, const QString& name) {
    if (!item) return nullptr;
    if (item->objectName() == name) return item;
    const QList<QQuickItem*> children = item->childItems();
    for (QQuickItem* child : children) {
        if (QQuickItem* found = findItem(child, name)) return found;
    }
    return nullptr;
}

inline QQuickItem* findItem(QQuickWindow* window, const QString& name) {
    return findItem(window ? window->contentItem() : nullptr, name);
}

inline bool nearColour(const media::DecodedFrame::RGB& c, QColor colour, int tolerance) {
    return std::abs(c.r - colour.red()) <= tolerance &&
           std::abs(c.g - colour.green()) <= tolerance &&
           std::abs(c.b - colour.blue()) <= tolerance;
}

}  // namespace rivlo::test
