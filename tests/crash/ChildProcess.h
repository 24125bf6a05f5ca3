#pragma once

#include <string>
#include <vector>

namespace rivlo::test {

// How a child process ended.
struct ChildExit {
    bool started = false;
    bool hung = false;  // still running at the deadline; it was killed
    bool signaled = false;
    int signal = 0;     // when signaled
    int exitCode = -1;  // when it exited normally
};

// Runs a program with arguments (and extra environment entries "NAME=value"), waits until it
// ends or the deadline passes (then kills it and reports it hung).
ChildExit runChild(const std::string& program, const std::vector<std::string>& arguments,
                   const std::vector<std::string>& environment = {}, double deadlineSeconds = 60);

// A fresh directory under the system's temporary folder; removed by the destructor.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// The whole file, or an empty text when it does not exist.
std::string readFile(const std::string& path);
// The lines of a file (without their line ends).
std::vector<std::string> readLines(const std::string& path);

}  // namespace rivlo::test
