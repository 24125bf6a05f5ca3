#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

namespace rivlo {

// Process-wide facts and values that identify the running session: the application device
// identifier, the run number, the session clock, file stamps and the folders of the store.
// Every member is safe to call from any thread.
class RVUtil {
public:
    // The shared instance, created on first use and never destroyed.
    static RVUtil* sharedHandler();

    // ---- Identity -------------------------------------------------------------------------

    // The identifier the service assigned to this installation ("" until it answered).
    static void appDeviceId(const std::string& identifier);
    static std::string appDeviceId();

    // True once this session's verification succeeded and its device facts were collected.
    static void isInfoPostSuccess(bool posted);
    static bool isInfoPostSuccess();

    // Run number of the current session (the shared instance's count), as "%ld" text.
    static std::string deviceRunNo();
    int64_t count() const { return count_.load(); }
    void setCount(int64_t count) { count_.store(count); }

    // ---- Session clock --------------------------------------------------------------------

    // Notes now as the session start.
    void startApplicationTimer();
    // Whole seconds since the session start, "%ld" ("0" before any start).
    std::string applicationTotalTime() const;
    // Now in local time as "yyyy-MM-dd hh:mm:ss a" (12-hour clock with AM/PM marker).
    std::string currentDate() const;

    // ---- File stamps ----------------------------------------------------------------------

    // A strictly increasing whole-second stamp (Unix time, bumped past the last one handed
    // out in this process), as "%lld".
    static std::string dateForFile();
    // As above, but keeps taking the next stamp while isTaken(stamp) says the name built
    // from it is in use. Stamps restart with each launch (and follow the wall clock back), so
    // a name from an earlier run may still be on disk.
    static std::string dateForFile(const std::function<bool(const std::string&)>& isTaken);
    // The stamp for a file named prefix + stamp + suffix in the store folder folderName
    // (e.g. "/RVData", "", ".txt"), never the name of a file already there.
    static std::string dateForFile(const std::string& folderName, const std::string& prefix,
                                   const std::string& suffix);

    // ---- Store folders --------------------------------------------------------------------

    // The application's caches directory. Set by the platform at start-up, or by tests.
    // Until set: $XDG_CACHE_HOME, else $HOME/.cache, else the temporary directory.
    static void setApplicationCachesDirectory(const std::string& directory);
    static std::string applicationCachesDirectory();
    // The store root: the caches directory followed by "/com.rivlo.rivlosdk".
    static std::string cachesDirectory();
    // The store root with name appended as one path component ("/RVData" → root/RVData).
    static std::string folderPath(const std::string& name);

private:
    RVUtil() = default;
    std::atomic<int64_t> count_{0};
    std::atomic<double> sessionStart_{0};
};

}  // namespace rivlo
