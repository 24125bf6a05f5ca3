#pragma once

#include <functional>
#include <string>

namespace rivlo {

// Where the pending-upload store keeps its files, and the stamps its file names carry.
// Every member is safe to call from any thread. RVUtil answers with these same values.
class RVStorePaths {
  public:
    // ---- Store folders --------------------------------------------------------------------

    // The application's caches directory: the one set here (tests, tools), else the installed
    // device's (Device::cachesDirectory, which every platform's install provides: on Linux
    // $XDG_CACHE_HOME/<application id>), else, with no platform installed, a folder named after
    // the program below $XDG_CACHE_HOME, $HOME/.cache or the temporary directory. Setting ""
    // goes back to the device's.
    static void setApplicationCachesDirectory(const std::string& directory);
    static std::string applicationCachesDirectory();
    // The store root: the caches directory followed by "/com.rivlo.rivlosdk".
    static std::string cachesDirectory();
    // The store root with name appended as one path component ("/RVData" → root/RVData).
    static std::string folderPath(const std::string& name);

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
};

}  // namespace rivlo
