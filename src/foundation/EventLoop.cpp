#include "foundation/EventLoop.h"

namespace rivlo {

bool DelayedCall::cancel() {
    if (!cancelled_) return false;
    return !cancelled_->exchange(true);
}

void EventLoop::post(Task task) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    cv_.notify_one();
}

DelayedCall EventLoop::postAfter(Duration delay, Task task) {
    auto flag = std::make_shared<std::atomic<bool>>(false);
    auto when = std::chrono::steady_clock::now() + delay.steady();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        timers_.emplace(when, Timer{std::move(task), flag});
    }
    cv_.notify_one();
    return DelayedCall(flag);
}

bool EventLoop::takeOne(Task& out, TimePoint until) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        auto now = std::chrono::steady_clock::now();
        // Due timers are moved to the task list in time order, so a timer and a task posted
        // later never overtake each other.
        while (!timers_.empty() && timers_.begin()->first <= now) {
            Timer timer = std::move(timers_.begin()->second);
            timers_.erase(timers_.begin());
            // The flag is claimed now: a later cancel() reports false, the call runs.
            if (!timer.cancelled->exchange(true)) tasks_.push_back(std::move(timer.task));
        }
        if (!tasks_.empty()) {
            out = std::move(tasks_.front());
            tasks_.pop_front();
            return true;
        }
        if (stopRequested_ || now >= until) return false;
        auto wake = until;
        if (!timers_.empty() && timers_.begin()->first < wake) wake = timers_.begin()->first;
        cv_.wait_until(lock, wake);
    }
}

void EventLoop::run() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopRequested_ = false;
    }
    for (;;) {
        Task task;
        if (takeOne(task, std::chrono::steady_clock::time_point::max())) {
            task();
            continue;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopRequested_) {
            stopRequested_ = false;
            return;
        }
    }
}

bool EventLoop::runUntil(const std::function<bool()>& predicate, Duration timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout.steady();
    for (;;) {
        if (predicate()) return true;
        auto now = std::chrono::steady_clock::now();
        if (now >= deadline) return predicate();
        auto slice = std::min(deadline, now + std::chrono::milliseconds(5));
        Task task;
        if (takeOne(task, slice)) task();
        std::lock_guard<std::mutex> lock(mutex_);
        stopRequested_ = false;
    }
}

size_t EventLoop::runPending() {
    size_t count = 0;
    Task task;
    // Only what is due now; tasks posted by these tasks run on the next call.
    size_t limit = pendingCount() + 1;
    while (count < limit && takeOne(task, std::chrono::steady_clock::now())) {
        task();
        ++count;
    }
    return count;
}

void EventLoop::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopRequested_ = true;
    }
    cv_.notify_all();
}

size_t EventLoop::pendingCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return tasks_.size();
}

}  // namespace rivlo
