#include "linux_test_files.h"
#include "platform/linux/LinuxDevice.h"
#include "platform/linux/LinuxPaths.h"
#include "platform/linux/LinuxSystemFacts.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>

#include <sys/stat.h>
#include <sys/utsname.h>

namespace rivlo::test {
namespace {

TEST(LinuxSystemFacts, OsReleaseVersionIdUnquotedOrAbsent) {
    LinuxTestTree tree;
    tree.write("quoted", "NAME=\"Debian GNU/Linux\"\n# comment\nVERSION_ID=\"12\"\nID=debian\n");
    tree.write("plain", "ID=fedora\nVERSION_ID=40\n");
    tree.write("single", "VERSION_ID='22.04'\n");
    tree.write("rolling", "NAME=Arch\nID=arch\nBUILD_ID=rolling\n");
    tree.write("empty", "VERSION_ID=\"\"\n");
    EXPECT_EQ(LinuxSystemFacts::osReleaseVersion(tree.path("quoted")), "12");
    EXPECT_EQ(LinuxSystemFacts::osReleaseVersion(tree.path("plain")), "40");
    EXPECT_EQ(LinuxSystemFacts::osReleaseVersion(tree.path("single")), "22.04");
    EXPECT_EQ(LinuxSystemFacts::osReleaseVersion(tree.path("rolling")), std::nullopt);
    EXPECT_EQ(LinuxSystemFacts::osReleaseVersion(tree.path("empty")), std::nullopt);
    EXPECT_EQ(LinuxSystemFacts::osReleaseVersion(tree.path("missing")), std::nullopt);
}

TEST(LinuxSystemFacts, ThisMachinesFacts) {
    utsname info{};
    ASSERT_EQ(uname(&info), 0);
    EXPECT_EQ(LinuxSystemFacts::machineIdentifier(), info.machine);
    EXPECT_EQ(LinuxSystemFacts::kernelRelease(), info.release);
    EXPECT_FALSE(LinuxSystemFacts::hostName().empty());
    // os-release when it has a version, else the kernel release.
    auto release = LinuxSystemFacts::osReleaseVersion("/etc/os-release");
    if (!release) release = LinuxSystemFacts::osReleaseVersion("/usr/lib/os-release");
    EXPECT_EQ(LinuxSystemFacts::systemVersion(), release.value_or(info.release));
}

TEST(LinuxSystemFacts, MachineIdMustBeThirtyTwoHexDigits) {
    LinuxTestTree tree;
    tree.write("good", "3D1219C7C4C5404AAA1F6D2A48ADFDA4\n");
    tree.write("short", "3d1219c7\n");
    tree.write("junk", "not-a-machine-id-at-all-00000000\n");
    tree.write("empty", "");
    EXPECT_EQ(LinuxSystemFacts::machineId(tree.path("good")), "3d1219c7c4c5404aaa1f6d2a48adfda4");
    EXPECT_EQ(LinuxSystemFacts::machineId(tree.path("short")), std::nullopt);
    EXPECT_EQ(LinuxSystemFacts::machineId(tree.path("junk")), std::nullopt);
    EXPECT_EQ(LinuxSystemFacts::machineId(tree.path("empty")), std::nullopt);
    EXPECT_EQ(LinuxSystemFacts::machineId(tree.path("missing")), std::nullopt);
}

TEST(LinuxSystemFacts, VendorIdentifierIsAStableUpperCaseUuidPerMachineAndApplication) {
    const std::regex uuid("^[0-9A-F]{8}-[0-9A-F]{4}-5[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}$");
    const std::string machine = "3d1219c7c4c5404aaa1f6d2a48adfda4";
    const std::string first = LinuxSystemFacts::vendorIdentifier(machine, "com.example.app");
    EXPECT_TRUE(std::regex_match(first, uuid)) << first;
    // The identifier stored devices and the service know: the same in every release.
    EXPECT_EQ(first, "70D888FA-72EB-5D25-96D0-E60BCBC1307C");
    EXPECT_EQ(LinuxSystemFacts::vendorIdentifier(machine, "com.example.app"), first);
    std::set<std::string> distinct = {
        first, LinuxSystemFacts::vendorIdentifier(machine, "com.example.other"),
        LinuxSystemFacts::vendorIdentifier("00000000000000000000000000000001", "com.example.app"),
        LinuxSystemFacts::vendorIdentifier(machine, "")};
    EXPECT_EQ(distinct.size(), 4u);
    const std::string here = LinuxSystemFacts::vendorIdentifierForThisMachine("com.example.app");
    EXPECT_TRUE(std::regex_match(here, uuid)) << here;
    EXPECT_EQ(LinuxSystemFacts::vendorIdentifierForThisMachine("com.example.app"), here);
}

TEST(LinuxSystemFacts, PreferredLanguagesFromLocaleSettings) {
    using Languages = std::vector<std::string>;
    EXPECT_EQ(LinuxSystemFacts::languagesFrom("fr:en_GB:fr_CA", {"", "", "de_DE.UTF-8"}),
              (Languages{"fr", "en", "de"}));
    EXPECT_EQ(LinuxSystemFacts::languagesFrom("", {"C.UTF-8", "", "POSIX"}), Languages{"en"});
    EXPECT_EQ(LinuxSystemFacts::languagesFrom("", {"", "pt_BR", "sr_RS@latin"}),
              (Languages{"pt", "sr"}));
    EXPECT_EQ(LinuxSystemFacts::languagesFrom("::", {"", "", ""}), Languages{"en"});
}

TEST(LinuxPaths, FollowTheXdgRules) {
    EXPECT_EQ(LinuxPaths::cachesDirectory("com.example.app", "/xdg/cache", "/home/u"),
              "/xdg/cache/com.example.app");
    EXPECT_EQ(LinuxPaths::cachesDirectory("com.example.app", std::nullopt, "/home/u"),
              "/home/u/.cache/com.example.app");
    // A relative or empty XDG value is ignored.
    EXPECT_EQ(LinuxPaths::cachesDirectory("app", "relative/cache", "/home/u"),
              "/home/u/.cache/app");
    EXPECT_EQ(LinuxPaths::defaultsDirectory("app", "", "/home/u"), "/home/u/.config/app");
    EXPECT_EQ(LinuxPaths::defaultsDirectory("app", "/xdg/config", "/home/u"), "/xdg/config/app");
    // The identifier cannot leave its folder.
    EXPECT_EQ(LinuxPaths::cachesDirectory("../../etc", std::nullopt, "/home/u"),
              "/home/u/.cache/.._.._etc");
    EXPECT_EQ(LinuxPaths::safeComponent(".."), "application");
    EXPECT_EQ(LinuxPaths::safeComponent(""), "application");
}

TEST(LinuxPaths, MakeDirectoriesCreatesPrivateFolders) {
    LinuxTestTree tree;
    const std::string folder = tree.path("a/b/c");
    ASSERT_TRUE(LinuxPaths::makeDirectories(folder));
    ASSERT_TRUE(LinuxPaths::makeDirectories(folder));  // already there
    for (const std::string& created : {tree.path("a"), tree.path("a/b"), folder}) {
        struct stat info {};
        ASSERT_EQ(stat(created.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0700u) << created;
    }
    tree.write("file", "x");
    EXPECT_FALSE(LinuxPaths::makeDirectories(tree.path("file/below")));
}

TEST(LinuxDeviceConfig, ScreenTextParsesOrIsRefused) {
    Rect bounds(0, 0, 375, 667);
    double scale = 2;
    EXPECT_TRUE(LinuxDeviceConfig::parseScreen("414x896@3", bounds, scale));
    EXPECT_EQ(bounds, Rect(0, 0, 414, 896));
    EXPECT_EQ(scale, 3);
    EXPECT_TRUE(LinuxDeviceConfig::parseScreen("1024x768", bounds, scale));
    EXPECT_EQ(bounds, Rect(0, 0, 1024, 768));
    EXPECT_EQ(scale, 3);  // unchanged without "@"
    for (const char* bad : {"", "x", "100", "100x", "x100", "-5x100", "100x100@0", "100x100@",
                            "axb", "100x100@99", "nanx100", "1e9x100"}) {
        EXPECT_FALSE(LinuxDeviceConfig::parseScreen(bad, bounds, scale)) << bad;
    }
    EXPECT_EQ(bounds, Rect(0, 0, 1024, 768));
}

TEST(LinuxDevice, ReportsConfiguredAndSystemFacts) {
    LinuxTestTree tree;
    LinuxDeviceConfig config;
    config.applicationIdentifier = "com.example.facts";
    config.bundle.displayName = "Facts";
    config.screenBounds = Rect(0, 0, 320, 568);
    config.screenScale = 2;
    config.idiom = UserInterfaceIdiom::Phone;
    config.cachesDirectory = tree.path("caches/app");
    config.defaultsDirectory = tree.path("config/app");
    LinuxDevice device(config);

    EXPECT_EQ(device.machineIdentifier(), LinuxSystemFacts::machineIdentifier());
    EXPECT_EQ(device.systemVersion(), LinuxSystemFacts::systemVersion());
    EXPECT_EQ(device.name(), LinuxSystemFacts::hostName());
    EXPECT_EQ(device.identifierForVendor(),
              LinuxSystemFacts::vendorIdentifierForThisMachine("com.example.facts"));
    EXPECT_EQ(device.screenBounds(), Rect(0, 0, 320, 568));
    EXPECT_EQ(device.screenScale(), 2);
    EXPECT_EQ(device.userInterfaceIdiom(), UserInterfaceIdiom::Phone);
    EXPECT_EQ(device.mainBundle().displayName, "Facts");
    EXPECT_EQ(device.mainBundle().identifier, "com.example.facts");
    EXPECT_EQ(device.mainBundle().executable, LinuxSystemFacts::programName());
    EXPECT_FALSE(device.isFrontCameraAvailable());
    EXPECT_FALSE(device.preferredLanguages().empty());

    EXPECT_EQ(device.cachesDirectory(), tree.path("caches/app"));
    EXPECT_TRUE(std::filesystem::is_directory(tree.path("caches/app")));
    EXPECT_EQ(device.defaultsDirectory(), tree.path("config/app"));
    EXPECT_TRUE(std::filesystem::is_directory(tree.path("config/app")));
}

TEST(LinuxDevice, OrientationIsPortraitOnlyWhileGeneratingAndNests) {
    LinuxTestTree tree;
    LinuxDeviceConfig config;
    config.cachesDirectory = tree.path("c");
    config.defaultsDirectory = tree.path("d");
    LinuxDevice device(config);
    EXPECT_EQ(device.orientation(), DeviceOrientation::Unknown);
    device.beginGeneratingDeviceOrientationNotifications();
    device.beginGeneratingDeviceOrientationNotifications();
    device.endGeneratingDeviceOrientationNotifications();
    EXPECT_TRUE(device.isGeneratingDeviceOrientationNotifications());
    EXPECT_EQ(device.orientation(), DeviceOrientation::Portrait);
    device.endGeneratingDeviceOrientationNotifications();
    device.endGeneratingDeviceOrientationNotifications();  // one too many: harmless
    EXPECT_FALSE(device.isGeneratingDeviceOrientationNotifications());
    EXPECT_EQ(device.orientation(), DeviceOrientation::Unknown);
}

}  // namespace
}  // namespace rivlo::test
