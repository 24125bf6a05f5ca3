#include "http/RVAFNetworkThread.h"

#include "foundation/Log.h"
#include "foundation/SharedInstance.h"

#include <curl/curl.h>

#include <csignal>
#include <pthread.h>

namespace rivlo {

namespace {
// With nothing to drive, the thread waits this long between looks (only a posted task wakes it
// sooner); curl_multi_poll takes an int.
constexpr long kIdleWaitMillis = 24L * 60 * 60 * 1000;
SharedInstance<RVAFNetworkThread> gShared;
}  // namespace

RVAFNetworkThread& RVAFNetworkThread::shared() {
    return gShared.get([] { return new RVAFNetworkThread(); },
                       [](RVAFNetworkThread& thread) { thread.shutdown(); });
}

RVAFNetworkThread::RVAFNetworkThread() {
    // Counted by curl: the host's own use of curl (and its own global init) is not disturbed
    // by the cleanup when the library closes.
    curl_global_init(CURL_GLOBAL_DEFAULT);
    multi_ = curl_multi_init();
    thread_ = std::thread([this] { run(); });
    threadId_ = thread_.get_id();
}

RVAFNetworkThread::~RVAFNetworkThread() {
    shutdown();
    if (multi_) curl_multi_cleanup(multi_);
    curl_global_cleanup();
}

void RVAFNetworkThread::shutdown() {
    if (!thread_.joinable() || isCurrent()) return;
    stopping_.store(true);
    curl_multi_wakeup(multi_);
    thread_.join();
}

void RVAFNetworkThread::post(Task task) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    curl_multi_wakeup(multi_);
}

bool RVAFNetworkThread::isCurrent() const {
    return std::this_thread::get_id() == threadId_;
}

void RVAFNetworkThread::addTransfer(CURL* easy, DoneHandler done) {
    transfers_[easy] = std::move(done);
    const CURLMcode rc = curl_multi_add_handle(multi_, easy);
    if (rc != CURLM_OK) {
        RVLog("Rivlo: network thread could not start a transfer: %s", curl_multi_strerror(rc));
        auto handler = std::move(transfers_[easy]);
        transfers_.erase(easy);
        if (handler) handler(CURLE_FAILED_INIT);
    }
}

void RVAFNetworkThread::removeTransfer(CURL* easy) {
    if (transfers_.erase(easy) > 0) curl_multi_remove_handle(multi_, easy);
}

void RVAFNetworkThread::runTasks() {
    std::vector<Task> tasks;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        tasks.swap(tasks_);
    }
    for (auto& task : tasks)
        task();
}

void RVAFNetworkThread::collectFinished() {
    int queued = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi_, &queued)) {
        if (msg->msg != CURLMSG_DONE) continue;
        CURL* easy = msg->easy_handle;
        const CURLcode result = msg->data.result;
        auto it = transfers_.find(easy);
        if (it == transfers_.end()) continue;
        DoneHandler handler = std::move(it->second);
        transfers_.erase(it);
        curl_multi_remove_handle(multi_, easy);
        if (handler) handler(result);
    }
}

void RVAFNetworkThread::run() {
    // A peer that closes a connection must never kill the host with SIGPIPE: the signal is
    // blocked on this thread (curl also sends with MSG_NOSIGNAL).
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    pthread_setname_np(pthread_self(), "rivlo.network");

    while (!stopping_.load()) {
        runTasks();
        int running = 0;
        curl_multi_perform(multi_, &running);
        collectFinished();
        runTasks();
        // Drain any SIGPIPE left pending by a write to a closed socket.
        timespec zero{0, 0};
        while (sigtimedwait(&set, nullptr, &zero) > 0) {
        }
        if (stopping_.load()) break;
        // Sleeps until a socket is ready, a task is posted (curl_multi_wakeup) or curl's own
        // next time-out; with nothing running, only a task wakes it.
        long timeout = -1;
        curl_multi_timeout(multi_, &timeout);
        if (timeout < 0) timeout = transfers_.empty() ? kIdleWaitMillis : 1000;
        curl_multi_poll(multi_, nullptr, 0, static_cast<int>(timeout), nullptr);
    }
    // Closing: what is still posted runs, and transfers still running end as aborted.
    runTasks();
    while (!transfers_.empty()) {
        auto it = transfers_.begin();
        CURL* easy = it->first;
        DoneHandler handler = std::move(it->second);
        transfers_.erase(it);
        curl_multi_remove_handle(multi_, easy);
        if (handler) handler(CURLE_ABORTED_BY_CALLBACK);
    }
    runTasks();
}

}  // namespace rivlo
