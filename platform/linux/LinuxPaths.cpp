#include "platform/linux/LinuxPaths.h"

#include "foundation/Log.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace rivlo {
namespace {

std::optional<std::string> environment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

std::string baseFolder(const std::optional<std::string>& xdg, const std::string& home,
                       const char* fallback) {
    if (xdg && !xdg->empty() && xdg->front() == '/') return *xdg;
    return home + "/" + fallback;
}

}  // namespace

std::string LinuxPaths::safeComponent(const std::string& applicationIdentifier) {
    std::string component = applicationIdentifier;
    for (char& c : component) {
        if (c == '/' || static_cast<unsigned char>(c) < 0x20) c = '_';
    }
    if (component.empty() || component == "." || component == "..") return "application";
    return component;
}

std::string LinuxPaths::cachesDirectory(const std::string& applicationIdentifier,
                                        const std::optional<std::string>& xdgCacheHome,
                                        const std::string& home) {
    return baseFolder(xdgCacheHome, home, ".cache") + "/" + safeComponent(applicationIdentifier);
}

std::string LinuxPaths::defaultsDirectory(const std::string& applicationIdentifier,
                                          const std::optional<std::string>& xdgConfigHome,
                                          const std::string& home) {
    return baseFolder(xdgConfigHome, home, ".config") + "/" + safeComponent(applicationIdentifier);
}

std::string LinuxPaths::cachesDirectory(const std::string& applicationIdentifier) {
    return cachesDirectory(applicationIdentifier, environment("XDG_CACHE_HOME"), homeDirectory());
}

std::string LinuxPaths::defaultsDirectory(const std::string& applicationIdentifier) {
    return defaultsDirectory(applicationIdentifier, environment("XDG_CONFIG_HOME"),
                             homeDirectory());
}

std::string LinuxPaths::homeDirectory() {
    if (auto home = environment("HOME"); home && !home->empty()) return *home;
    passwd entry{};
    passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(getuid(), &entry, buffer, sizeof(buffer), &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr && found->pw_dir[0] != '\0') {
        return found->pw_dir;
    }
    std::error_code ignored;
    return std::filesystem::temp_directory_path(ignored).string();
}

bool LinuxPaths::makeDirectories(const std::string& path) {
    if (path.empty()) return false;
    std::string partial;
    size_t at = 0;
    while (at != std::string::npos) {
        size_t next = path.find('/', at + 1);
        partial = path.substr(0, next);
        at = next;
        if (partial.empty() || partial == "/") continue;
        if (mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) {
            RVLog("Rivlo: cannot create folder %s: %s", partial.c_str(), std::strerror(errno));
            return false;
        }
    }
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace rivlo
