#include "WorkerPool.h"

namespace rivlo::collector {

WorkerPool::~WorkerPool() {
    stop();
}

void WorkerPool::start(size_t threads, size_t queueLimit) {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = false;
    queueLimit_ = queueLimit;
    for (size_t i = 0; i < threads; ++i)
        threads_.emplace_back([this] { run(); });
}

bool WorkerPool::tryPost(std::function<void()> job) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!stopping_ && !threads_.empty() && jobs_.size() < queueLimit_) {
            jobs_.push_back(std::move(job));
            wake_.notify_one();
            return true;
        }
    }
    return false;  // `job` is destroyed here, outside the lock
}

void WorkerPool::stop() {
    std::deque<std::function<void()>> dropped;
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        dropped.swap(jobs_);
        threads.swap(threads_);
    }
    wake_.notify_all();
    for (std::thread& t : threads)
        t.join();
    dropped.clear();
}

size_t WorkerPool::queued() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return jobs_.size();
}

void WorkerPool::run() {
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (stopping_) return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        job();
    }
}

}  // namespace rivlo::collector
