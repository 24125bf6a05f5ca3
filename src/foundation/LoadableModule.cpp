#include "foundation/LoadableModule.h"

#include <dlfcn.h>

namespace rivlo {

std::string LoadableModule::folderOf(const void* anchor) {
    Dl_info info{};
    if (dladdr(anchor, &info) == 0 || info.dli_fname == nullptr) return "";
    const std::string path = info.dli_fname;
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash);
}

void* LoadableModule::load(const char* file, const char* entryPoint, const void* anchor,
                           std::string& problem) {
    void* handle = nullptr;
    if (const std::string folder = folderOf(anchor); !folder.empty()) {
        handle = dlopen((folder + "/" + file).c_str(), RTLD_NOW | RTLD_LOCAL);
    }
    if (!handle) handle = dlopen(file, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* error = dlerror();
        problem = error ? error : "not found";
        return nullptr;
    }
    void* entry = dlsym(handle, entryPoint);
    if (!entry) problem = std::string(file) + " has no entry point " + entryPoint;
    return entry;
}

}  // namespace rivlo
