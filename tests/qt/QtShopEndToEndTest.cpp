// The Qt shop recorded end to end: the reference collector runs in this process on loopback,
// the shop's real widgets are driven with Qt's own synthetic input (QTest mouse, key and touch
// events) by the visit the demo plays too, the application goes to the background and comes
// back (a second session), and the check reads back what the collector kept: both movies
// decode, the password field and the occluded member card are red in every frame showing them
// (also after the window was resized), the gestures sit at their widgets' positions under the
// pages' class names, and the article's tiles decode.

#include "QtTestSupport.h"

#include "CollectorServer.h"
#include "ShopScript.h"
#include "ShopWindow.h"

#include "all/RivloRecorders.h"
#include "core/RVFacade.h"
#include "core/RVUtil.h"
#include "platform/linux/LinuxPlatform.h"
#include "rivlo/qt/QtPlatform.h"
#include "screen/RVViewVideoHandler.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>

namespace fs = std::filesystem;
using namespace rivlo;
using rivlo::test::qtWaitFor;

TEST(QtEndToEnd, TheShopRecordedWithRealQtInputArrivesWholeAtTheCollector) {
    char pattern[] = "/tmp/rivlo-qt-e2e-XXXXXX";
    const fs::path root = ::mkdtemp(pattern);

    collector::CollectorConfig config;
    config.dataDir = (root / "collector").string();
    collector::CollectorApp app;
    app.key = "qt-shop-e2e-key";
    app.name = "Qt Shop";
    app.settings["url"] = "file://";
    config.apps.push_back(app);
    std::mutex logMutex;
    std::vector<std::string> collectorLog;
    config.logSink = [&](const std::string& line) {
        std::lock_guard lock(logMutex);
        collectorLog.push_back(line);
    };
    collector::CollectorServer server(config);
    std::string error;
    ASSERT_TRUE(server.start(error)) << error;
    ::setenv("RIVLO_SERVICE_URL", server.url().c_str(), 1);

    // The host's start-up: the Linux defaults (in a sandbox), then Qt and the bridge.
    LinuxDeviceConfig device;
    device.applicationIdentifier = "rivlo-qt-shop-e2e";
    device.screenBounds = Rect(0, 0, 390, 844);
    device.screenScale = 1;
    device.cachesDirectory = (root / "caches").string();
    device.defaultsDirectory = (root / "defaults").string();
    auto linuxDevice = LinuxPlatform::install(device);
    RVUtil::setApplicationCachesDirectory(linuxDevice->cachesDirectory());
    RivloRecorders::registerAll();  // what the library's start registers
    rivlo::test::qtBridge();

    shop::ShopWindow window(shop::defaultArticleFile());
    window.resize(390, 844);
    QtPlatform::occludeSensitiveWidget(window.login()->memberCard());
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    RVFacade::tagUsersName("ada");
    RVFacade::startApplicationWithKey(app.key);
    ASSERT_TRUE(
        qtWaitFor([] { return RVUtil::isInfoPostSuccess() && RVFacade::isRecording(); }, 30))
        << "the collector did not verify the application";

    const shop::ShopVisit visit = shop::ShopScript::play(window);
    EXPECT_TRUE(visit.problems.empty());
    const std::vector<std::string> problems = shop::ShopScript::check(config.dataDir, visit);
    std::string all;
    for (const auto& p : problems)
        all += "  " + p + "\n";
    EXPECT_TRUE(problems.empty()) << all;

    server.stop();
    ::unsetenv("RIVLO_SERVICE_URL");
    std::error_code ec;
    fs::remove_all(root, ec);
}
