#include "store/RVStoreSession.h"

#include "foundation/Clock.h"
#include "foundation/Log.h"

#include <atomic>
#include <cmath>
#include <mutex>

namespace rivlo {

namespace {

// The identifier is text, guarded by gMutex; nothing is called out while it is held.
std::mutex gMutex;
std::string gAppDeviceId;
std::atomic<bool> gInfoPostSuccess{false};
std::atomic<double> gSessionStart{0};

}  // namespace

void RVStoreSession::appDeviceId(const std::string& identifier) {
    std::lock_guard<std::mutex> lock(gMutex);
    gAppDeviceId = identifier;
}

std::string RVStoreSession::appDeviceId() {
    std::lock_guard<std::mutex> lock(gMutex);
    return gAppDeviceId;
}

void RVStoreSession::isInfoPostSuccess(bool posted) {
    gInfoPostSuccess.store(posted);
}

bool RVStoreSession::isInfoPostSuccess() {
    return gInfoPostSuccess.load();
}

void RVStoreSession::forget() {
    {
        std::lock_guard<std::mutex> lock(gMutex);
        gAppDeviceId.clear();
    }
    gInfoPostSuccess.store(false);
    gSessionStart.store(0);
}

void RVStoreSession::startApplicationTimer() {
    gSessionStart.store(Clock::now());
}

std::string RVStoreSession::applicationTotalTime() {
    const double start = gSessionStart.load();
    if (start <= 0) return "0";
    const double elapsed = std::floor(Clock::now() - start);
    return format("%ld", static_cast<long>(elapsed < 0 ? 0 : elapsed));
}

}  // namespace rivlo
