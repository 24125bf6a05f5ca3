#pragma once

#include "foundation/EventLoop.h"
#include "foundation/MainThreadScheduler.h"

#include <functional>
#include <memory>
#include <optional>
#include <thread>

namespace rivlo {

// The main run loop: everything the platform would do on the main thread is posted here. Two
// ways to drive it:
//  - the host (or a test, or the demo) turns it from its main thread with run(), runUntil(),
//    runFor() or runPending();
//  - a host's own event loop runs it through a MainThreadScheduler (setScheduler): the loop
//    asks for perform() when work arrives or a timer moves earlier, and perform() says when the
//    next timer is due. Nothing to do means no call.
// Its tasks count as the library's pending work (PendingWork).
class RunLoop {
  public:
    using Task = EventLoop::Task;
    using Duration = EventLoop::Duration;

    // The main thread is the thread that first drives the loop (or that calls
    // setMainThread()); until then it is the thread that first asked for the loop. With a
    // scheduler, it is the scheduler's main thread.
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
    void runFor(Duration timeout);
    size_t runPending();
    // Runs what is due now and returns how long until the next timer is due (nullopt: no
    // timer), for a scheduler's host to arm its one timer with. Main thread only.
    std::optional<Duration> perform();
    // Any thread.
    void stop();

    // Hands the loop to a host's event loop (null: the host turns it itself again). When work
    // is already waiting, the scheduler is notified at once. Any thread.
    void setScheduler(std::shared_ptr<MainThreadScheduler> scheduler);
    std::shared_ptr<MainThreadScheduler> scheduler() const;

    // Drops every task and timer without running them (a closing library). Any thread.
    void discardAll();
    // Number of tasks waiting (timers excluded). Any thread.
    size_t pendingCount() const;

    static bool isMainThread();
    // Declares the calling thread the main thread.
    void setMainThread();

  private:
    RunLoop();
    EventLoop loop_;
};

}  // namespace rivlo
