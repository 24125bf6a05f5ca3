#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

typedef void CURL;
typedef void CURLM;

namespace rivlo {

// The one network thread of the process. It runs a curl multi handle that drives every
// connection of every operation; connections are created, driven and called back only here.
// Created on first use; stopped, joined and freed when the library closes. It sleeps until a
// task is posted, a socket is ready or curl has a time-out due: no transfer, no wake-up.
class RVAFNetworkThread {
  public:
    using Task = std::function<void()>;
    // Called on the network thread when a transfer ends, with its curl result code.
    using DoneHandler = std::function<void(int curlCode)>;

    static RVAFNetworkThread& shared();

    // Runs the task on the network thread, after the tasks posted before it. Any thread.
    void post(Task task);
    // True on the network thread.
    bool isCurrent() const;

    // Network thread only: starts driving a transfer; `done` runs once when it ends (not when
    // it is removed with removeTransfer).
    void addTransfer(CURL* easy, DoneHandler done);
    // Network thread only: stops driving a transfer without calling its done handler.
    void removeTransfer(CURL* easy);

    // Ends the loop: transfers still running end with an aborted result (their done handlers
    // run on the network thread), then the thread is joined. Any thread but the network thread.
    void shutdown();
    // Joins the thread (when shutdown() did not) and frees curl's handles. Close only.
    ~RVAFNetworkThread();

  private:
    RVAFNetworkThread();
    void run();
    void runTasks();
    void collectFinished();

    CURLM* multi_ = nullptr;
    std::mutex mutex_;
    std::vector<Task> tasks_;
    std::map<CURL*, DoneHandler> transfers_;  // network thread only
    std::atomic<bool> stopping_{false};
    std::thread thread_;
    std::atomic<std::thread::id> threadId_{};
};

}  // namespace rivlo
