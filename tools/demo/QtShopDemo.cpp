#include "QtShopDemo.h"

#include "CollectorServer.h"
#include "ShopScript.h"
#include "ShopWindow.h"

#include "all/RivloRecorders.h"
#include "core/RVFacade.h"
#include "core/RVUtil.h"
#include "platform/linux/LinuxPlatform.h"
#include "platform/qt/QtBridge.h"
#include "platform/qt/QtWebEngine.h"
#include "platform/qt/webengine/QtWebEngineViews.h"
#include "rivlo/qt/QtPlatform.h"
#include "screen/RVViewVideoHandler.h"

#include <QApplication>
#include <QTest>

#include <cstdlib>

namespace rivlo::demo {

namespace {
void say(const DemoOptions& o, const std::string& line) {
    if (o.progress && !line.empty()) o.progress(line);
}
}  // namespace

void QtShopDemo::startCollectorAndDevice(const DemoOptions& options, const std::string& appName,
                                         const std::string& applicationIdentifier,
                                         QtShopDemoResult& result) {
    collector::CollectorConfig config;
    config.dataDir = (options.dataDir / "collector").string();
    collector::CollectorApp app;
    app.key = options.appKey;
    app.name = appName;
    app.settings["g_status"] = false;
    app.settings["url"] = "file://";
    config.apps.push_back(app);
    config.logSink = [&options](const std::string& line) { say(options, "  collector: " + line); };
    auto* server = new collector::CollectorServer(config);  // serves until the process ends
    std::string error;
    if (!server->start(error)) {
        result.problems.push_back("the collector did not start: " + error);
        return;
    }
    result.collectorStarted = true;
    result.collectorDir = config.dataDir;
    say(options, "collector at " + server->url() + ", data in " + config.dataDir);
    ::setenv("RIVLO_SERVICE_URL", server->url().c_str(), 1);

    // The host's start-up, as the examples' main.cpp do it (with a sandboxed store).
    LinuxDeviceConfig device;
    device.applicationIdentifier = applicationIdentifier;
    device.screenBounds = Rect(0, 0, 390, 844);
    device.screenScale = 1;
    device.cachesDirectory = (options.dataDir / "device" / "caches").string();
    device.defaultsDirectory = (options.dataDir / "device" / "defaults").string();
    auto linuxDevice = LinuxPlatform::install(device);
    RVUtil::setApplicationCachesDirectory(linuxDevice->cachesDirectory());
    RivloRecorders::registerAll();  // what the library's start registers
}

bool QtShopDemo::startRecording(const DemoOptions& options, QtShopDemoResult& result) {
    RVFacade::tagUsersName("ada");
    RVFacade::startApplicationWithKey(options.appKey);
    if (!QTest::qWaitFor([] { return RVUtil::isInfoPostSuccess() && RVFacade::isRecording(); },
                         30000)) {
        result.problems.push_back("the collector did not verify the application");
        return false;
    }
    return true;
}

QtShopDemoResult QtShopDemo::run(const DemoOptions& options) {
    QtShopDemoResult result;
    // Offscreen unless asked otherwise; WebEngine renders in software.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::setenv("QTWEBENGINE_CHROMIUM_FLAGS", "--no-sandbox --disable-gpu", 0);
    ::setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);

    startCollectorAndDevice(options, "Qt Shop", "rivlo-qt-shop-demo", result);
    if (!result.collectorStarted) return result;
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    static int argc = 1;
    static char name[] = "rivlo-qt-shop";
    static char* argv[] = {name, nullptr};
    auto* qt = new QApplication(argc, argv);  // lives for the process, as an application's does
    // The bridge as QtPlatform::install puts it in, on the archives of this build (the library's
    // start above is done by hand): its web view module linked in rather than loaded.
    QtWebEngine::provide(&QtWebEngineViews::create);
    QtBridge::install(*qt);

    auto* window = new shop::ShopWindow(shop::defaultArticleFile());
    window->resize(390, 844);
    QtPlatform::occludeSensitiveWidget(window->login()->memberCard());
    window->show();
    if (!QTest::qWaitForWindowExposed(window)) result.problems.push_back("the shop did not show");

    if (!startRecording(options, result)) return result;
    say(options, "playing the Qt shop visit with Qt input events");
    const shop::ShopVisit visit =
        shop::ShopScript::play(*window, [&](const std::string& line) { say(options, line); });
    result.problems = shop::ShopScript::check(result.collectorDir, visit);
    return result;
}

}  // namespace rivlo::demo
