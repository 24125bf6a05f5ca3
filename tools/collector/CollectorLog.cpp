#include "CollectorLog.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <vector>

namespace rivlo::collector {

CollectorLog::CollectorLog(Sink sink) : sink_(std::move(sink)) {}

void CollectorLog::write(const char* format, ...) const {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int needed = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text;
    if (needed > 0) {
        std::vector<char> buffer(static_cast<size_t>(needed) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format, args);
        text.assign(buffer.data(), static_cast<size_t>(needed));
    }
    va_end(args);
    line(text);
}

void CollectorLog::line(const std::string& text) const {
    if (sink_) {
        sink_(text);
        return;
    }
    std::time_t now = std::time(nullptr);
    std::tm parts{};
    gmtime_r(&now, &parts);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &parts);
    // One fprintf per line so concurrent request threads do not interleave within a line.
    std::fprintf(stderr, "%s rivlo-collector: %s\n", stamp, text.c_str());
}

}  // namespace rivlo::collector
