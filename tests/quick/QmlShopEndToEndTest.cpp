// The QML shop (examples/qml-shop) recorded end to end, as `make demo` records it: the reference
// collector runs in this process on loopback, the shop's real QML on a QGuiApplication is driven
// with Qt's own synthetic input by the visit the demo plays (log in, the product list with
// swipes, a product, the article, log out), the application goes to the background and comes
// back (a second session), and the check reads back what the collector kept: both movies decode,
// no frame holds a pixel of the password's or the member card's colours (also while the pages
// slide), the login page shows masked, and the gestures sit at their items.

#include "QmlShopDemo.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;

TEST(QmlShopEndToEnd, TheQmlShopRecordedWithRealQtInputArrivesWholeAtTheCollector) {
    char pattern[] = "/tmp/rivlo-qml-e2e-XXXXXX";
    const fs::path root = ::mkdtemp(pattern);
    rivlo::demo::DemoOptions options;
    options.dataDir = root;
    options.appKey = "qml-shop-e2e-key";
    const rivlo::demo::QtShopDemoResult result = rivlo::demo::QmlShopDemo::run(options);
    ASSERT_TRUE(result.collectorStarted);
    for (const auto& problem : result.problems)
        ADD_FAILURE() << problem;
    std::error_code ec;
    if (!HasFailure()) fs::remove_all(root, ec);
}
