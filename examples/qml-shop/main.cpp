// The QML shop as a program: a real Qt Quick application (QGuiApplication, no Qt Widgets)
// recorded by the library.
//
//   rivlo-qml-shop APPLICATION_KEY
//
// Against the reference collector on this machine:
//   build/release/tools/collector/rivlo-collector serve --data /tmp/collector --port 8089
//       --app-key my-key &      (one line)
//   RIVLO_SERVICE_URL=http://127.0.0.1:8089/ build/release/examples/qml-shop/rivlo-qml-shop my-key
//
// The lines marked "rivlo" are all a QML application adds; the member card is occluded in its
// QML (LoginPage.qml: `import Rivlo 1.0`, `Rivlo.occluded: true`).

#include "QmlShop.h"

#include "rivlo/Platform.h"            // rivlo
#include "rivlo/Rivlo.h"               // rivlo
#include "rivlo/qt/QtQuickPlatform.h"  // rivlo

#include <QGuiApplication>
#include <QtWebEngineQuick/qtwebenginequickglobal.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s APPLICATION_KEY\n", argv[0]);
        return 2;
    }
    const std::string key = argv[1];
    QtWebEngineQuick::initialize();  // the article is a web page (before the application)
    QGuiApplication app(argc, argv);
    rivlo::installLinuxPlatform({"com.rivlo.qml-shop", "QML Shop", "1.0"});  // rivlo
    rivlo::QtQuickPlatform::install(app);  // rivlo: the Qt Quick bridge

    shop::QmlShop shop(shop::defaultArticleUrl());
    if (!shop.loaded()) return 1;

    rivlo::Rivlo::startApplicationWithKey(key);  // rivlo
    return app.exec();
}
