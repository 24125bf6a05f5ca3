#pragma once

// What the idle probe programs (rivlo-qt-idle-probe, rivlo-quick-idle-probe) count on their main
// thread, and how they wait as app.exec() does.

#include <QEventLoop>
#include <QTimer>

#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>

namespace rivlo::bench {

// The calling thread's voluntary context switches so far.
inline long voluntarySwitches() {
    std::ifstream status("/proc/self/task/" + std::to_string(::syscall(SYS_gettid)) + "/status");
    const std::string field = "voluntary_ctxt_switches:";
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + field.size());
    }
    return -1;
}

inline double threadCpuSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// Turns Qt's event loop as app.exec() does, for `seconds` (QTest::qWait would wake the thread
// every 10 ms itself).
inline void waitInEventLoop(double seconds) {
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(seconds * 1000), Qt::PreciseTimer, &loop,
                       &QEventLoop::quit);
    loop.exec();
}

}  // namespace rivlo::bench
