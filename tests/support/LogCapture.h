#pragma once

#include "foundation/Log.h"

#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace rivlo::test {

// Captures the library's log lines for the life of the object (any thread may log).
class LogCapture {
  public:
    LogCapture() {
        Log::setSink([this](const std::string& line) {
            std::lock_guard<std::mutex> lock(mutex_);
            lines_.push_back(line);
        });
    }
    ~LogCapture() { Log::setSink(nullptr); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> lines() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }
    // The lines so far, which are forgotten here.
    std::vector<std::string> take() {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::exchange(lines_, {});
    }
    // How many lines contain the text.
    size_t count(const std::string& text) const {
        size_t n = 0;
        for (const auto& line : lines())
            n += line.find(text) != std::string::npos ? 1 : 0;
        return n;
    }
    bool contains(const std::string& text) const { return count(text) > 0; }
    // Every line, each ended by a line break (for failure messages).
    std::string all() const {
        std::string out;
        for (const auto& line : lines())
            out += line + "\n";
        return out;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

}  // namespace rivlo::test
