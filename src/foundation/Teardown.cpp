#include "foundation/Teardown.h"

#include <atomic>
#include <mutex>
#include <utility>
#include <vector>

namespace rivlo {
namespace {

struct Registration {
    Teardown::Step stop;
    Teardown::Step release;
};

// Constant-initialised: no constructor runs at load time, and nothing is freed at exit.
std::mutex gMutex;
std::vector<Registration>* gRegistrations = nullptr;  // guarded by gMutex
std::atomic<bool> gCancelled{false};

// Takes the registrations made so far (newest first).
std::vector<Registration> takeRegistrations() {
    std::vector<Registration> taken;
    {
        std::lock_guard lock(gMutex);
        if (gRegistrations == nullptr) return taken;
        taken = std::move(*gRegistrations);
        delete gRegistrations;
        gRegistrations = nullptr;
    }
    return {std::make_move_iterator(taken.rbegin()), std::make_move_iterator(taken.rend())};
}

}  // namespace

void Teardown::add(Step stop, Step release) {
    std::lock_guard lock(gMutex);
    if (gRegistrations == nullptr) gRegistrations = new std::vector<Registration>;
    gRegistrations->push_back({std::move(stop), std::move(release)});
}

void Teardown::run() {
    // Objects stopped or released may create others on their way out (a queue draining a last
    // task that touches a shared object): rounds go on until nothing new was registered.
    for (;;) {
        std::vector<Registration> round = takeRegistrations();
        if (round.empty()) return;
        for (auto& registration : round) {
            if (registration.stop) registration.stop();
        }
        for (auto& registration : round) {
            if (registration.release) registration.release();
        }
    }
}

bool Teardown::isCancelled() {
    return gCancelled.load();
}

void Teardown::setCancelled(bool cancelled) {
    gCancelled.store(cancelled);
}

}  // namespace rivlo
