#include "foundation/PendingWork.h"

#include <cmath>
#include <ctime>

#include <pthread.h>

namespace rivlo {
namespace {

// Plain POSIX objects with static initialisers: nothing runs when the library loads or at exit.
pthread_mutex_t gMutex = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t gIdle = PTHREAD_COND_INITIALIZER;
int64_t gCount = 0;  // guarded by gMutex

struct Locked {
    Locked() { pthread_mutex_lock(&gMutex); }
    ~Locked() { pthread_mutex_unlock(&gMutex); }
};

}  // namespace

void PendingWork::add(int64_t count) {
    Locked lock;
    gCount += count;
}

void PendingWork::done(int64_t count) {
    Locked lock;
    gCount -= count;
    if (gCount < 0) gCount = 0;
    if (gCount == 0) pthread_cond_broadcast(&gIdle);
}

int64_t PendingWork::count() {
    Locked lock;
    return gCount;
}

bool PendingWork::waitUntilIdle(double seconds) {
    if (!(seconds >= 0)) seconds = 0;
    if (seconds > 1e9) seconds = 1e9;
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    const double whole = std::floor(seconds);
    deadline.tv_sec += static_cast<time_t>(whole);
    deadline.tv_nsec += static_cast<long>((seconds - whole) * 1e9);
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    Locked lock;
    while (gCount != 0) {
        if (pthread_cond_clockwait(&gIdle, &gMutex, CLOCK_MONOTONIC, &deadline) != 0) break;
    }
    return gCount == 0;
}

void PendingWork::reset() {
    Locked lock;
    gCount = 0;
    pthread_cond_broadcast(&gIdle);
}

}  // namespace rivlo
