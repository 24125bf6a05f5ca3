#pragma once

#include <functional>
#include <thread>

namespace rivlo {

// Threads the library starts for one piece of work each (a recorder stopping, a camera being set
// up, a crash being handled). None is detached: a finished one is joined when the next starts,
// the others when the library closes. While one runs it counts as pending work (PendingWork),
// so flush and close wait for it.
class BackgroundThreads {
  public:
    // Runs work on a new thread named `name` (at most 15 characters are kept). Any thread.
    static void start(const char* name, std::function<void()> work);
    // Takes a thread its owner could not join because the owner ended on that very thread (a
    // movie writer released by its own encoder thread); a short thread of ours joins it. Any
    // thread.
    static void adopt(std::thread thread);
    // Joins every thread started or adopted so far. Close only: never from one of them.
    static void joinAll();
};

}  // namespace rivlo
