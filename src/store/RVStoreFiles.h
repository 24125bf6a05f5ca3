#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

namespace rivlo {

// File-system helpers of the pending-upload store. Everything the store creates is private
// to the user: folders 0700, files 0600. Any thread; no shared state.
class RVStoreFiles {
  public:
    // True when name is one plain path component that can be joined to a store folder: not
    // empty, not "." or "..", no '/' and no NUL. Names read back from the defaults file pass
    // through here before a file is opened or deleted, so a hand-edited list cannot reach
    // outside the store.
    static bool isSafeName(const std::string& name);

    // Creates the folder and any missing parents with mode 0700. True when it exists after.
    static bool createDirectory(const std::string& path);

    // Copies source to destination through a temporary file beside the destination (fsync,
    // then rename), mode 0600, so a crash mid-copy never leaves half a movie under the final
    // name. On failure returns false with the reason in error.
    static bool copyFile(const std::string& source, const std::string& destination,
                         std::string& error);

    // Moves source to destination (mode 0600): a rename, which needs no free space; across
    // file systems a copyFile, the source removed only after the copy is complete on disk.
    // On failure returns false with the reason in error, and the source is where it was.
    static bool moveFile(const std::string& source, const std::string& destination,
                         std::string& error);

    // Removes a file or folder (recursively); errors ignored. Returns true when removed.
    static bool removeItem(const std::string& path);

    // Removes every direct item of folder whose name is not in keep (everything when keep is
    // absent). A missing folder is left alone. Returns the number of items removed.
    static size_t cleanupDirectory(const std::string& folder,
                                   const std::optional<std::set<std::string>>& keep);

    static bool exists(const std::string& path);

    // Names of the regular files directly in folder (none when it is missing).
    static std::vector<std::string> regularFileNames(const std::string& folder);
};

}  // namespace rivlo
