#include "foundation/DispatchQueue.h"
#include "foundation/RunLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

using namespace rivlo;
using namespace std::chrono_literals;

TEST(SerialQueue, RunsTasksInOrderOneAtATime) {
    DispatchQueue queue("com.rivlo.test.order");
    std::vector<int> seen;
    std::atomic<int> running{0};
    std::atomic<bool> overlapped{false};
    for (int i = 0; i < 200; ++i) {
        queue.async([&, i] {
            if (running.fetch_add(1) != 0) overlapped = true;
            seen.push_back(i);
            running.fetch_sub(1);
        });
    }
    queue.sync([] {});
    ASSERT_EQ(seen.size(), 200u);
    for (int i = 0; i < 200; ++i)
        EXPECT_EQ(seen[i], i);
    EXPECT_FALSE(overlapped);
}

TEST(SerialQueue, SyncRunsOnTheQueueAndKnowsItsLabel) {
    DispatchQueue queue("com.rivlo.test.label");
    std::string label;
    bool current = false;
    queue.sync([&] {
        label = DispatchQueue::currentLabel();
        current = queue.isCurrent();
    });
    EXPECT_EQ(label, "com.rivlo.test.label");
    EXPECT_TRUE(current);
    EXPECT_FALSE(queue.isCurrent());
    EXPECT_EQ(DispatchQueue::currentLabel(), "");
}

TEST(SerialQueue, AfterRunsNoEarlierThanAskedAndCanBeCancelled) {
    DispatchQueue queue("com.rivlo.test.after");
    auto start = std::chrono::steady_clock::now();
    std::atomic<bool> ran{false}, cancelledRan{false};
    std::chrono::steady_clock::time_point ranAt;
    queue.after(0.05, [&] {
        ranAt = std::chrono::steady_clock::now();
        ran = true;
    });
    auto call = queue.after(0.02, [&] { cancelledRan = true; });
    EXPECT_TRUE(call.cancel());
    EXPECT_FALSE(call.cancel());
    for (int i = 0; i < 400 && !ran; ++i)
        std::this_thread::sleep_for(5ms);
    ASSERT_TRUE(ran);
    EXPECT_GE(ranAt - start, 50ms);
    queue.sync([] {});
    EXPECT_FALSE(cancelledRan);
}

TEST(SerialQueue, DestructionDrainsQueuedTasks) {
    std::atomic<int> count{0};
    {
        DispatchQueue queue("com.rivlo.test.drain");
        for (int i = 0; i < 50; ++i)
            queue.async([&] { count++; });
    }
    EXPECT_EQ(count, 50);
}

TEST(SerialQueueDeathTest, SyncOnOwnQueueFailsLoudlyInDebug) {
#ifndef NDEBUG
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            DispatchQueue queue("com.rivlo.test.self");
            queue.sync([&] { queue.sync([] {}); });
        },
        "");
#else
    GTEST_SKIP() << "release builds run the task inline";
#endif
}

TEST(GlobalQueue, BlockedTasksDoNotStarveOthers) {
    // Eight tasks block until a ninth runs: a fixed small pool would deadlock here.
    Semaphore gate(0);
    std::atomic<int> released{0};
    for (int i = 0; i < 8; ++i) {
        DispatchQueue::global(DispatchQueue::Priority::High, [&] {
            gate.wait();
            released++;
        });
    }
    DispatchQueue::global(DispatchQueue::Priority::High, [&] {
        for (int i = 0; i < 8; ++i)
            gate.signal();
    });
    for (int i = 0; i < 1000 && released < 8; ++i)
        std::this_thread::sleep_for(5ms);
    EXPECT_EQ(released, 8);
}

TEST(SemaphoreTest, ExcludesLikeAMutexWithCountOne) {
    Semaphore sem(1);
    std::atomic<int> inside{0}, maxInside{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 200; ++i) {
                sem.wait();
                int now = ++inside;
                int prev = maxInside.load();
                while (now > prev && !maxInside.compare_exchange_weak(prev, now)) {
                }
                --inside;
                sem.signal();
            }
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(maxInside, 1);
}

TEST(SemaphoreTest, WaitWithLimitTimesOutAndLaterSucceeds) {
    Semaphore sem(0);
    EXPECT_FALSE(sem.waitFor(0.02));
    std::thread t([&] { sem.signal(); });
    EXPECT_TRUE(sem.waitFor(5.0));
    t.join();
}

TEST(MainRunLoop, RunUntilRunsPostedAndDelayedWorkOnTheMainThread) {
    auto& loop = RunLoop::main();
    loop.setMainThread();
    EXPECT_TRUE(RunLoop::isMainThread());
    std::vector<int> order;
    bool fromOtherThreadOnMain = false;
    loop.postAfter(0.03, [&] { order.push_back(3); });
    loop.post([&] { order.push_back(1); });
    std::thread([&] {
        loop.post([&] {
            fromOtherThreadOnMain = RunLoop::isMainThread();
            order.push_back(2);
        });
    }).join();
    EXPECT_TRUE(loop.runUntil([&] { return order.size() == 3; }, 5.0));
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    EXPECT_TRUE(fromOtherThreadOnMain);
}

TEST(MainRunLoop, CancelledDelayedCallNeverRunsAndRunUntilTimesOut) {
    auto& loop = RunLoop::main();
    loop.setMainThread();
    bool ran = false;
    auto call = loop.postAfter(0.01, [&] { ran = true; });
    EXPECT_TRUE(call.cancel());
    EXPECT_FALSE(loop.runUntil([&] { return ran; }, 0.05));
    EXPECT_FALSE(ran);
}

TEST(MainRunLoop, SyncFromAnotherThreadWaitsForTheMainThread) {
    auto& loop = RunLoop::main();
    loop.setMainThread();
    std::atomic<bool> done{false};
    bool onMain = false;
    std::thread worker([&] {
        loop.sync([&] { onMain = RunLoop::isMainThread(); });
        done = true;
    });
    EXPECT_TRUE(loop.runUntil([&] { return done.load(); }, 5.0));
    worker.join();
    EXPECT_TRUE(onMain);
}

TEST(MainRunLoop, StopEndsRun) {
    auto& loop = RunLoop::main();
    loop.setMainThread();
    int ticks = 0;
    loop.post([&] { ticks++; });
    loop.postAfter(0.01, [&] { loop.stop(); });
    loop.run();
    EXPECT_EQ(ticks, 1);
}
