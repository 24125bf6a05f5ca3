#include "platform/quick/QtQuickBridge.h"

#include "foundation/Log.h"
#include "foundation/Teardown.h"
#include "platform/Window.h"
#include "platform/qt/QtApplication.h"
#include "platform/qt/QtBridge.h"
#include "platform/qt/QtGraphics.h"
#include "platform/qt/QtWebMasks.h"
#include "platform/qt/QtWidgetMasks.h"
#include "platform/quick/QtItemMasks.h"
#include "platform/quick/QtQmlModule.h"
#include "platform/quick/QtQuickFrameCapture.h"
#include "platform/quick/QtQuickInput.h"
#include "platform/quick/QtQuickWebViews.h"
#include "platform/quick/QtQuickWidgetScenes.h"
#include "platform/quick/QtQuickWindowFrames.h"
#include "platform/quick/QtQuickWindows.h"

#include <QGuiApplication>

#include <utility>

namespace rivlo {

namespace {
QtQuickBridge* gQuickBridge = nullptr;
}  // namespace

QtQuickBridge* QtQuickBridge::install(QGuiApplication& app) {
    if (gQuickBridge) {
        RVLog("Rivlo: QtQuickPlatform: the bridge is installed already; install() changes nothing");
        return gQuickBridge;
    }
    gQuickBridge = new QtQuickBridge(app);
    // Taken out when the library closes (before the Qt bridge, installed first, whose
    // application and graphics it uses).
    Teardown::add(nullptr, [] { uninstall(); });
    return gQuickBridge;
}

void QtQuickBridge::uninstall() {
    delete std::exchange(gQuickBridge, nullptr);
}

QtQuickBridge::~QtQuickBridge() {
    // The Qt bridge (installed first) is taken out after this one.
    if (QtBridge* bridge = QtBridge::current()) {
        if (bridge->widgetMasks().quickWidgetItems() == widgetScenes_.get())
            bridge->widgetMasks().setQuickWidgetItems(nullptr);
        // Its web views leave the Qt bridge's pages.
        bridge->webMasks().removeHost(webViews_.get());
    }
}

QtQuickBridge* QtQuickBridge::current() {
    return gQuickBridge;
}

QtQuickBridge::QtQuickBridge(QGuiApplication& app) {
    QtBridge* bridge = QtBridge::current();
    if (!bridge) bridge = QtBridge::install(app);
    // `import Rivlo 1.0` for every QML engine from now on.
    QtQmlModule::registerTypes();
    masks_ = std::make_unique<QtItemMasks>();
    windows_ = std::make_unique<QtQuickWindows>(bridge->sharedApplication());
    capture_ = std::make_unique<QtQuickFrameCapture>(*windows_, *masks_);
    input_ = std::make_unique<QtQuickInput>(*windows_);
    webViews_ =
        std::make_shared<QtQuickWebViews>(*windows_, *masks_, *capture_, bridge->webMasks());
    bridge->webMasks().addHost(webViews_.get());
    capture_->setWebPages(&bridge->webMasks());
    // A touch on a web view is its page's: hit-tested into the proxy laid over it.
    input_->setOwnViewTest(
        [views = std::weak_ptr<QtQuickWebViews>(webViews_)](const QQuickItem* item) {
            const auto webViews = views.lock();
            return webViews && webViews->hasProxy(item);
        });
    QtQuickWindows* windows = windows_.get();
    bridge->application().addShadowWindowTest(
        [windows](const Window& window) { return windows->owns(&window); });
    widgetScenes_ = std::make_unique<QtQuickWidgetScenes>(*masks_);
    bridge->widgetMasks().setQuickWidgetItems(widgetScenes_.get());
    frames_ = std::make_unique<QtQuickWindowFrames>(*windows_, *capture_);
    bridge->graphics().addFrameSource(frames_.get());
    windows_->watch(&app);
    input_->watch(&app);
    // Installed after the input's filter, so it runs first: the web views are in place before
    // a touch is hit-tested.
    webViews_->watch(&app);
}

}  // namespace rivlo
