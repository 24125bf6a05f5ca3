#include "foundation/Operation.h"

#include "foundation/DispatchQueue.h"
#include "foundation/PendingWork.h"

#include <algorithm>

namespace rivlo {

Operation::Operation() = default;
Operation::~Operation() = default;

void Operation::start() {
    if (isFinished() || isExecuting()) return;
    if (isCancelled()) {
        setFinishedState(true);
        return;
    }
    setExecutingState(true);
    main();
    setExecutingState(false);
    setFinishedState(true);
}

void Operation::cancel() {
    if (cancelled_.exchange(true)) return;
    stateDidChange();
}

bool Operation::isReady() const {
    if (isCancelled()) return true;
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& dep : dependencies_) {
        if (!dep->isFinished()) return false;
    }
    return true;
}

void Operation::addDependency(const std::shared_ptr<Operation>& op) {
    if (!op || op.get() == this) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (std::find(dependencies_.begin(), dependencies_.end(), op) != dependencies_.end())
            return;
        dependencies_.push_back(op);
    }
    std::weak_ptr<Operation> self;
    try {
        self = shared_from_this();
    } catch (const std::bad_weak_ptr&) {
        return;  // not owned by a shared pointer: nobody can be woken, readiness is polled
    }
    std::lock_guard<std::mutex> lock(op->mutex_);
    op->dependents_.push_back(self);
    // A dependency that already finished wakes nobody later; readiness is checked on adding.
}

void Operation::removeDependency(const std::shared_ptr<Operation>& op) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        dependencies_.erase(std::remove(dependencies_.begin(), dependencies_.end(), op),
                            dependencies_.end());
    }
    stateDidChange();
}

std::vector<std::shared_ptr<Operation>> Operation::dependencies() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return dependencies_;
}

void Operation::setCompletionBlock(std::function<void()> block) {
    std::lock_guard<std::mutex> lock(mutex_);
    completion_ = std::move(block);
}

std::function<void()> Operation::completionBlock() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return completion_;
}

void Operation::waitUntilFinished() {
    std::unique_lock<std::mutex> lock(mutex_);
    finishedCv_.wait(lock, [this] { return isFinished(); });
}

void Operation::setExecutingState(bool executing) {
    executing_.store(executing);
    stateDidChange();
}

void Operation::setFinishedState(bool finished) {
    finished_.store(finished);
    stateDidChange();
}

void Operation::setQueueObserver(std::function<void()> observer) {
    std::lock_guard<std::mutex> lock(mutex_);
    queueObserver_ = std::move(observer);
}

void Operation::dependencyFinished() {
    std::function<void()> observer;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        observer = queueObserver_;
    }
    if (observer) observer();
}

void Operation::stateDidChange() {
    bool finished = isFinished();
    std::function<void()> completion, observer;
    std::vector<std::weak_ptr<Operation>> dependents;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        observer = queueObserver_;
        if (finished && !completionFired_) {
            completionFired_ = true;
            completion = completion_;
            dependents = dependents_;
        }
    }
    if (finished) {
        {
            // Taken and released so a waiter between its check and its wait is not missed.
            std::lock_guard<std::mutex> lock(mutex_);
        }
        finishedCv_.notify_all();
    }
    if (completion) DispatchQueue::global(DispatchQueue::Priority::Default, std::move(completion));
    if (finished) settled_.store(true);
    for (auto& weak : dependents) {
        if (auto dep = weak.lock()) dep->dependencyFinished();
    }
    if (observer) observer();
}

// Queue state shared with the operations' observers (which may outlive the queue object).
struct OperationQueue::State : std::enable_shared_from_this<OperationQueue::State> {
    mutable std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::shared_ptr<Operation>> operations;  // in order of adding
    std::vector<Operation*> started;
    int maxConcurrent = DefaultMaxConcurrentOperationCount;
    bool suspended = false;

    // Starts what may start and drops what finished. Any thread.
    void schedule() {
        std::vector<std::shared_ptr<Operation>> toStart;
        {
            std::lock_guard<std::mutex> lock(mutex);
            // An operation leaves once settled: finished, with its completion callback handed
            // to the global queue, which counts it from there.
            auto settled = [](const std::shared_ptr<Operation>& op) { return op->isSettled(); };
            for (auto& op : operations) {
                if (settled(op))
                    started.erase(std::remove(started.begin(), started.end(), op.get()),
                                  started.end());
            }
            const auto kept = std::remove_if(operations.begin(), operations.end(), settled);
            const auto left = std::distance(kept, operations.end());
            operations.erase(kept, operations.end());
            if (left > 0) PendingWork::done(left);
            if (!suspended) {
                size_t running = started.size();
                size_t limit = maxConcurrent < 0 ? SIZE_MAX : static_cast<size_t>(maxConcurrent);
                for (auto& op : operations) {
                    if (running >= limit) break;
                    if (std::find(started.begin(), started.end(), op.get()) != started.end())
                        continue;
                    if (!op->isReady()) continue;
                    started.push_back(op.get());
                    toStart.push_back(op);
                    ++running;
                }
            }
        }
        changed.notify_all();
        for (auto& op : toStart) {
            DispatchQueue::global(DispatchQueue::Priority::Default, [op] { op->start(); });
        }
    }
};

OperationQueue::OperationQueue(std::string name)
    : state_(std::make_shared<State>()), name_(std::move(name)) {}

OperationQueue::~OperationQueue() {
    // Operations still held stop counting as pending work with the queue.
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (!state_->operations.empty())
        PendingWork::done(static_cast<int64_t>(state_->operations.size()));
    state_->operations.clear();
    state_->started.clear();
}

void OperationQueue::addOperation(const std::shared_ptr<Operation>& op) {
    addOperations({op}, false);
}

void OperationQueue::addOperations(const std::vector<std::shared_ptr<Operation>>& ops,
                                   bool waitUntilFinished) {
    std::weak_ptr<State> weak = state_;
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        for (const auto& op : ops) {
            if (!op || op->isFinished() || op->isExecuting()) continue;
            if (std::find(state_->operations.begin(), state_->operations.end(), op) !=
                state_->operations.end())
                continue;
            state_->operations.push_back(op);
            PendingWork::add();
        }
    }
    for (const auto& op : ops) {
        if (!op) continue;
        op->setQueueObserver([weak] {
            if (auto s = weak.lock()) s->schedule();
        });
    }
    state_->schedule();
    if (waitUntilFinished) {
        for (const auto& op : ops) {
            if (op) op->waitUntilFinished();
        }
    }
}

void OperationQueue::addOperationWithBlock(std::function<void()> block) {
    addOperation(std::make_shared<BlockOperation>(std::move(block)));
}

std::vector<std::shared_ptr<Operation>> OperationQueue::operations() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    std::vector<std::shared_ptr<Operation>> out;
    for (const auto& op : state_->operations) {
        if (!op->isFinished()) out.push_back(op);
    }
    return out;
}

size_t OperationQueue::operationCount() const {
    return operations().size();
}

void OperationQueue::setMaxConcurrentOperationCount(int count) {
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->maxConcurrent = count < 0 ? DefaultMaxConcurrentOperationCount : count;
    }
    state_->schedule();
}

int OperationQueue::maxConcurrentOperationCount() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->maxConcurrent;
}

void OperationQueue::setSuspended(bool suspended) {
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->suspended = suspended;
    }
    state_->schedule();
}

bool OperationQueue::isSuspended() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->suspended;
}

void OperationQueue::cancelAllOperations() {
    for (auto& op : operations())
        op->cancel();
}

void OperationQueue::waitUntilAllOperationsAreFinished() {
    for (;;) {
        auto ops = operations();
        if (ops.empty()) return;
        for (auto& op : ops)
            op->waitUntilFinished();
        state_->schedule();
    }
}

BlockOperation::BlockOperation(std::function<void()> block) : block_(std::move(block)) {}

void BlockOperation::main() {
    if (block_) block_();
}

}  // namespace rivlo
