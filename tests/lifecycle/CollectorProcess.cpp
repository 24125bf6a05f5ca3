#include "CollectorProcess.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace rivlo::test {

std::string makeTemporaryDirectory(const char* name) {
    std::string pattern = std::string("/tmp/") + name + "-XXXXXX";
    return mkdtemp(pattern.data()) ? pattern : std::string();
}

CollectorProcess::CollectorProcess(std::string dataDirectory, std::string applicationKey)
    : data_(std::move(dataDirectory)), key_(std::move(applicationKey)) {}

CollectorProcess::~CollectorProcess() {
    kill();
}

bool CollectorProcess::start() {
    const std::string urlFile = data_ + "/url";
    std::remove(urlFile.c_str());
    std::vector<std::string> args = {RIVLO_COLLECTOR, "serve", "--data",     data_,
                                     "--app-key",     key_,    "--url-file", urlFile,
                                     "--threads",     "4"};
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    // Its output goes to a file in its folder, out of the suite's descriptors.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string log = data_ + "/collector.log";
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    const int rc = posix_spawn(&pid_, RIVLO_COLLECTOR, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return false;
    // It writes the URL into the file once it listens: wait for the file to be written
    // (inotify), up to a minute.
    const int watch = inotify_init1(IN_CLOEXEC);
    if (watch < 0) return false;
    inotify_add_watch(watch, data_.c_str(), IN_CLOSE_WRITE | IN_MOVED_TO);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    bool found = false;
    while (!found && std::chrono::steady_clock::now() < deadline) {
        std::ifstream in(urlFile);
        std::string url;
        if (in && std::getline(in, url) && !url.empty()) {
            url_ = url;
            found = true;
            break;
        }
        pollfd ready{watch, POLLIN, 0};
        if (poll(&ready, 1, 1000) > 0) {
            char events[4096];
            (void)read(watch, events, sizeof events);
        }
    }
    close(watch);
    return found;
}

void CollectorProcess::pause() {
    if (pid_ > 0) ::kill(pid_, SIGSTOP);
}

void CollectorProcess::kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
}

std::string CollectorProcess::report() const {
    const std::string command =
        std::string(RIVLO_COLLECTOR) + " report --data '" + data_ + "' 2>/dev/null";
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t n = 0;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
            out.append(buffer, n);
        pclose(pipe);
    }
    return out;
}

}  // namespace rivlo::test
