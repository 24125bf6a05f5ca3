// The Qt shop as a program: a real Qt Widgets application recorded by the library.
//
//   rivlo-qt-shop APPLICATION_KEY
//
// Against the reference collector on this machine:
//   build/release/tools/collector/rivlo-collector serve --data /tmp/collector --port 8089
//       --app-key my-key &      (one line)
//   RIVLO_SERVICE_URL=http://127.0.0.1:8089/ build/release/examples/qt-shop/rivlo-qt-shop my-key
//
// The lines marked "rivlo" are all a Qt application adds.

#include "ShopWindow.h"

#include "rivlo/Platform.h"       // rivlo
#include "rivlo/Rivlo.h"          // rivlo
#include "rivlo/qt/QtPlatform.h"  // rivlo

#include <QApplication>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s APPLICATION_KEY\n", argv[0]);
        return 2;
    }
    const std::string key = argv[1];
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);  // WebEngine in widgets
    QApplication app(argc, argv);
    rivlo::installLinuxPlatform({"com.rivlo.qt-shop", "Qt Shop", "1.0"});  // rivlo
    rivlo::QtPlatform::install(app);                                       // rivlo: the Qt bridge

    shop::ShopWindow window(shop::defaultArticleFile());
    window.resize(390, 844);
    rivlo::QtPlatform::occludeSensitiveWidget(window.login()->memberCard());  // rivlo
    window.show();

    rivlo::Rivlo::startApplicationWithKey(key);  // rivlo
    return app.exec();
}
