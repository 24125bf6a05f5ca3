#include "all/HeadlessLoader.h"

#include "rivlo/Error.h"

#include "foundation/LoadableModule.h"
#include "foundation/Log.h"

#include <mutex>
#include <string>

#include <dlfcn.h>

namespace rivlo {

namespace {

using Entry = int (*)();

// The entry point: in the process already (a program that links the library), or from the
// library loaded here. Null with `problem` set when neither works.
Entry findEntry(std::string& problem) {
    static std::mutex mutex;
    static Entry entry = nullptr;
    std::lock_guard lock(mutex);
    if (entry) return entry;
    if (void* found = dlsym(RTLD_DEFAULT, HeadlessLoader::kEntryPoint)) {
        entry = reinterpret_cast<Entry>(found);
        return entry;
    }
    entry = reinterpret_cast<Entry>(
        LoadableModule::load(HeadlessLoader::kLibrary, HeadlessLoader::kEntryPoint,
                             reinterpret_cast<const void*>(&HeadlessLoader::install), problem));
    return entry;
}

}  // namespace

int HeadlessLoader::install(const char* function) {
    std::string problem;
    const Entry entry = findEntry(problem);
    if (!entry) {
        RVLog("Rivlo: %s: the headless device is not installed: %s could not be loaded (%s)",
              function, kLibrary, problem.c_str());
        return RIVLO_ERROR_UNAVAILABLE;
    }
    return entry();
}

}  // namespace rivlo
