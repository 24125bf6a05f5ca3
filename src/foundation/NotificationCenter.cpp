#include "foundation/NotificationCenter.h"

#include "foundation/SharedInstance.h"

#include <algorithm>
#include <thread>

namespace rivlo {

// One observer. `inFlight` counts deliveries in progress; removal from another thread waits
// for them so that a removed observer is never called afterwards.
struct NotificationCenter::Entry {
    Token token;
    std::string name;
    const void* object;
    Callback callback;
    std::atomic<bool> removed{false};
    std::atomic<int> inFlight{0};
};

namespace {
// Entries whose callbacks run on this thread right now (to allow removal from inside).
thread_local std::vector<const void*> deliveringHere;
}  // namespace

NotificationCenter& NotificationCenter::defaultCenter() {
    static SharedInstance<NotificationCenter> center;
    return center.get([] { return new NotificationCenter; });
}

NotificationCenter::Token NotificationCenter::addObserver(const std::string& name,
                                                          const void* object, Callback callback) {
    auto entry = std::make_shared<Entry>();
    entry->name = name;
    entry->object = object;
    entry->callback = std::move(callback);
    std::lock_guard<std::mutex> lock(mutex_);
    entry->token = nextToken_++;
    entries_.push_back(entry);
    return entry->token;
}

void NotificationCenter::removeObserver(Token token) {
    std::shared_ptr<Entry> entry;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = std::find_if(entries_.begin(), entries_.end(),
                               [token](const auto& e) { return e->token == token; });
        if (it == entries_.end()) return;
        entry = *it;
        entries_.erase(it);
    }
    entry->removed.store(true);
    bool insideOwnCallback = std::find(deliveringHere.begin(), deliveringHere.end(), entry.get()) !=
                             deliveringHere.end();
    if (insideOwnCallback) return;
    while (entry->inFlight.load() > 0)
        std::this_thread::yield();
}

void NotificationCenter::post(const std::string& name, const void* object, Value userInfo) {
    post(Notification{name, object, std::move(userInfo)});
}

void NotificationCenter::post(const Notification& notification) {
    std::vector<std::shared_ptr<Entry>> targets;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& e : entries_) {
            if (e->name == notification.name &&
                (e->object == nullptr || e->object == notification.object)) {
                targets.push_back(e);
            }
        }
    }
    for (const auto& e : targets) {
        // Counted before the removed flag is read, so a remover either sees the count or this
        // delivery sees the flag.
        struct InFlight {
            Entry* entry;
            explicit InFlight(Entry* e) : entry(e) {
                entry->inFlight.fetch_add(1);
                deliveringHere.push_back(e);
            }
            ~InFlight() {
                deliveringHere.pop_back();
                entry->inFlight.fetch_sub(1);
            }
        } guard(e.get());
        if (!e->removed.load()) e->callback(notification);
    }
}

}  // namespace rivlo
