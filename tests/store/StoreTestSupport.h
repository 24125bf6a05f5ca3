#pragma once

#include "core/RVUtil.h"
#include "foundation/Log.h"
#include "foundation/UserDefaults.h"
#include "foundation/Value.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace rivlo::test {

namespace fs = std::filesystem;

inline std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void writeFile(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

inline unsigned permissions(const fs::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return 0;
    return st.st_mode & 0777;
}

// Each test gets its own caches directory and defaults file under a fresh temporary folder,
// and captures the log.
class StoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() /
                ("rivlo-store-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root_);
        fs::create_directories(root_ / "config");
        RVUtil::setApplicationCachesDirectory((root_ / "caches").string());
        UserDefaults::setStandardDirectory((root_ / "config").string());
        UserDefaults::standard().reload();
        RVUtil::appDeviceId("device-7");
        log_.emplace();
    }

    void TearDown() override {
        log_.reset();
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

    fs::path folder(const std::string& name) const { return RVUtil::folderPath(name); }

    // The defaults as the file on disk holds them (not the in-memory copy).
    Value defaultsOnDisk() const {
        auto value = PropertyList::read(readFile(UserDefaults::standard().filePath()));
        return value ? *value : Value();
    }

    std::vector<std::string> logLines() { return log_->lines(); }
    size_t logLinesContaining(const std::string& text) { return log_->count(text); }

    fs::path root_;
    std::optional<LogCapture> log_;
};

}  // namespace rivlo::test
