#include "foundation/StorageSpace.h"

#include "foundation/Log.h"

#include <atomic>
#include <cerrno>
#include <limits>

#include <sys/statvfs.h>

namespace rivlo {

namespace {
std::atomic<bool> full{false};

// The free space of the file system holding `path` (a file or a folder); the largest value
// when it cannot be read.
uint64_t freeBytesAt(const std::string& path) {
    struct statvfs info {};
    std::string folder = path;
    if (statvfs(folder.c_str(), &info) != 0) {
        const auto slash = folder.rfind('/');
        folder = slash == std::string::npos ? "." : folder.substr(0, slash == 0 ? 1 : slash);
        if (statvfs(folder.c_str(), &info) != 0) return std::numeric_limits<uint64_t>::max();
    }
    return static_cast<uint64_t>(info.f_bavail) * info.f_frsize;
}
}  // namespace

bool StorageSpace::noteWriteFailure(int error, const std::string& what) {
    if (error != ENOSPC && error != EDQUOT) return false;
    if (!full.exchange(true)) {
        Log::write(
            "Rivlo: The device's storage is full (writing %s); recording goes on, and what "
            "cannot be stored waits until space returns",
            what.c_str());
    }
    return true;
}

void StorageSpace::noteWriteSuccess(const std::string& path) {
    if (!full.load()) return;  // the common case: no statvfs per write
    noteWriteSuccess(freeBytesAt(path));
}

void StorageSpace::noteWriteSuccess(uint64_t freeBytes) {
    if (freeBytes < kRoomBytes) return;  // still full: a write fitted into a gap
    if (full.exchange(false)) Log::write("Rivlo: Storage space is available again");
}

bool StorageSpace::isFull() {
    return full.load();
}

}  // namespace rivlo
