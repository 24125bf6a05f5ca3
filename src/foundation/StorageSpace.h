#pragma once

#include <cstdint>
#include <string>

namespace rivlo {

// Whether the device's storage is full, so that a full disk costs one log line rather than one
// per write: recording goes on, and what cannot be written waits in memory (the defaults) or is
// dropped (frames, documents) until space returns. Any thread.
//
// A full period ends only when a write succeeds on a file system with room again (kRoomBytes
// free): while the disk stays full, the library's own clean-up (a movie that could not be
// finished and is deleted) frees a little space that the next small write takes, and the write
// after it fails again; that is still one full period, not a new one with a line of its own.
class StorageSpace {
  public:
    static constexpr uint64_t kRoomBytes = 1 << 20;

    // After a write failed with errno `error`. True when the storage is full (ENOSPC, EDQUOT);
    // the first such failure since space was last seen writes one line naming `what`, later
    // ones write nothing. Other errors are for the caller to log.
    static bool noteWriteFailure(int error, const std::string& what);
    // After a write of `path` succeeded: ends a full period, with one line, when its file system
    // has room again (or its free space cannot be read).
    static void noteWriteSuccess(const std::string& path);
    // The same with the free space known (tests).
    static void noteWriteSuccess(uint64_t freeBytes);
    static bool isFull();
};

}  // namespace rivlo
