#pragma once

#include <cstdint>

namespace rivlo {

// How much work of the library is under way: tasks queued or running on the main run loop, on
// a serial queue or on the global queues, and operations added to an operation queue and not
// yet settled (finished, their completion handed on). Timers count from the moment they are
// due. A piece of work that hands work on counts the new piece before its own ends, so the
// count reaches zero only when a chain of hand-offs (request, answer, callback on the main
// thread, the next request) has wholly ended. Flush and close wait on it.
//
// Any thread.
class PendingWork {
  public:
    static void add(int64_t count = 1);
    static void done(int64_t count = 1);
    static int64_t count();
    // Waits until the count is zero or `seconds` passed; true when it is zero. Does not turn
    // the main run loop (see RunLoop::runUntil for that).
    static bool waitUntilIdle(double seconds);
    // Forgets the count (close, after every thread ended and every queue was emptied).
    static void reset();
};

}  // namespace rivlo
