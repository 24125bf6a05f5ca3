#pragma once

#include <string>

#include <sys/types.h>

namespace rivlo::test {

// The reference collector as a process of its own (rivlo-collector serve), so that the suite's
// own process holds only the library's threads and descriptors: started on a free loopback port
// with one application key, paused (SIGSTOP: the kernel still accepts connections, nobody
// answers), killed; its report read back.
class CollectorProcess {
  public:
    CollectorProcess(std::string dataDirectory, std::string applicationKey);
    ~CollectorProcess();
    CollectorProcess(const CollectorProcess&) = delete;
    CollectorProcess& operator=(const CollectorProcess&) = delete;

    // Starts it and waits until it listens; false when it did not within a minute.
    bool start();
    const std::string& url() const { return url_; }
    void pause();
    void kill();
    // `rivlo-collector report` on the data folder.
    std::string report() const;

  private:
    std::string data_;
    std::string key_;
    std::string url_;
    pid_t pid_ = -1;
};

// A fresh temporary folder (removed by the caller when it wants).
std::string makeTemporaryDirectory(const char* name);

}  // namespace rivlo::test
