#pragma once

#include <string>

namespace rivlo {

// Whether the device's storage is full, so that a full disk costs one log line rather than one
// per write: recording goes on, and what cannot be written waits in memory (the defaults) or is
// dropped (frames, documents) until space returns. Any thread.
class StorageSpace {
  public:
    // After a write failed with errno `error`. True when the storage is full (ENOSPC, EDQUOT);
    // the first such failure since space was last seen writes one line naming `what`, later
    // ones write nothing. Other errors are for the caller to log.
    static bool noteWriteFailure(int error, const std::string& what);
    // After a write succeeded: ends a full period with one line.
    static void noteWriteSuccess();
    static bool isFull();
};

}  // namespace rivlo
