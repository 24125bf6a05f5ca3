#pragma once

#include <functional>

namespace rivlo {

// The end of the library's process-wide objects when the library closes. Each shared object,
// queue and thread registers here when it is first created; close runs the registrations in
// two phases, later registrations first in each:
//  - stop: threads end (a queue drains and joins its thread, the pool joins its workers, the
//    network thread leaves its loop), while every object still exists;
//  - release: objects are freed, once no thread of the library runs any more.
// After that the registry is empty and the objects are created again on their next use, so
// the library can start again in the same process.
class Teardown {
  public:
    using Step = std::function<void()>;

    // Registers one object's end. Either step may be empty. Any thread.
    static void add(Step stop, Step release);

    // Runs every stop step, then every release step, and forgets them. Registrations made
    // while it runs (an object created again by a late user) are run too, after the others.
    // The closing thread only; never from a thread of the library.
    static void run();

    // Set by close when its time is up: long waits on the library's own threads (a recorder
    // finishing its movie, a throttled upload) end early instead of holding the close. Cleared
    // when the library starts again. Any thread.
    static bool isCancelled();
    static void setCancelled(bool cancelled);
};

}  // namespace rivlo
