#include "store/RVStorePaths.h"

#include "foundation/Clock.h"
#include "foundation/Log.h"
#include "platform/Device.h"
#include "platform/Platform.h"
#include "protocol/RVWireProtocol.h"

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string_view>

namespace rivlo {

namespace {

// The caches directory set by a test or tool; guarded by gMutex, nothing called out under it.
std::mutex gMutex;
std::string gCachesDirectory;
bool gCachesDirectorySet = false;
std::atomic<int64_t> gLastFileStamp{0};

// Upper bound on names tried for one stamp: far beyond any folder the store keeps (its lists
// hold at most 500 entries), it only guards against a predicate that is always true.
constexpr int kMaxStampAttempts = 100000;

int64_t nextFileStamp() {
    const auto now = static_cast<int64_t>(std::trunc(Clock::now()));
    int64_t last = gLastFileStamp.load();
    int64_t next = 0;
    do {
        next = last < now ? now : last + 1;
    } while (!gLastFileStamp.compare_exchange_weak(last, next));
    return next;
}

std::string defaultCachesDirectory() {
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    if (xdg && *xdg == '/') return xdg;
    const char* home = std::getenv("HOME");
    if (home && *home) return std::string(home) + "/.cache";
    std::error_code ec;
    auto tmp = std::filesystem::temp_directory_path(ec);
    return ec ? std::string("/tmp") : tmp.string();
}

std::string trimTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

}  // namespace

void RVStorePaths::setApplicationCachesDirectory(const std::string& directory) {
    std::lock_guard<std::mutex> lock(gMutex);
    gCachesDirectory = trimTrailingSlashes(directory);
    gCachesDirectorySet = !gCachesDirectory.empty();
}

std::string RVStorePaths::applicationCachesDirectory() {
    {
        std::lock_guard<std::mutex> lock(gMutex);
        if (gCachesDirectorySet) return gCachesDirectory;
    }
    // The installed device knows the application's own caches folder: every application of
    // an account keeps a store of its own there, so one's clean-up never touches another's.
    if (auto device = Platform::current().device()) {
        const std::string caches = trimTrailingSlashes(device->cachesDirectory());
        if (!caches.empty()) return caches;
    }
    // No platform installed: a folder named after the program, below the account's caches.
    const std::string program =
        program_invocation_short_name && *program_invocation_short_name != '\0' &&
                std::string_view(program_invocation_short_name).find('/') == std::string_view::npos
            ? program_invocation_short_name
            : "rivlo-application";
    return trimTrailingSlashes(defaultCachesDirectory()) + "/" + program;
}

std::string RVStorePaths::cachesDirectory() {
    return applicationCachesDirectory() + "/" + RVWire::kStoreFolder;
}

std::string RVStorePaths::folderPath(const std::string& name) {
    size_t begin = 0;
    while (begin < name.size() && name[begin] == '/')
        ++begin;
    const std::string component = trimTrailingSlashes(name.substr(begin));
    if (component.empty() || component == "/") return cachesDirectory();
    return cachesDirectory() + "/" + component;
}

std::string RVStorePaths::dateForFile() {
    return format("%lld", static_cast<long long>(nextFileStamp()));
}

std::string RVStorePaths::dateForFile(const std::function<bool(const std::string&)>& isTaken) {
    std::string stamp = dateForFile();
    for (int attempt = 0; isTaken && attempt < kMaxStampAttempts && isTaken(stamp); ++attempt) {
        stamp = dateForFile();
    }
    return stamp;
}

std::string RVStorePaths::dateForFile(const std::string& folderName, const std::string& prefix,
                                      const std::string& suffix) {
    const std::string folder = folderPath(folderName);
    return dateForFile([&](const std::string& stamp) {
        std::error_code ec;
        // symlink_status: a dangling link is a taken name too.
        return std::filesystem::exists(
            std::filesystem::symlink_status(folder + "/" + prefix + stamp + suffix, ec));
    });
}

}  // namespace rivlo
