#include "platform/qt/QtWebEngine.h"

#include "foundation/LoadableModule.h"
#include "foundation/Log.h"
#include "foundation/SharedInstance.h"

#include <QObject>

#include <atomic>
#include <mutex>
#include <string>

namespace rivlo {

namespace {

std::atomic<QtWebEngine::Factory> gProvided{nullptr};
// The module's object: made on first use, freed when the library closes (the module itself
// stays loaded).
SharedInstance<QtWebEngine> gModule;

// How to make the module: provided, or the entry point of the loaded module (null, logged once,
// when there is none).
QtWebEngine::Factory factory() {
    if (auto provided = gProvided.load()) return provided;
    static std::mutex mutex;
    static QtWebEngine::Factory loaded = nullptr;
    static bool tried = false;
    std::lock_guard lock(mutex);
    if (tried) return loaded;
    tried = true;
    std::string problem;
    loaded = reinterpret_cast<QtWebEngine::Factory>(
        LoadableModule::load(QtWebEngine::kModuleFile, QtWebEngine::kEntryPoint,
                             reinterpret_cast<const void*>(&QtWebEngine::module), problem));
    if (!loaded) {
        RVLog(
            "Rivlo: QtPlatform: the web view module %s could not be loaded (%s); web views are "
            "painted over whole and their pages are not captured",
            QtWebEngine::kModuleFile, problem.c_str());
    }
    return loaded;
}

}  // namespace

bool QtWebEngine::isWebView(const QObject* object) {
    return object != nullptr && object->inherits("QWebEngineView");
}

QtWebEngine* QtWebEngine::module() {
    if (QtWebEngine* made = gModule.peek()) return made;
    const Factory make = factory();
    if (!make) return nullptr;
    return &gModule.get([make] { return make(); });
}

void QtWebEngine::provide(Factory factory) {
    gProvided.store(factory);
}

}  // namespace rivlo
