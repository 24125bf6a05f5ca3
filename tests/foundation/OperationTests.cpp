#include "foundation/DispatchQueue.h"
#include "foundation/Operation.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

using namespace rivlo;
using namespace std::chrono_literals;

namespace {
bool waitFor(const std::function<bool()>& pred, double seconds = 5.0) {
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// An asynchronous operation that finishes when told to, like a network connection.
class ManualOperation : public Operation {
  public:
    bool isConcurrent() const override { return true; }
    bool isExecuting() const override { return executing; }
    bool isFinished() const override { return finished; }
    void start() override {
        if (isCancelled()) {
            finished = true;
            stateDidChange();
            return;
        }
        executing = true;
        startedOn = std::this_thread::get_id();
        stateDidChange();
    }
    void finish() {
        executing = false;
        finished = true;
        stateDidChange();
    }
    std::atomic<bool> executing{false}, finished{false};
    std::thread::id startedOn;
};
}  // namespace

TEST(Operations, StatesOfASynchronousOperation) {
    std::atomic<bool> sawExecuting{false};
    std::shared_ptr<BlockOperation> op;
    op = std::make_shared<BlockOperation>([&] { sawExecuting = op->isExecuting(); });
    EXPECT_TRUE(op->isReady());
    EXPECT_FALSE(op->isExecuting());
    op->start();
    EXPECT_TRUE(sawExecuting);
    EXPECT_TRUE(op->isFinished());
    EXPECT_FALSE(op->isExecuting());
}

TEST(Operations, CancelledBeforeStartFinishesWithoutRunning) {
    OperationQueue queue;
    std::atomic<bool> ran{false};
    auto op = std::make_shared<BlockOperation>([&] { ran = true; });
    op->cancel();
    queue.addOperation(op);
    op->waitUntilFinished();
    EXPECT_TRUE(op->isCancelled());
    EXPECT_FALSE(ran);
}

TEST(Operations, DependenciesOrderWorkAndReadiness) {
    OperationQueue queue;
    std::mutex m;
    std::vector<int> order;
    auto a = std::make_shared<ManualOperation>();
    auto b = std::make_shared<BlockOperation>([&] {
        std::lock_guard<std::mutex> g(m);
        order.push_back(2);
    });
    b->addDependency(a);
    EXPECT_FALSE(b->isReady());
    queue.addOperations({b, a}, false);
    ASSERT_TRUE(waitFor([&] { return a->executing.load(); }));
    std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(b->isFinished());  // still waiting for a
    {
        std::lock_guard<std::mutex> g(m);
        order.push_back(1);
    }
    a->finish();
    b->waitUntilFinished();
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    EXPECT_TRUE(waitFor([&] { return queue.operationCount() == 0; }));
}

TEST(Operations, CompletionRunsOnceOnABackgroundThreadAfterFinishing) {
    OperationQueue queue;
    std::atomic<int> completions{0};
    std::atomic<bool> finishedWhenCompleted{false};
    auto op = std::make_shared<ManualOperation>();
    op->setCompletionBlock([&] {
        finishedWhenCompleted = op->isFinished();
        completions++;
    });
    queue.addOperation(op);
    ASSERT_TRUE(waitFor([&] { return op->executing.load(); }));
    EXPECT_NE(op->startedOn, std::this_thread::get_id());
    op->finish();
    op->finish();  // a second report changes nothing
    ASSERT_TRUE(waitFor([&] { return completions.load() > 0; }));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(completions, 1);
    EXPECT_TRUE(finishedWhenCompleted);
}

TEST(Operations, MaxConcurrentCountIsHonoured) {
    OperationQueue queue;
    queue.setMaxConcurrentOperationCount(2);
    std::vector<std::shared_ptr<ManualOperation>> ops;
    for (int i = 0; i < 5; ++i)
        ops.push_back(std::make_shared<ManualOperation>());
    queue.addOperations({ops.begin(), ops.end()}, false);
    auto executing = [&] {
        int n = 0;
        for (auto& op : ops)
            n += op->executing ? 1 : 0;
        return n;
    };
    ASSERT_TRUE(waitFor([&] { return executing() == 2; }));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(executing(), 2);
    ops[0]->finish();
    ASSERT_TRUE(waitFor([&] { return ops[2]->executing.load(); }));
    EXPECT_FALSE(ops[3]->executing);
    for (auto& op : ops) {
        ASSERT_TRUE(waitFor([&] { return op->executing || op->finished; }));
        if (!op->finished) op->finish();
    }
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(queue.operationCount(), 0u);
}

TEST(Operations, AddSeveralAndWait) {
    OperationQueue queue;
    std::atomic<int> count{0};
    std::vector<std::shared_ptr<Operation>> ops;
    for (int i = 0; i < 10; ++i)
        ops.push_back(std::make_shared<BlockOperation>([&] { count++; }));
    queue.addOperations(ops, true);
    EXPECT_EQ(count, 10);
    for (auto& op : ops)
        EXPECT_TRUE(op->isFinished());
}
