#include "foundation/StorageSpace.h"

#include "foundation/Log.h"

#include <atomic>
#include <cerrno>

namespace rivlo {

namespace {
std::atomic<bool> full{false};
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

void StorageSpace::noteWriteSuccess() {
    if (full.exchange(false)) Log::write("Rivlo: Storage space is available again");
}

bool StorageSpace::isFull() {
    return full.load();
}

}  // namespace rivlo
