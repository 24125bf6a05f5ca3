#include "foundation/RunLoop.h"

#include <atomic>
#include <future>

namespace rivlo {
namespace {
std::mutex mainThreadMutex;
std::thread::id mainThreadId;
bool mainThreadFixed = false;  // set once a thread drove the loop or declared itself main

void claimMainThread(bool fix) {
    std::lock_guard<std::mutex> lock(mainThreadMutex);
    if (!mainThreadFixed) {
        mainThreadId = std::this_thread::get_id();
        mainThreadFixed = fix;
    }
}
}  // namespace

RunLoop::RunLoop() {
    claimMainThread(false);
}

RunLoop& RunLoop::main() {
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

size_t RunLoop::runPending() {
    claimMainThread(true);
    return loop_.runPending();
}

void RunLoop::stop() {
    loop_.stop();
}

bool RunLoop::isMainThread() {
    main();  // the first user of the loop is main until a thread drives it
    std::lock_guard<std::mutex> lock(mainThreadMutex);
    return std::this_thread::get_id() == mainThreadId;
}

void RunLoop::setMainThread() {
    std::lock_guard<std::mutex> lock(mainThreadMutex);
    mainThreadId = std::this_thread::get_id();
    mainThreadFixed = true;
}

}  // namespace rivlo
