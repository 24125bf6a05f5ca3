#pragma once

#include "foundation/EventLoop.h"

#include <functional>
#include <thread>

namespace rivlo {

// The main run loop. The host (or a test, or the demo) drives it from its main thread with
// run(), runUntil() or runPending(); everything the platform would do on the main thread is
// posted here.
class RunLoop {
  public:
    using Task = EventLoop::Task;
    using Duration = EventLoop::Duration;

    // The main thread is the thread that first drives the loop (or that calls
    // setMainThread()); until then it is the thread that first asked for the loop.
    static RunLoop& main();

    // Any thread.
    void post(Task task);
    DelayedCall postAfter(Duration delay, Task task);
    // Runs the task now when called on the main thread, else posts it.
    void runOrPost(Task task);
    // Runs the task on the main thread and waits for it. Must not be called while the main
    // thread waits for the caller.
    void sync(const Task& task);

    // Main thread only.
    void run();
    bool runUntil(const std::function<bool()>& predicate, Duration timeout);
    size_t runPending();
    // Any thread.
    void stop();

    static bool isMainThread();
    // Declares the calling thread the main thread.
    void setMainThread();

  private:
    RunLoop();
    EventLoop loop_;
};

}  // namespace rivlo
