#include "rivlo/qt/QtQuickPlatform.h"

#include "all/CallGuard.h"
#include "all/RivloRuntime.h"
#include "foundation/Log.h"
#include "platform/qt/QtBridge.h"
#include "platform/qt/QtWebMasks.h"
#include "platform/qt/QtWidgetMasks.h"
#include "platform/quick/QtItemMasks.h"
#include "platform/quick/QtQuickBridge.h"

#include <QGuiApplication>
#include <QQuickItem>
#include <QThread>

namespace rivlo {

namespace {

// The installed bridge when the call comes on the application's thread; logs why not.
QtQuickBridge* installedBridge(const char* call) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() != app->thread()) {
        RVLog("Rivlo: QtQuickPlatform: %s must be called on the application's thread; ignored",
              call);
        return nullptr;
    }
    QtQuickBridge* bridge = QtQuickBridge::current();
    if (!bridge) RVLog("Rivlo: QtQuickPlatform: %s: install() was not called; ignored", call);
    return bridge;
}

// The same for a call about an item, which must be given.
QtQuickBridge* bridgeFor(const char* call, const QQuickItem* item) {
    QtQuickBridge* bridge = installedBridge(call);
    if (!bridge) return nullptr;
    if (!item) {
        RVLog("Rivlo: QtQuickPlatform: %s: no item given; nothing changes", call);
        return nullptr;
    }
    return bridge;
}

}  // namespace

void QtQuickPlatform::install(QGuiApplication& app) {
    CallGuard::run("QtQuickPlatform::install", [&] {
        if (QThread::currentThread() != app.thread()) {
            RVLog(
                "Rivlo: QtQuickPlatform: install() must be called on the application's thread; "
                "not installed");
            return 0;
        }
        // Installed before anything else started the library: it starts here, with the
        // environment's settings.
        if (!RivloRuntime::ensureStarted("QtQuickPlatform::install")) return 0;
        RivloRuntime::Call call("QtQuickPlatform::install");
        if (call) QtQuickBridge::install(app);
        return 0;
    });
}

void QtQuickPlatform::occludeSensitiveItem(QQuickItem* item) {
    if (QtQuickBridge* bridge = bridgeFor("occludeSensitiveItem", item))
        bridge->itemMasks().registerItem(item);
}

void QtQuickPlatform::allowUnmaskedContent(QQuickItem* item) {
    if (QtQuickBridge* bridge = bridgeFor("allowUnmaskedContent", item))
        bridge->itemMasks().allowUnmasked(item);
}

void QtQuickPlatform::setMaskAllTextInputs(bool mask) {
    // The Qt bridge runs under the Qt Quick bridge, which installs it.
    QtBridge* bridge = installedBridge("setMaskAllTextInputs") ? QtBridge::current() : nullptr;
    if (!bridge) return;
    bridge->widgetMasks().setMaskAllTextInputs(mask);
    bridge->webMasks().setMaskAllTextInputs(mask);
}

}  // namespace rivlo
