#include "foundation/RunLoop.h"

#include <atomic>
#include <future>
#include <mutex>

namespace rivlo {
namespace {
std::mutex mainThreadMutex;
std::thread::id mainThreadId;
bool mainThreadFixed = false;  // set once a thread drove the loop or declared itself main
std::shared_ptr<MainThreadScheduler>* gScheduler = nullptr;  // guarded by mainThreadMutex

void claimMainThread(bool fix) {
    std::lock_guard<std::mutex> lock(mainThreadMutex);
    if (!mainThreadFixed) {
        mainThreadId = std::this_thread::get_id();
        mainThreadFixed = fix;
    }
}
}  // namespace

RunLoop::RunLoop() : loop_(true) {
    claimMainThread(false);
}

RunLoop& RunLoop::main() {
    // The loop itself lives for the process (it holds nothing between closes: close drops its
    // tasks and timers), so that a host thread turning it never meets a freed loop.
    static RunLoop* const loop = new RunLoop;
    return *loop;
}

void RunLoop::post(Task task) {
    loop_.post(std::move(task));
}

DelayedCall RunLoop::postAfter(Duration delay, Task task) {
    return loop_.postAfter(delay, std::move(task));
}

void RunLoop::runOrPost(Task task) {
    if (isMainThread()) {
        task();
    } else {
        post(std::move(task));
    }
}

void RunLoop::sync(const Task& task) {
    if (isMainThread()) {
        task();
        return;
    }
    std::promise<void> done;
    auto future = done.get_future();
    post([&] {
        task();
        done.set_value();
    });
    future.wait();
}

void RunLoop::run() {
    claimMainThread(true);
    loop_.run();
}

bool RunLoop::runUntil(const std::function<bool()>& predicate, Duration timeout) {
    claimMainThread(true);
    return loop_.runUntil(predicate, timeout);
}

void RunLoop::runFor(Duration timeout) {
    claimMainThread(true);
    loop_.runFor(timeout);
}

size_t RunLoop::runPending() {
    claimMainThread(true);
    return loop_.runPending();
}

std::optional<RunLoop::Duration> RunLoop::perform() {
    loop_.runPending();
    return loop_.nextTimerDelay();
}

void RunLoop::stop() {
    loop_.stop();
}

void RunLoop::setScheduler(std::shared_ptr<MainThreadScheduler> scheduler) {
    std::shared_ptr<MainThreadScheduler> old;
    {
        std::lock_guard<std::mutex> lock(mainThreadMutex);
        if (gScheduler == nullptr) gScheduler = new std::shared_ptr<MainThreadScheduler>;
        old = std::exchange(*gScheduler, scheduler);
    }
    if (scheduler) {
        std::weak_ptr<MainThreadScheduler> weak = scheduler;
        loop_.setWakeHandler([weak] {
            if (auto s = weak.lock()) s->notify();
        });
        // Work that arrived before the scheduler did: ask for it now.
        if (loop_.pendingCount() > 0 || loop_.nextTimerDelay()) scheduler->notify();
    } else {
        loop_.setWakeHandler({});
    }
}

std::shared_ptr<MainThreadScheduler> RunLoop::scheduler() const {
    std::lock_guard<std::mutex> lock(mainThreadMutex);
    return gScheduler ? *gScheduler : nullptr;
}

void RunLoop::discardAll() {
    loop_.discardAll();
}

size_t RunLoop::pendingCount() const {
    return loop_.pendingCount();
}

bool RunLoop::isMainThread() {
    main();  // the first user of the loop is main until a thread drives it
    std::shared_ptr<MainThreadScheduler> scheduler;
    {
        std::lock_guard<std::mutex> lock(mainThreadMutex);
        if (gScheduler == nullptr || !*gScheduler) {
            return std::this_thread::get_id() == mainThreadId;
        }
        scheduler = *gScheduler;
    }
    return scheduler->isOnMainThread();
}

void RunLoop::setMainThread() {
    std::lock_guard<std::mutex> lock(mainThreadMutex);
    mainThreadId = std::this_thread::get_id();
    mainThreadFixed = true;
}

}  // namespace rivlo
