#pragma once

#include <cstdarg>
#include <functional>
#include <string>

namespace rivlo {

// The library's system log: one line per call. Any thread.
class Log {
  public:
    using Sink = std::function<void(const std::string& line)>;

    // Formats like printf and hands one line (without trailing newline) to the sink.
    static void write(const char* format, ...) __attribute__((format(printf, 1, 2)));
    static void writev(const char* format, va_list args);
    // Hands an already formatted line to the sink.
    static void line(const std::string& text);

    // Replaces the sink; an empty function restores the default (standard error with a time
    // stamp). The sink is called outside any lock of the logger, possibly on several threads.
    static void setSink(Sink sink);
};

// printf-style formatting into a std::string. Any thread.
std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string vformat(const char* fmt, va_list args);

}  // namespace rivlo

#define RVLog(...) ::rivlo::Log::write(__VA_ARGS__)
