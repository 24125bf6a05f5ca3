#include "rivlo/qt/QtPlatform.h"

#include "all/CallGuard.h"
#include "all/RivloRuntime.h"
#include "foundation/Log.h"
#include "platform/qt/QtBridge.h"
#include "platform/qt/QtWebMasks.h"
#include "platform/qt/QtWidgetMasks.h"

#include <QApplication>
#include <QThread>

namespace rivlo {

namespace {

// The installed bridge when the call comes on the application's thread; logs why not.
QtBridge* bridgeFor(const char* call) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() != app->thread()) {
        RVLog("Rivlo: QtPlatform: %s must be called on the application's thread; ignored", call);
        return nullptr;
    }
    QtBridge* bridge = QtBridge::current();
    if (!bridge) RVLog("Rivlo: QtPlatform: %s: install() was not called; ignored", call);
    return bridge;
}

}  // namespace

void QtPlatform::install(QApplication& app) {
    CallGuard::run("QtPlatform::install", [&] {
        if (QThread::currentThread() != app.thread()) {
            RVLog(
                "QtPlatform: install() must be called on the application's thread; not "
                "installed");
            return 0;
        }
        // A host of an earlier release installs the bridge before anything else starts the
        // library: it starts here, with the environment's settings.
        if (!RivloRuntime::ensureStarted("QtPlatform::install")) return 0;
        RivloRuntime::Call call("QtPlatform::install");
        if (call) QtBridge::install(app);
        return 0;
    });
}

void QtPlatform::occludeSensitiveWidget(QWidget* widget) {
    QtBridge* bridge = bridgeFor("occludeSensitiveWidget");
    if (!bridge) return;
    if (!widget) {
        RVLog("Rivlo: QtPlatform: occludeSensitiveWidget: no widget given; nothing is occluded");
        return;
    }
    bridge->widgetMasks().registerWidget(widget);
}

void QtPlatform::allowUnmaskedContent(QWidget* widget) {
    QtBridge* bridge = bridgeFor("allowUnmaskedContent");
    if (!bridge) return;
    if (!widget) {
        RVLog("Rivlo: QtPlatform: allowUnmaskedContent: no widget given; nothing changes");
        return;
    }
    bridge->widgetMasks().allowUnmasked(widget);
}

void QtPlatform::maskWebElements(const QStringList& selectors) {
    QtBridge* bridge = bridgeFor("maskWebElements");
    if (!bridge) return;
    bridge->webMasks().setSelectors(selectors);
}

void QtPlatform::setMaskAllTextInputs(bool mask) {
    QtBridge* bridge = bridgeFor("setMaskAllTextInputs");
    if (!bridge) return;
    bridge->widgetMasks().setMaskAllTextInputs(mask);
    bridge->webMasks().setMaskAllTextInputs(mask);
}

}  // namespace rivlo
