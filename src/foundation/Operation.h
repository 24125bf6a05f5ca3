#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace rivlo {

class OperationQueue;

// A unit of work with states (ready, executing, finished, cancelled), dependencies and a
// completion callback. A synchronous operation does its work in main(); an asynchronous
// ("concurrent") one overrides start(), returns at once, and reports its own state changes
// through stateDidChange() until isFinished() is true.
//
// All methods may be called on any thread.
class Operation : public std::enable_shared_from_this<Operation> {
  public:
    Operation();
    virtual ~Operation();
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;

    // Starts the operation on the calling thread. The default runs main() between the executing
    // and finished states, or only finishes when the operation was cancelled before it started.
    virtual void start();
    virtual void main() {}
    virtual void cancel();

    virtual bool isCancelled() const { return cancelled_.load(); }
    virtual bool isExecuting() const { return executing_.load(); }
    virtual bool isFinished() const { return finished_.load(); }
    // True when every dependency has finished (or the operation was cancelled).
    virtual bool isReady() const;
    virtual bool isConcurrent() const { return false; }
    // True once the operation finished and its completion callback was handed to the global
    // queue (or it had none): an operation queue lets go of it then.
    bool isSettled() const { return settled_.load(); }

    void addDependency(const std::shared_ptr<Operation>& op);
    void removeDependency(const std::shared_ptr<Operation>& op);
    std::vector<std::shared_ptr<Operation>> dependencies() const;

    // Runs once, on a background thread, after the operation finished. Setting it to an empty
    // function clears it.
    void setCompletionBlock(std::function<void()> block);
    std::function<void()> completionBlock() const;

    // Blocks until finished. Must not be called from the operation itself.
    void waitUntilFinished();

    std::string name;

  protected:
    // Asynchronous subclasses call this after any change of their readiness, executing or
    // finished state; it wakes waiters, the queue and dependent operations, and runs the
    // completion callback once finished.
    void stateDidChange();
    // Helpers for the base state (used by the default start()).
    void setExecutingState(bool executing);
    void setFinishedState(bool finished);

  private:
    friend class OperationQueue;
    void dependencyFinished();
    void setQueueObserver(std::function<void()> observer);

    mutable std::mutex mutex_;
    std::condition_variable finishedCv_;
    std::atomic<bool> cancelled_{false}, executing_{false}, finished_{false}, settled_{false};
    bool completionFired_ = false;
    std::vector<std::shared_ptr<Operation>> dependencies_;
    std::vector<std::weak_ptr<Operation>> dependents_;
    std::function<void()> completion_;
    std::function<void()> queueObserver_;
};

// Runs operations on background threads as they become ready, at most
// maxConcurrentOperationCount at once (-1: the system decides, which here is unlimited).
// Operations leave the queue when they finish; from adding until their completion callback was
// handed on they count as the library's pending work (PendingWork). All methods: any thread.
class OperationQueue {
  public:
    static constexpr int DefaultMaxConcurrentOperationCount = -1;

    explicit OperationQueue(std::string name = "");
    ~OperationQueue();
    OperationQueue(const OperationQueue&) = delete;
    OperationQueue& operator=(const OperationQueue&) = delete;

    void addOperation(const std::shared_ptr<Operation>& op);
    void addOperations(const std::vector<std::shared_ptr<Operation>>& ops, bool waitUntilFinished);
    void addOperationWithBlock(std::function<void()> block);

    std::vector<std::shared_ptr<Operation>> operations() const;
    size_t operationCount() const;
    void setMaxConcurrentOperationCount(int count);
    int maxConcurrentOperationCount() const;
    void setSuspended(bool suspended);
    bool isSuspended() const;
    void cancelAllOperations();
    void waitUntilAllOperationsAreFinished();
    const std::string& name() const { return name_; }

  private:
    struct State;
    std::shared_ptr<State> state_;
    std::string name_;
};

// An operation that runs blocks in main().
class BlockOperation : public Operation {
  public:
    explicit BlockOperation(std::function<void()> block);
    void main() override;

  private:
    std::function<void()> block_;
};

}  // namespace rivlo
