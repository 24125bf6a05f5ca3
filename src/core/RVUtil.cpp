#include "core/RVUtil.h"

#include "foundation/Clock.h"
#include "foundation/Log.h"

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <mutex>

namespace rivlo {

namespace {

// Process-wide values. Texts are guarded by one mutex; nothing is called out while it is held.
std::mutex gMutex;
std::string gAppDeviceId;
std::string gCachesDirectory;
bool gCachesDirectorySet = false;
std::atomic<bool> gInfoPostSuccess{false};
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
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

}  // namespace

RVUtil* RVUtil::sharedHandler() {
    static RVUtil* const instance = new RVUtil;
    return instance;
}

void RVUtil::appDeviceId(const std::string& identifier) {
    std::lock_guard<std::mutex> lock(gMutex);
    gAppDeviceId = identifier;
}

std::string RVUtil::appDeviceId() {
    std::lock_guard<std::mutex> lock(gMutex);
    return gAppDeviceId;
}

void RVUtil::isInfoPostSuccess(bool posted) { gInfoPostSuccess.store(posted); }

bool RVUtil::isInfoPostSuccess() { return gInfoPostSuccess.load(); }

std::string RVUtil::deviceRunNo() {
    return format("%ld", static_cast<long>(sharedHandler()->count()));
}

void RVUtil::startApplicationTimer() { sessionStart_.store(Clock::now()); }

std::string RVUtil::applicationTotalTime() const {
    const double start = sessionStart_.load();
    if (start <= 0) return "0";
    const double elapsed = std::floor(Clock::now() - start);
    return format("%ld", static_cast<long>(elapsed < 0 ? 0 : elapsed));
}

std::string RVUtil::currentDate() const {
    // The calendar year, not the week-based one: a week-based year shows the next year for
    // the last days of December.
    const auto seconds = static_cast<time_t>(std::floor(Clock::now()));
    struct tm local{};
    localtime_r(&seconds, &local);
    char buffer[64];
    const size_t length = strftime(buffer, sizeof buffer, "%Y-%m-%d %I:%M:%S %p", &local);
    return std::string(buffer, length);
}

std::string RVUtil::dateForFile() { return format("%lld", static_cast<long long>(nextFileStamp())); }

std::string RVUtil::dateForFile(const std::function<bool(const std::string&)>& isTaken) {
    std::string stamp = dateForFile();
    for (int attempt = 0; isTaken && attempt < kMaxStampAttempts && isTaken(stamp); ++attempt) {
        stamp = dateForFile();
    }
    return stamp;
}

std::string RVUtil::dateForFile(const std::string& folderName, const std::string& prefix,
                                const std::string& suffix) {
    const std::string folder = folderPath(folderName);
    return dateForFile([&](const std::string& stamp) {
        std::error_code ec;
        // symlink_status: a dangling link is a taken name too.
        return std::filesystem::exists(
            std::filesystem::symlink_status(folder + "/" + prefix + stamp + suffix, ec));
    });
}

void RVUtil::setApplicationCachesDirectory(const std::string& directory) {
    std::lock_guard<std::mutex> lock(gMutex);
    gCachesDirectory = trimTrailingSlashes(directory);
    gCachesDirectorySet = !gCachesDirectory.empty();
}

std::string RVUtil::applicationCachesDirectory() {
    {
        std::lock_guard<std::mutex> lock(gMutex);
        if (gCachesDirectorySet) return gCachesDirectory;
    }
    return trimTrailingSlashes(defaultCachesDirectory());
}

std::string RVUtil::cachesDirectory() {
    return applicationCachesDirectory() + "/com.rivlo.rivlosdk";
}

std::string RVUtil::folderPath(const std::string& name) {
    size_t begin = 0;
    while (begin < name.size() && name[begin] == '/') ++begin;
    const std::string component = trimTrailingSlashes(name.substr(begin));
    if (component.empty() || component == "/") return cachesDirectory();
    return cachesDirectory() + "/" + component;
}

}  // namespace rivlo
