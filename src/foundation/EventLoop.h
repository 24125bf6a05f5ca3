#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

namespace rivlo {

// A span of time in seconds. Converts implicitly from a number of seconds (0.5) and from
// any std::chrono duration (50ms), so call sites read naturally either way.
struct Seconds {
    double value = 0;
    Seconds() = default;
    Seconds(double seconds) : value(seconds) {}  // NOLINT(google-explicit-constructor)
    template <class Rep, class Period>
    Seconds(std::chrono::duration<Rep, Period> d)  // NOLINT(google-explicit-constructor)
        : value(std::chrono::duration_cast<std::chrono::duration<double>>(d).count()) {}
    double count() const { return value; }
    std::chrono::steady_clock::duration steady() const {
        double v = value > 0 ? value : 0;
        if (v > 1e9) v = 1e9;  // far enough to mean "never", small enough not to overflow
        return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(v));
    }
};

// A handle to a delayed call; cancel() prevents it from running if it has not started.
class DelayedCall {
  public:
    DelayedCall() = default;
    explicit DelayedCall(std::shared_ptr<std::atomic<bool>> cancelled)
        : cancelled_(std::move(cancelled)) {}
    // Any thread. Returns true when the call had not run yet and never will.
    bool cancel();
    bool valid() const { return cancelled_ != nullptr; }

  private:
    std::shared_ptr<std::atomic<bool>> cancelled_;
};

// A task queue with timers, drained by whichever thread runs it. Used for the main run loop
// (driven by the host) and for each serial dispatch queue (driven by its own thread). The thread
// running it sleeps until a task arrives, a timer is due or its own time is up: nothing to do
// means no wake-up.
class EventLoop {
  public:
    using Task = std::function<void()>;
    using Duration = Seconds;

    // A loop that counts as the library's pending work (PendingWork) keeps its tasks in the
    // count from posting (a timer: from being due) until they ran or were dropped.
    explicit EventLoop(bool countsAsPendingWork = false);
    ~EventLoop();
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    // Any thread.
    void post(Task task);
    DelayedCall postAfter(Duration delay, Task task);

    // Runs tasks on the calling thread until stop() is called.
    void run();
    // Runs tasks until the predicate is true (checked after each task and at least every 5 ms)
    // or the timeout passes. Returns the predicate's last value.
    bool runUntil(const std::function<bool()>& predicate, Duration timeout);
    // Runs tasks until the timeout passes or stop() is called, waking only for tasks, due
    // timers and the end.
    void runFor(Duration timeout);
    // Runs tasks that are due now, then returns the number run.
    size_t runPending();
    // Makes run() and runFor() return after the current task. Any thread.
    void stop();

    // Number of tasks waiting (timers excluded). Any thread.
    size_t pendingCount() const;
    // How long until the earliest timer is due (0 when it is due already); nullopt without
    // timers. Any thread.
    std::optional<Duration> nextTimerDelay() const;

    // Called when the loop gets something its driver must wake for: a task, or a timer due
    // earlier than every other. Called on the posting thread, outside the loop's lock, at most
    // once until the driver next takes work (runPending, run...). Empty: no calls. Any thread.
    void setWakeHandler(std::function<void()> handler);

    // Drops every task and timer without running them (a closing library). Any thread.
    void discardAll();

  private:
    using TimePoint = std::chrono::steady_clock::time_point;
    struct Timer {
        Task task;
        std::shared_ptr<std::atomic<bool>> cancelled;
    };
    // Takes one due task (waiting at most until `until`); returns false if none.
    bool takeOne(Task& out, TimePoint until);
    // Runs a taken task and ends its count.
    void runTaken(Task& task);
    // Moves due timers to the task list (lock held).
    void moveDueTimers(TimePoint now);

    const bool counts_;
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<Task> tasks_;
    std::multimap<TimePoint, Timer> timers_;
    bool stopRequested_ = false;
    std::function<void()> wakeHandler_;
    bool wakeRequested_ = false;  // the handler was called and the driver has not come since
};

}  // namespace rivlo
