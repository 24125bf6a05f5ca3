#include "ProcessCounts.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <thread>

#include <dirent.h>
#include <unistd.h>

namespace rivlo::test {

ProcessCounts ProcessCounts::now() {
    // ThreadSanitizer starts a thread of its own when the process first starts one: one thread
    // started and joined before the first count makes it part of every count.
    static const bool settled = (std::thread([] {}).join(), true);
    (void)settled;
    ProcessCounts counts;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream in(entry.path() / "comm");
        std::string name;
        std::getline(in, name);
        counts.threads.push_back(name);
    }
    // Read with opendir so that the one descriptor the listing holds can be left out.
    if (DIR* dir = opendir("/proc/self/fd")) {
        const int own = dirfd(dir);
        while (dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name == "." || name == ".." || std::stoi(name) == own) continue;
            char target[512] = {};
            const ssize_t n =
                readlink(("/proc/self/fd/" + name).c_str(), target, sizeof target - 1);
            counts.descriptors.push_back(name + " -> " + (n > 0 ? std::string(target, n) : "?"));
        }
        closedir(dir);
    }
    std::sort(counts.threads.begin(), counts.threads.end());
    std::sort(counts.descriptors.begin(), counts.descriptors.end());
    return counts;
}

std::string ProcessCounts::describe() const {
    std::ostringstream out;
    out << threads.size() << " threads:";
    for (const auto& t : threads)
        out << " [" << t << "]";
    out << "\n" << descriptors.size() << " descriptors:";
    for (const auto& d : descriptors)
        out << " [" << d << "]";
    return out.str();
}

}  // namespace rivlo::test
