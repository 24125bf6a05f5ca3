#include "foundation/EventLoop.h"

#include "foundation/PendingWork.h"

namespace rivlo {

bool DelayedCall::cancel() {
    if (!cancelled_) return false;
    return !cancelled_->exchange(true);
}

EventLoop::EventLoop(bool countsAsPendingWork) : counts_(countsAsPendingWork) {}

EventLoop::~EventLoop() {
    discardAll();
}

void EventLoop::post(Task task) {
    std::function<void()> wake;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        tasks_.push_back(std::move(task));
        if (counts_) PendingWork::add();
        if (wakeHandler_ && !wakeRequested_) {
            wakeRequested_ = true;
            wake = wakeHandler_;
        }
    }
    cv_.notify_one();
    if (wake) wake();
}

DelayedCall EventLoop::postAfter(Duration delay, Task task) {
    auto flag = std::make_shared<std::atomic<bool>>(false);
    auto when = std::chrono::steady_clock::now() + delay.steady();
    std::function<void()> wake;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const bool earliest = timers_.empty() || when < timers_.begin()->first;
        timers_.emplace(when, Timer{std::move(task), flag});
        if (earliest && wakeHandler_ && !wakeRequested_) {
            wakeRequested_ = true;
            wake = wakeHandler_;
        }
    }
    cv_.notify_one();
    if (wake) wake();
    return DelayedCall(flag);
}

void EventLoop::moveDueTimers(TimePoint now) {
    // Due timers are moved to the task list in time order, so a timer and a task posted
    // later never overtake each other.
    while (!timers_.empty() && timers_.begin()->first <= now) {
        Timer timer = std::move(timers_.begin()->second);
        timers_.erase(timers_.begin());
        // The flag is claimed now: a later cancel() reports false, the call runs.
        if (!timer.cancelled->exchange(true)) {
            tasks_.push_back(std::move(timer.task));
            if (counts_) PendingWork::add();
        }
    }
}

bool EventLoop::takeOne(Task& out, TimePoint until) {
    std::unique_lock<std::mutex> lock(mutex_);
    wakeRequested_ = false;  // the driver is here: the next arrival asks again
    for (;;) {
        auto now = std::chrono::steady_clock::now();
        moveDueTimers(now);
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

void EventLoop::runTaken(Task& task) {
    // The count ends however the task ends; a task that throws is the caller's to handle.
    struct Done {
        bool counts;
        ~Done() {
            if (counts) PendingWork::done();
        }
    } done{counts_};
    task();
    task = nullptr;
}

void EventLoop::run() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopRequested_ = false;
    }
    for (;;) {
        Task task;
        if (takeOne(task, std::chrono::steady_clock::time_point::max())) {
            runTaken(task);
            continue;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopRequested_) {
            stopRequested_ = false;
            return;
        }
    }
}

void EventLoop::runFor(Duration timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout.steady();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopRequested_ = false;
    }
    for (;;) {
        Task task;
        if (takeOne(task, deadline)) {
            runTaken(task);
            continue;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopRequested_) stopRequested_ = false;
        return;
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
        if (takeOne(task, slice)) runTaken(task);
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
        runTaken(task);
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

std::optional<EventLoop::Duration> EventLoop::nextTimerDelay() const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (timers_.empty()) return std::nullopt;
    const auto left = timers_.begin()->first - std::chrono::steady_clock::now();
    if (left.count() <= 0) return Duration(0.0);
    return Duration(left);
}

void EventLoop::setWakeHandler(std::function<void()> handler) {
    std::function<void()> old;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        old = std::exchange(wakeHandler_, std::move(handler));
        wakeRequested_ = false;
    }
    // `old` (and what it holds) is released outside the lock.
}

void EventLoop::discardAll() {
    std::deque<Task> tasks;
    std::multimap<TimePoint, Timer> timers;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        tasks = std::move(tasks_);
        tasks_.clear();
        timers = std::move(timers_);
        timers_.clear();
        if (counts_ && !tasks.empty()) PendingWork::done(static_cast<int64_t>(tasks.size()));
    }
    for (auto& entry : timers)
        entry.second.cancelled->store(true);
    // The tasks (and what they captured) are released here, outside the lock.
}

}  // namespace rivlo
