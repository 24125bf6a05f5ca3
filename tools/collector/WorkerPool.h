#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace rivlo::collector {

// A fixed set of threads taking jobs from a bounded queue: the collector's handlers run here
// (index and disk work), never on the I/O threads. A full queue refuses the job at once, so a
// burst is answered "busy" instead of piling up. Any thread may post; start() and stop() are
// called from one controlling thread.
class WorkerPool {
  public:
    WorkerPool() = default;
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    void start(size_t threads, size_t queueLimit);
    // False when the queue is full or the pool is stopping: the job is dropped (destroyed on
    // the calling thread).
    bool tryPost(std::function<void()> job);
    // Lets the jobs that are running finish, drops the queued ones, joins the threads.
    void stop();
    size_t queued() const;

  private:
    void run();

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    std::vector<std::thread> threads_;
    size_t queueLimit_ = 0;
    bool stopping_ = false;
};

}  // namespace rivlo::collector
