#include "foundation/UserDefaults.h"
#include "foundation/Log.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <sys/stat.h>
#include <thread>

using namespace rivlo;
using rivlo::test::LogCapture;
namespace fs = std::filesystem;

namespace {

struct TempDir {
    fs::path path;
    TempDir() {
        path = fs::temp_directory_path() / ("rivlo-defaults-" + std::to_string(getpid()) + "-" +
                                            std::to_string(reinterpret_cast<uintptr_t>(this)));
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~TempDir() { fs::remove_all(path); }
};

std::string readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

TEST(UserDefaultsTest, ValuesSurviveThroughTheFile) {
    TempDir dir;
    auto file = (dir.path / "d.plist").string();
    {
        UserDefaults d(file);
        d.set("RivloFramework.runNo", 7);
        d.set("RvTextFile", Value::array({Value{{"fileName", "1.txt"}, {"sessionId", "7"}}}));
        d.set("name", "x");
        d.set("gone", 1);
        d.remove("gone");
        ASSERT_TRUE(d.synchronize());
    }
    UserDefaults again(file);
    EXPECT_EQ(again.integer("RivloFramework.runNo"), 7);
    EXPECT_EQ(again.array("RvTextFile")[0]["fileName"], "1.txt");
    EXPECT_EQ(again.text("name"), "x");
    EXPECT_FALSE(again.has("gone"));
    EXPECT_EQ(again.integer("missing"), 0);
    EXPECT_TRUE(again.array("name").is_null());  // a text is not an array
    // The file is a property list anyone can read, private to the user.
    auto parsed = PropertyList::read(readAll(file));
    ASSERT_TRUE(parsed);
    EXPECT_EQ((*parsed)["name"], "x");
    struct stat st {};
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(UserDefaultsTest, LeftoverTemporaryFileFromATornWriteIsIgnored) {
    TempDir dir;
    auto file = (dir.path / "d.plist").string();
    {
        UserDefaults d(file);
        d.set("k", "complete");
        ASSERT_TRUE(d.synchronize());
    }
    // A write that died before its rename leaves half a temporary file behind.
    std::ofstream(file + ".tmp") << "bplist00\x01\x02";
    UserDefaults again(file);
    EXPECT_EQ(again.text("k"), "complete");
    EXPECT_FALSE(fs::exists(file + ".tmp"));
}

TEST(UserDefaultsTest, TruncatedFileIsKeptAsideLoggedAndDefaultsStartEmpty) {
    TempDir dir;
    auto file = (dir.path / "d.plist").string();
    {
        UserDefaults d(file);
        for (int i = 0; i < 50; ++i)
            d.set("key" + std::to_string(i), std::string(40, 'x'));
        ASSERT_TRUE(d.synchronize());
    }
    std::string bytes = readAll(file);
    fs::resize_file(file, bytes.size() / 2);
    LogCapture log;
    UserDefaults again(file);
    EXPECT_FALSE(again.has("key1"));
    again.set("fresh", 1);
    EXPECT_TRUE(again.synchronize());
    EXPECT_TRUE(fs::exists(file + ".corrupt"));
    EXPECT_EQ(fs::file_size(file + ".corrupt"), bytes.size() / 2);
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_NE(log.lines()[0].find("corrupt"), std::string::npos);
    UserDefaults third(file);
    EXPECT_EQ(third.integer("fresh"), 1);
}

TEST(UserDefaultsTest, ConcurrentWritersAndSynchronizeLeaveAReadableFile) {
    TempDir dir;
    auto file = (dir.path / "d.plist").string();
    UserDefaults d(file);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i) {
                d.set("t" + std::to_string(t), i);
                d.synchronize();
            }
        });
    }
    for (auto& t : threads)
        t.join();
    d.synchronize();
    UserDefaults again(file);
    for (int t = 0; t < 4; ++t)
        EXPECT_EQ(again.integer("t" + std::to_string(t)), 49);
}

TEST(UserDefaultsTest, UnwritableLocationFailsWithALogLineAndKeepsValues) {
    LogCapture log;
    UserDefaults d("/proc/rivlo-cannot-write/d.plist");
    d.set("k", 1);
    EXPECT_FALSE(d.synchronize());
    EXPECT_EQ(d.integer("k"), 1);
    EXPECT_EQ(log.lines().size(), 1u);
}
