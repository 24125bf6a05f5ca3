#include "foundation/DispatchQueue.h"

#include "foundation/Log.h"
#include "foundation/PendingWork.h"
#include "foundation/SharedInstance.h"

#include <cassert>
#include <cstdlib>
#include <future>
#include <list>

#include <pthread.h>

namespace rivlo {
namespace {

thread_local const DispatchQueue* currentQueue = nullptr;

// The global concurrent queues: a pool that starts a thread whenever every thread is busy,
// so a task that blocks (a semaphore wait, a poll for a recorder) never starves another.
// Idle threads leave after a while and are joined by the next submit or by the shutdown;
// delayed tasks wait on a timer thread started with the first of them. Freed when the library
// closes (SharedInstance), after the shutdown joined every thread.
class GlobalPool {
  public:
    static GlobalPool& shared() {
        return gPool.get([] { return new GlobalPool; }, [](GlobalPool& pool) { pool.shutdown(); });
    }

    void submit(DispatchQueue::Task task) {
        PendingWork::add();
        bool spawn = false;
        bool refused = false;
        std::list<Worker> finished;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_) {
                refused = true;
            } else {
                tasks_.push_back(std::move(task));
                spawn = idle_ < tasks_.size();
                takeFinished(finished);
            }
        }
        if (refused) {
            // A task handed over while the pool shuts down (by a task it still drains): run
            // by the caller rather than lost.
            runCounted(task);
            return;
        }
        joinAll(finished);
        if (spawn) {
            startWorker();
        } else {
            cv_.notify_one();
        }
    }

    void submitAfter(DispatchQueue::Duration delay, DispatchQueue::Task task) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_) return;
            if (!timerThread_.joinable()) {
                timerThread_ = std::thread([this] {
                    pthread_setname_np(pthread_self(), "rivlo.timers");
                    timers_.run();
                });
            }
        }
        timers_.postAfter(delay,
                          [this, task = std::move(task)]() mutable { submit(std::move(task)); });
    }

    // Lets the workers finish what is queued, then joins them and the timer thread; delayed
    // tasks not yet due are dropped.
    void shutdown() {
        std::list<Worker> workers;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        cv_.notify_all();
        timers_.discardAll();
        // Stopped from inside its loop: a stop() made before the new timer thread entered its
        // loop would be forgotten when the loop starts, and the join would wait for ever.
        if (timerThread_.joinable()) {
            timers_.post([this] { timers_.stop(); });
            timerThread_.join();
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            workers = std::move(workers_);
            workers_.clear();
        }
        joinAll(workers);
    }

  private:
    struct Worker {
        std::thread thread;
        bool exited = false;  // guarded by the pool's mutex
    };

    GlobalPool() = default;

    // Runs a task and ends its count, whatever it throws.
    static void runCounted(DispatchQueue::Task& task) {
        try {
            task();
        } catch (const std::exception& e) {
            RVLog("Rivlo: a task on the global queue failed: %s", e.what());
        } catch (...) {
            RVLog("Rivlo: a task on the global queue failed");
        }
        task = nullptr;
        PendingWork::done();
    }

    void startWorker() {
        std::lock_guard<std::mutex> lock(mutex_);
        workers_.emplace_back();
        Worker* worker = &workers_.back();
        worker->thread = std::thread([this, worker] { work(worker); });
    }

    void takeFinished(std::list<Worker>& out) {
        for (auto it = workers_.begin(); it != workers_.end();) {
            if (it->exited) {
                out.splice(out.end(), workers_, it++);
            } else {
                ++it;
            }
        }
    }

    static void joinAll(std::list<Worker>& workers) {
        for (auto& worker : workers) {
            if (worker.thread.joinable()) worker.thread.join();
        }
    }

    void work(Worker* self) {
        pthread_setname_np(pthread_self(), "rivlo.global");
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            if (tasks_.empty()) {
                if (stopping_) break;
                ++idle_;
                bool woke = cv_.wait_for(lock, std::chrono::seconds(10),
                                         [this] { return !tasks_.empty() || stopping_; });
                --idle_;
                if (!woke) break;
                continue;
            }
            DispatchQueue::Task task = std::move(tasks_.front());
            tasks_.pop_front();
            lock.unlock();
            runCounted(task);
            lock.lock();
        }
        self->exited = true;
    }

    static SharedInstance<GlobalPool> gPool;

    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<DispatchQueue::Task> tasks_;
    std::list<Worker> workers_;
    size_t idle_ = 0;
    bool stopping_ = false;
    EventLoop timers_;
    std::thread timerThread_;
};

SharedInstance<GlobalPool> GlobalPool::gPool;

}  // namespace

DispatchQueue::DispatchQueue(std::string label) : label_(std::move(label)), loop_(true) {
    std::promise<std::thread::id> started;
    auto id = started.get_future();
    thread_ = std::thread([this, &started] {
        started.set_value(std::this_thread::get_id());
        threadMain();
    });
    threadId_ = id.get();
}

DispatchQueue::~DispatchQueue() {
    shutdown();
}

void DispatchQueue::shutdown() {
    std::lock_guard<std::mutex> lock(shutdownMutex_);
    if (shutDown_.load()) return;
    // Drain what is queued, then leave.
    loop_.post([this] { loop_.stop(); });
    if (thread_.joinable()) {
        if (std::this_thread::get_id() == threadId_) {
            return;  // the queue's own task: its loop ends after it; joined by the owner later
        }
        thread_.join();
    }
    loop_.discardAll();
    shutDown_.store(true);
}

void DispatchQueue::threadMain() {
    currentQueue = this;
    // The thread's name shows the queue in a debugger and in /proc (the last 15 characters,
    // where the labels differ).
    const std::string name = label_.size() > 15 ? label_.substr(label_.size() - 15) : label_;
    pthread_setname_np(pthread_self(), name.c_str());
    loop_.run();
    currentQueue = nullptr;
}

void DispatchQueue::async(Task task) {
    if (shutDown_.load()) {
        task();
        return;
    }
    loop_.post(std::move(task));
}

void DispatchQueue::sync(const Task& task) {
    if (isCurrent()) {
        Log::write("DispatchQueue: sync called on its own queue \"%s\"", label_.c_str());
#ifndef NDEBUG
        abort();
#else
        task();
        return;
#endif
    }
    if (shutDown_.load()) {
        task();
        return;
    }
    std::promise<void> done;
    auto future = done.get_future();
    loop_.post([&] {
        task();
        done.set_value();
    });
    future.wait();
}

DelayedCall DispatchQueue::after(Duration delay, Task task) {
    return loop_.postAfter(delay, std::move(task));
}

bool DispatchQueue::isCurrent() const {
    return currentQueue == this;
}

std::string DispatchQueue::currentLabel() {
    return currentQueue ? currentQueue->label_ : std::string();
}

void DispatchQueue::global(Priority, Task task) {
    GlobalPool::shared().submit(std::move(task));
}

void DispatchQueue::globalAfter(Priority, Duration delay, Task task) {
    GlobalPool::shared().submitAfter(delay, std::move(task));
}

DispatchQueue& sharedQueue(SharedInstance<DispatchQueue>& slot, const char* label) {
    return slot.get([label] { return new DispatchQueue(label); },
                    [](DispatchQueue& queue) { queue.shutdown(); });
}

void Semaphore::signal() {
    // Notified under the lock: a waiter that wakes may destroy the semaphore at once.
    std::lock_guard<std::mutex> lock(mutex_);
    ++count_;
    cv_.notify_one();
}

void Semaphore::wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait(lock, [this] { return count_ > 0; });
    --count_;
}

bool Semaphore::waitFor(EventLoop::Duration timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!cv_.wait_for(lock, timeout.steady(), [this] { return count_ > 0; })) return false;
    --count_;
    return true;
}

}  // namespace rivlo
