// The pieces the library's close stands on: the teardown of shared objects and their threads,
// the count of pending work across hand-offs, the main run loop handed to a host's scheduler.

#include "foundation/BackgroundThreads.h"
#include "foundation/DispatchQueue.h"
#include "foundation/Operation.h"
#include "foundation/PendingWork.h"
#include "foundation/RunLoop.h"
#include "foundation/SharedInstance.h"
#include "foundation/Teardown.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace rivlo;

namespace {

size_t threadCount() {
    // ThreadSanitizer starts a thread of its own when the process first starts one: one thread
    // started and joined before the first count makes it part of every count.
    static const bool settled = (std::thread([] {}).join(), true);
    (void)settled;
    size_t n = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/task"))
        ++n;
    return n;
}

struct Tracked {
    explicit Tracked(std::vector<std::string>& log, std::string name)
        : log(log), name(std::move(name)) {}
    ~Tracked() { log.push_back("release " + name); }
    std::vector<std::string>& log;
    std::string name;
};

}  // namespace

TEST(Teardown, StopsEverythingBeforeReleasingAnythingNewestFirstAndStartsAfresh) {
    Teardown::run();  // whatever earlier tests created
    std::vector<std::string> log;
    static SharedInstance<Tracked> first;
    static SharedInstance<Tracked> second;
    auto stop = [](Tracked& t) { t.log.push_back("stop " + t.name); };
    Tracked& a = first.get([&] { return new Tracked(log, "first"); }, +stop);
    second.get([&] { return new Tracked(log, "second"); }, +stop);
    EXPECT_EQ(&first.get([&] { return new Tracked(log, "again"); }), &a);  // made once

    Teardown::run();
    EXPECT_EQ(log, (std::vector<std::string>{"stop second", "stop first", "release second",
                                             "release first"}));
    EXPECT_EQ(first.peek(), nullptr);
    // Used again after the close: made anew, and freed by the next one.
    EXPECT_EQ(first.get([&] { return new Tracked(log, "anew"); }).name, "anew");
    Teardown::run();
    EXPECT_EQ(log.back(), "release anew");
}

TEST(Teardown, SharedQueuesAndThePoolEndTheirThreads) {
    Teardown::run();
    const size_t before = threadCount();
    static SharedInstance<DispatchQueue> queue;
    std::atomic<int> ran{0};
    for (int i = 0; i < 20; ++i) {
        sharedQueue(queue, "com.rivlo.test.teardown").async([&] { ran++; });
        DispatchQueue::global(DispatchQueue::Priority::Default, [&] { ran++; });
    }
    DispatchQueue::globalAfter(DispatchQueue::Priority::Default, 3600, [&] { ran += 100; });
    BackgroundThreads::start("rivlo.test", [&] { ran++; });
    EXPECT_GT(threadCount(), before);

    Teardown::run();
    // What was queued ran, the delayed task was dropped, and no thread is left behind.
    EXPECT_EQ(ran.load(), 41);
    EXPECT_EQ(threadCount(), before);
    EXPECT_EQ(queue.peek(), nullptr);
}

TEST(Teardown, AQueueShutDownRunsLateTasksOnTheCaller) {
    DispatchQueue queue("com.rivlo.test.late");
    queue.shutdown();
    bool ran = false;
    queue.sync([&] { ran = true; });  // would wait for ever on a queue without its thread
    EXPECT_TRUE(ran);
    ran = false;
    queue.async([&] { ran = true; });
    EXPECT_TRUE(ran);
}

TEST(PendingWork, CountsAChainOfHandOffsUntilItsLastPieceRan) {
    Teardown::run();
    PendingWork::reset();
    RunLoop::main().setMainThread();
    DispatchQueue serial("com.rivlo.test.chain");
    OperationQueue operations("com.rivlo.test.chain.operations");
    std::atomic<bool> last{false};
    // An operation, its completion on the global queue, a serial task, then the main thread.
    auto op = std::make_shared<BlockOperation>([] {});
    op->setCompletionBlock(
        [&] { serial.async([&] { RunLoop::main().post([&] { last = true; }); }); });
    operations.addOperation(op);
    EXPECT_GE(PendingWork::count(), 1);
    // Off the main thread the count never reaches zero before the main thread's piece ran.
    EXPECT_FALSE(PendingWork::waitUntilIdle(0.2));
    EXPECT_FALSE(last.load());
    EXPECT_TRUE(RunLoop::main().runUntil([] { return PendingWork::count() == 0; }, 10));
    EXPECT_TRUE(last.load());
    EXPECT_TRUE(PendingWork::waitUntilIdle(0));
}

namespace {

class CountingScheduler final : public MainThreadScheduler {
  public:
    void notify() override { notified++; }
    bool isOnMainThread() const override { return std::this_thread::get_id() == main; }
    std::atomic<int> notified{0};
    std::thread::id main = std::this_thread::get_id();
};

}  // namespace

TEST(MainRunLoop, AHostsSchedulerIsAskedOnlyWhenThereIsWorkAndToldWhenTimersAreDue) {
    auto& loop = RunLoop::main();
    loop.discardAll();
    auto scheduler = std::make_shared<CountingScheduler>();
    loop.setScheduler(scheduler);
    EXPECT_EQ(scheduler->notified.load(), 0);  // nothing waiting: no call

    // A burst of posts from another thread asks once, until the host performs.
    int ran = 0;
    std::thread([&] {
        for (int i = 0; i < 10; ++i)
            loop.post([&] { ran++; });
    }).join();
    EXPECT_EQ(scheduler->notified.load(), 1);
    EXPECT_FALSE(loop.perform().has_value());  // no timer: no wake-up wanted
    EXPECT_EQ(ran, 10);

    // A timer asks for a perform (to re-arm), and perform says when it is due.
    loop.postAfter(60, [&] { ran = -1; });
    EXPECT_EQ(scheduler->notified.load(), 2);
    auto due = loop.perform();
    ASSERT_TRUE(due.has_value());
    EXPECT_GT(due->count(), 50);
    EXPECT_LE(due->count(), 60);
    // A later timer does not move the wake-up: no call.
    loop.postAfter(120, [] {});
    EXPECT_EQ(scheduler->notified.load(), 2);
    EXPECT_EQ(ran, 10);

    // The host's thread is the main thread while the scheduler is set.
    bool onMainElsewhere = true;
    std::thread([&] { onMainElsewhere = RunLoop::isMainThread(); }).join();
    EXPECT_FALSE(onMainElsewhere);
    EXPECT_TRUE(RunLoop::isMainThread());

    loop.discardAll();
    loop.setScheduler(nullptr);
    EXPECT_FALSE(loop.perform().has_value());
}
