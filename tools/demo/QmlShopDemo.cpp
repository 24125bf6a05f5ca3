#include "QmlShopDemo.h"

#include "QmlShop.h"
#include "QmlShopScript.h"

#include "platform/qt/QtWebEngine.h"
#include "platform/quick/QtQuickBridge.h"
#include "platform/quick/webengine/QtQuickWebEngineItems.h"

#include <QGuiApplication>
#include <QQuickWindow>
#include <QTest>
#include <QtWebEngineQuick/qtwebenginequickglobal.h>

#include <cstdlib>

namespace rivlo::demo {

QtShopDemoResult QmlShopDemo::run(const DemoOptions& options) {
    QtShopDemoResult result;
    auto say = [&options](const std::string& line) {
        if (options.progress) options.progress(line);
    };
    // Offscreen (the software scene graph) unless asked otherwise, in Qt Quick Controls' plain
    // style; the article's WebEngine renders in software.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::setenv("QT_QUICK_CONTROLS_STYLE", "Basic", 0);
    ::setenv("QTWEBENGINE_CHROMIUM_FLAGS", "--no-sandbox --disable-gpu", 0);
    ::setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);

    QtShopDemo::startCollectorAndDevice(options, "QML Shop", "rivlo-qml-shop-demo", result);
    if (!result.collectorStarted) return result;
    static int argc = 1;
    static char name[] = "rivlo-qml-shop";
    static char* argv[] = {name, nullptr};
    QtWebEngineQuick::initialize();               // before the application, as the program does
    auto* app = new QGuiApplication(argc, argv);  // lives for the process, as an application's does
    // The bridge as QtQuickPlatform::install puts it in (the library's start above is done by
    // hand), on the archives of this build: its web view module linked in rather than loaded.
    QtWebEngine::provide(&QtQuickWebEngineItems::create, QtWebEngine::Kind::Quick);
    QtQuickBridge::install(*app);

    auto* shop = new shop::QmlShop(shop::defaultArticleUrl());  // lives for the process
    if (!shop->loaded()) {
        result.problems.push_back("the QML shop did not load");
        return result;
    }
    if (!QTest::qWaitForWindowExposed(shop->window()))
        result.problems.push_back("the shop did not show");

    if (!QtShopDemo::startRecording(options, result)) return result;
    say("playing the QML shop visit with Qt input events");
    const shop::QmlShopVisit visit = shop::QmlShopScript::play(*shop, say);
    result.problems = shop::QmlShopScript::check(result.collectorDir, visit);
    return result;
}

}  // namespace rivlo::demo
