#include "platform/qt/QtWebEngine.h"

#include "foundation/Log.h"
#include "foundation/SharedInstance.h"

#include <QObject>

#include <atomic>
#include <mutex>
#include <string>

#include <dlfcn.h>

namespace rivlo {

namespace {

std::atomic<QtWebEngine::Factory> gProvided{nullptr};
// The module's object: made on first use, freed when the library closes (the module itself
// stays loaded).
SharedInstance<QtWebEngine> gModule;

// The folder of the shared object this code is part of ("" when it cannot be told).
std::string ownFolder() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&QtWebEngine::module), &info) == 0 ||
        info.dli_fname == nullptr)
        return "";
    const std::string path = info.dli_fname;
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash);
}

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
    void* handle = nullptr;
    if (const std::string folder = ownFolder(); !folder.empty()) {
        handle = dlopen((folder + "/" + QtWebEngine::kModuleFile).c_str(), RTLD_NOW | RTLD_LOCAL);
    }
    if (!handle) handle = dlopen(QtWebEngine::kModuleFile, RTLD_NOW | RTLD_LOCAL);
    if (handle) {
        // Never closed: its code stays in use for the process.
        loaded = reinterpret_cast<QtWebEngine::Factory>(dlsym(handle, QtWebEngine::kEntryPoint));
    }
    if (!loaded) {
        const char* error = dlerror();
        RVLog(
            "Rivlo: QtPlatform: the web view module %s could not be loaded (%s); web views are "
            "painted over whole and their pages are not captured",
            QtWebEngine::kModuleFile, error ? error : "no entry point");
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
