#include "foundation/BackgroundThreads.h"

#include "foundation/Log.h"
#include "foundation/PendingWork.h"
#include "foundation/Teardown.h"

#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include <pthread.h>

namespace rivlo {
namespace {

struct Entry {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> finished;  // null for an adopted thread
};

std::mutex gMutex;
std::list<Entry>* gThreads = nullptr;  // guarded by gMutex; created with the first thread

// Adds an entry, registering the join with the teardown when the list is new. Takes the
// finished threads out for the caller to join outside the lock.
std::list<Entry> addAndTakeFinished(Entry entry) {
    std::list<Entry> finished;
    bool created = false;
    {
        std::lock_guard lock(gMutex);
        if (gThreads == nullptr) {
            gThreads = new std::list<Entry>;
            created = true;
        }
        for (auto it = gThreads->begin(); it != gThreads->end();) {
            const bool done = it->finished && it->finished->load();
            const bool self = it->thread.get_id() == std::this_thread::get_id();
            if (done && !self) {
                finished.splice(finished.end(), *gThreads, it++);
            } else {
                ++it;
            }
        }
        gThreads->push_back(std::move(entry));
    }
    if (created) Teardown::add([] { BackgroundThreads::joinAll(); }, nullptr);
    return finished;
}

void joinEach(std::list<Entry>& entries) {
    for (auto& entry : entries) {
        if (!entry.thread.joinable()) continue;
        if (entry.thread.get_id() == std::this_thread::get_id()) {
            entry.thread.detach();  // cannot happen from close; never join oneself
        } else {
            entry.thread.join();
        }
    }
}

}  // namespace

void BackgroundThreads::start(const char* name, std::function<void()> work) {
    if (!work) return;
    auto finished = std::make_shared<std::atomic<bool>>(false);
    PendingWork::add();
    std::thread thread;
    try {
        thread = std::thread([name = std::string(name), work = std::move(work), finished] {
            pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
            try {
                work();
            } catch (const std::exception& e) {
                RVLog("Rivlo: a background task of the library failed: %s", e.what());
            } catch (...) {
                RVLog("Rivlo: a background task of the library failed");
            }
            finished->store(true);
            PendingWork::done();
        });
    } catch (const std::system_error& e) {
        PendingWork::done();
        RVLog("Rivlo: could not start a thread (%s): %s", name, e.what());
        return;
    }
    std::list<Entry> reaped = addAndTakeFinished(Entry{std::move(thread), std::move(finished)});
    joinEach(reaped);
}

void BackgroundThreads::adopt(std::thread thread) {
    if (!thread.joinable()) return;
    // A short thread of ours joins it, and is itself joined like any other.
    auto shared = std::make_shared<std::thread>(std::move(thread));
    start("rivlo.join", [shared] { shared->join(); });
}

void BackgroundThreads::joinAll() {
    // Threads started while these are joined (by their own work) are joined in the next round.
    for (;;) {
        std::list<Entry> all;
        {
            std::lock_guard lock(gMutex);
            if (gThreads == nullptr) return;
            all = std::move(*gThreads);
            delete gThreads;
            gThreads = nullptr;
        }
        joinEach(all);
    }
}

}  // namespace rivlo
