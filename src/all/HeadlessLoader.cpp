#include "all/HeadlessLoader.h"

#include "rivlo/Error.h"

#include "foundation/Log.h"

#include <mutex>
#include <string>

#include <dlfcn.h>

namespace rivlo {

namespace {

using Entry = int (*)();

// The folder of the shared object this code is part of ("" when it cannot be told).
std::string ownFolder() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&HeadlessLoader::install), &info) == 0 ||
        info.dli_fname == nullptr) {
        return "";
    }
    const std::string path = info.dli_fname;
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash);
}

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
    void* handle = nullptr;
    if (const std::string folder = ownFolder(); !folder.empty()) {
        handle = dlopen((folder + "/" + HeadlessLoader::kLibrary).c_str(), RTLD_NOW | RTLD_LOCAL);
    }
    if (!handle) handle = dlopen(HeadlessLoader::kLibrary, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* error = dlerror();
        problem = error ? error : "not found";
        return nullptr;
    }
    // Never closed: its code and objects stay in use for the process.
    entry = reinterpret_cast<Entry>(dlsym(handle, HeadlessLoader::kEntryPoint));
    if (!entry) problem = std::string(HeadlessLoader::kLibrary) + " has no entry point";
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
