#include "foundation/DispatchQueue.h"

#include "foundation/Log.h"

#include <cassert>
#include <cstdlib>
#include <future>

namespace rivlo {
namespace {

thread_local const DispatchQueue* currentQueue = nullptr;

// The global concurrent queues: a pool that starts a thread whenever every thread is busy,
// so a task that blocks (a semaphore wait, a poll for a recorder) never starves another.
// Idle threads leave after a while. Never destroyed.
class GlobalPool {
  public:
    static GlobalPool& shared() {
        static GlobalPool* const pool = new GlobalPool;
        return *pool;
    }

    void submit(DispatchQueue::Task task) {
        bool spawn = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            tasks_.push_back(std::move(task));
            if (idle_ < tasks_.size()) {
                ++threads_;
                spawn = true;
            }
        }
        if (spawn) {
            std::thread([this] { worker(); }).detach();
        } else {
            cv_.notify_one();
        }
    }

    void submitAfter(DispatchQueue::Duration delay, DispatchQueue::Task task) {
        timers_.postAfter(delay,
                          [this, task = std::move(task)]() mutable { submit(std::move(task)); });
    }

  private:
    GlobalPool() {
        std::thread([this] { timers_.run(); }).detach();
    }

    void worker() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            if (tasks_.empty()) {
                ++idle_;
                bool woke = cv_.wait_for(lock, std::chrono::seconds(10),
                                         [this] { return !tasks_.empty(); });
                --idle_;
                if (!woke) {
                    --threads_;
                    return;
                }
            }
            DispatchQueue::Task task = std::move(tasks_.front());
            tasks_.pop_front();
            lock.unlock();
            task();
            task = nullptr;
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<DispatchQueue::Task> tasks_;
    size_t idle_ = 0;
    size_t threads_ = 0;
    EventLoop timers_;
};

}  // namespace

DispatchQueue::DispatchQueue(std::string label) : label_(std::move(label)) {
    std::promise<std::thread::id> started;
    auto id = started.get_future();
    thread_ = std::thread([this, &started] {
        started.set_value(std::this_thread::get_id());
        threadMain();
    });
    threadId_ = id.get();
}

DispatchQueue::~DispatchQueue() {
    // Drain what is queued, then leave.
    loop_.post([this] { loop_.stop(); });
    if (thread_.joinable()) {
        if (std::this_thread::get_id() == threadId_) {
            thread_.detach();
        } else {
            thread_.join();
        }
    }
}

void DispatchQueue::threadMain() {
    currentQueue = this;
    loop_.run();
    currentQueue = nullptr;
}

void DispatchQueue::async(Task task) {
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
