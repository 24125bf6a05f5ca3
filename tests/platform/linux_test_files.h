#pragma once

#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

namespace rivlo::test {

// A temporary folder tree for the Linux tests; removed at the end of the test.
class LinuxTestTree {
  public:
    LinuxTestTree() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "rivlo-linux-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) root_ = pattern;
    }
    ~LinuxTestTree() {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    LinuxTestTree(const LinuxTestTree&) = delete;
    LinuxTestTree& operator=(const LinuxTestTree&) = delete;

    const std::string& root() const { return root_; }
    std::string path(const std::string& relative) const { return root_ + "/" + relative; }

    // Writes a file (and its folders), replacing it atomically so readers never see half.
    void write(const std::string& relative, const std::string& text) const {
        const std::filesystem::path target = path(relative);
        std::filesystem::create_directories(target.parent_path());
        const std::string temporary = target.string() + ".tmp";
        {
            std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
            out << text;
        }
        std::filesystem::rename(temporary, target);
    }

  private:
    std::string root_;
};

}  // namespace rivlo::test
