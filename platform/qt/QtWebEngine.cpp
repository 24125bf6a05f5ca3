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

// One kind of web view: its module's file and entry point, how to make its object, and the
// object (made on first use, freed when the library closes; the module itself stays loaded).
struct ModuleSlot {
    const char* file;
    const char* entryPoint;
    const char* viewClass;
    std::atomic<QtWebEngine::Factory> provided{nullptr};
    std::mutex mutex;
    QtWebEngine::Factory loaded = nullptr;  // guarded by mutex
    bool tried = false;                     // guarded by mutex
    SharedInstance<QtWebEngine> object;
};

ModuleSlot gWidgetModule{QtWebEngine::kModuleFile, QtWebEngine::kEntryPoint, "QWebEngineView"};
ModuleSlot gQuickModule{QtWebEngine::kQuickModuleFile, QtWebEngine::kQuickEntryPoint,
                        "QQuickWebEngineView"};

ModuleSlot& slotOf(QtWebEngine::Kind kind) {
    return kind == QtWebEngine::Kind::Quick ? gQuickModule : gWidgetModule;
}

// How to make a module: provided, or the entry point of the loaded module (null, logged once,
// when there is none).
QtWebEngine::Factory factory(ModuleSlot& slot) {
    if (auto provided = slot.provided.load()) return provided;
    std::lock_guard lock(slot.mutex);
    if (slot.tried) return slot.loaded;
    slot.tried = true;
    std::string problem;
    slot.loaded = reinterpret_cast<QtWebEngine::Factory>(
        LoadableModule::load(slot.file, slot.entryPoint,
                             reinterpret_cast<const void*>(&QtWebEngine::isWebView), problem));
    if (!slot.loaded) {
        RVLog(
            "Rivlo: QtPlatform: the web view module %s could not be loaded (%s); web views are "
            "painted over whole and their pages are not captured",
            slot.file, problem.c_str());
    }
    return slot.loaded;
}

}  // namespace

bool QtWebEngine::isWebView(const QObject* object, Kind kind) {
    return object != nullptr && object->inherits(slotOf(kind).viewClass);
}

QtWebEngine* QtWebEngine::module(Kind kind) {
    ModuleSlot& slot = slotOf(kind);
    if (QtWebEngine* made = slot.object.peek()) return made;
    const Factory make = factory(slot);
    if (!make) return nullptr;
    return &slot.object.get([make] { return make(); });
}

void QtWebEngine::provide(Factory factory, Kind kind) {
    slotOf(kind).provided.store(factory);
}

}  // namespace rivlo
