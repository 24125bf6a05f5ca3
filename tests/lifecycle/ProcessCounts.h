#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace rivlo::test {

// The calling process's threads (/proc/self/task) and open descriptors (/proc/self/fd, the
// directory's own descriptor left out), with their names for failure messages.
struct ProcessCounts {
    std::vector<std::string> threads;      // each thread's name (comm)
    std::vector<std::string> descriptors;  // each descriptor's target

    static ProcessCounts now();
    std::string describe() const;
};

}  // namespace rivlo::test
