#pragma once

#include "foundation/EventLoop.h"
#include "foundation/SharedInstance.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace rivlo {

// A labelled serial queue with its own worker thread: tasks run one at a time in order. Its
// tasks count as the library's pending work (PendingWork). shutdown() (or destroying the queue)
// drains the tasks already queued, then joins the thread.
class DispatchQueue {
  public:
    using Task = std::function<void()>;
    using Duration = EventLoop::Duration;

    explicit DispatchQueue(std::string label);
    ~DispatchQueue();
    DispatchQueue(const DispatchQueue&) = delete;
    DispatchQueue& operator=(const DispatchQueue&) = delete;

    const std::string& label() const { return label_; }

    // Any thread. After shutdown() a task runs on the calling thread instead (a late task of a
    // closing library must neither be lost nor wait for a thread that is gone).
    void async(Task task);
    // Runs the task on the queue and waits for it. Calling sync on the queue the caller runs
    // on is a programming error: debug builds abort, release builds log and run it inline.
    void sync(const Task& task);
    DelayedCall after(Duration delay, Task task);

    // Runs what is queued, drops the timers, and joins the thread. Any thread but the queue's
    // own (there it only stops the loop); later calls do nothing.
    void shutdown();

    // True when the calling code runs on this queue.
    bool isCurrent() const;
    // The label of the serial queue the caller runs on, or "" elsewhere.
    static std::string currentLabel();

    // Priorities of the global concurrent queues.
    enum class Priority { High, Default, Low, Background };
    // Runs the task on a background thread of a pool that grows on demand (blocked tasks
    // never starve others). The task counts as pending work until it ran. Any thread.
    static void global(Priority priority, Task task);
    static void globalAfter(Priority priority, Duration delay, Task task);

  private:
    void threadMain();

    std::string label_;
    EventLoop loop_;
    std::thread thread_;
    std::thread::id threadId_;
    std::mutex shutdownMutex_;
    std::atomic<bool> shutDown_{false};
};

// A process-wide serial queue kept in `slot`: created on first use, drained, joined and freed
// when the library closes. Any thread.
DispatchQueue& sharedQueue(SharedInstance<DispatchQueue>& slot, const char* label);

// Counting semaphore with optional timeout. Any thread.
class Semaphore {
  public:
    explicit Semaphore(long initial = 0) : count_(initial) {}
    void signal();
    void wait();
    // Returns false when the timeout passed before the count could be taken.
    bool waitFor(EventLoop::Duration timeout);

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    long count_;
};

}  // namespace rivlo
