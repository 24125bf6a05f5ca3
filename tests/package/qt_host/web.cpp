// A Qt Widgets program with a web view, outside the project, built against the installed package
// (Rivlo::qt) and Qt WebEngine: the bridge loads its web view module from the installed
// library's folder when the view appears. It prints the module's path as the process mapped it
// ("module: PATH", or "module: none" after SECONDS), closes the library and says so.
//
//   rivlo-qt-web-host SECONDS

#include <rivlo/Platform.h>       // rivlo
#include <rivlo/Rivlo.h>          // rivlo
#include <rivlo/qt/QtPlatform.h>  // rivlo

#include <QApplication>
#include <QTest>
#include <QWebEngineView>
#include <QWidget>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

// The mapped file of the web view module, or "".
std::string mappedModule() {
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);) {
        const auto at = line.find('/');
        if (at != std::string::npos && line.find("rivlo-qt-webengine.so") != std::string::npos)
            return line.substr(at);
    }
    return "";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s SECONDS\n", argv[0]);
        return 2;
    }
    const int seconds = std::atoi(argv[1]);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    rivlo::installLinuxPlatform({"com.example.qt-web-host", "Qt Web Host", "1.0"});  // rivlo
    rivlo::QtPlatform::install(app);                                                 // rivlo

    QWidget window;
    auto* view = new QWebEngineView(&window);
    view->setHtml("<p>Sign in</p><input type=password value=secret>");
    view->setGeometry(0, 0, 320, 480);
    window.resize(320, 480);
    window.show();
    std::string module;
    QTest::qWaitFor([&] { return !(module = mappedModule()).empty(); }, seconds * 1000);
    std::printf("module: %s\n", module.empty() ? "none" : module.c_str());
    std::printf("close: %d\n", rivlo::Rivlo::close(std::chrono::seconds(10)));  // rivlo
    return module.empty() ? 1 : 0;
}
