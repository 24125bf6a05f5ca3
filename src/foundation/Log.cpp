#include "foundation/Log.h"

#include <cstdio>
#include <ctime>
#include <mutex>
#include <sys/time.h>

namespace rivlo {
namespace {

std::mutex& sinkMutex() {
    static std::mutex* const m = new std::mutex;
    return *m;
}

Log::Sink& sinkSlot() {
    static Log::Sink* const s = new Log::Sink;
    return *s;
}

// Default sink: "2026-12-08 07:18:34.123 <line>" on standard error, written in one call so
// lines from several threads never interleave.
void writeToStandardError(const std::string& text) {
    timeval tv{};
    gettimeofday(&tv, nullptr);
    tm parts{};
    localtime_r(&tv.tv_sec, &parts);
    char stamp[40];
    size_t n = strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &parts);
    snprintf(stamp + n, sizeof stamp - n, ".%03ld", static_cast<long>(tv.tv_usec / 1000));
    std::string out = std::string(stamp) + " " + text + "\n";
    fwrite(out.data(), 1, out.size(), stderr);
}

}  // namespace

std::string vformat(const char* fmt, va_list args) {
    va_list copy;
    va_copy(copy, args);
    char small[256];
    int needed = vsnprintf(small, sizeof small, fmt, copy);
    va_end(copy);
    if (needed < 0) return std::string();
    if (static_cast<size_t>(needed) < sizeof small) return std::string(small, needed);
    std::string out(static_cast<size_t>(needed) + 1, '\0');
    vsnprintf(out.data(), out.size(), fmt, args);
    out.resize(static_cast<size_t>(needed));
    return out;
}

std::string format(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::string out = vformat(fmt, args);
    va_end(args);
    return out;
}

void Log::write(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    writev(fmt, args);
    va_end(args);
}

void Log::writev(const char* fmt, va_list args) {
    line(vformat(fmt, args));
}

void Log::line(const std::string& text) {
    Sink sink;
    {
        std::lock_guard<std::mutex> lock(sinkMutex());
        sink = sinkSlot();
    }
    if (sink) {
        sink(text);
    } else {
        writeToStandardError(text);
    }
}

void Log::setSink(Sink sink) {
    std::lock_guard<std::mutex> lock(sinkMutex());
    sinkSlot() = std::move(sink);
}

}  // namespace rivlo
