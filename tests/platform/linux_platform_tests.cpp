#include "foundation/UserDefaults.h"
#include "linux_test_files.h"
#include "platform/Platform.h"
#include "platform/linux/LinuxExceptionHandlerSlot.h"
#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/LinuxReachability.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>

namespace rivlo::test {
namespace {

void firstHandler(const ExceptionInfo&) {}
void secondHandler(const ExceptionInfo&) {}

TEST(LinuxExceptionHandlerSlot, GetAndSetTheHandler) {
    auto slot = LinuxExceptionHandlerSlot::shared();
    EXPECT_EQ(slot, LinuxExceptionHandlerSlot::shared());
    UncaughtExceptionHandler before = slot->handler();
    slot->setHandler(firstHandler);
    EXPECT_EQ(slot->handler(), &firstHandler);
    slot->setHandler(secondHandler);
    EXPECT_EQ(slot->handler(), &secondHandler);
    slot->setHandler(before);
    EXPECT_EQ(slot->handler(), before);
}

TEST(LinuxExceptionHandlerSlot, DescribesTheExceptionInFlight) {
    try {
        throw std::out_of_range("index 7 past the end");
    } catch (...) {
        ExceptionInfo info = LinuxExceptionHandlerSlot::currentExceptionInfo();
        EXPECT_EQ(info.name, "std::out_of_range");
        EXPECT_EQ(info.reason, "index 7 past the end");
        EXPECT_FALSE(info.callStackSymbols.empty());
    }
    struct Unusual {};
    try {
        throw Unusual{};
    } catch (...) {
        ExceptionInfo info = LinuxExceptionHandlerSlot::currentExceptionInfo();
        EXPECT_NE(info.name.find("Unusual"), std::string::npos);
        EXPECT_EQ(info.reason, "");
    }
    try {
        throw 3.5;
    } catch (...) {
        EXPECT_EQ(LinuxExceptionHandlerSlot::currentExceptionInfo().name, "double");
    }
    EXPECT_EQ(LinuxExceptionHandlerSlot::currentExceptionInfo().name, "unknown exception");
}

TEST(LinuxPlatform, InstallsItsSeamsAndTheDefaultsFolder) {
    LinuxTestTree tree;
    Platform::current().reset();
    LinuxDeviceConfig config;
    config.applicationIdentifier = "com.example.install";
    config.cachesDirectory = tree.path("cache/com.example.install");
    config.defaultsDirectory = tree.path("config/com.example.install");
    auto device = LinuxPlatform::install(config);

    EXPECT_EQ(Platform::current().device(), device);
    EXPECT_NE(
        std::dynamic_pointer_cast<LinuxReachabilitySource>(Platform::current().reachability()),
        nullptr);
    EXPECT_EQ(Platform::current().exceptionHandler(), LinuxExceptionHandlerSlot::shared());
    EXPECT_EQ(Platform::current().device()->cachesDirectory(),
              tree.path("cache/com.example.install"));

    // The standard defaults now live in the application's defaults folder.
    UserDefaults::standard().set("RivloFramework.runNo", 3);
    ASSERT_TRUE(UserDefaults::standard().synchronize());
    EXPECT_EQ(
        UserDefaults::standard().filePath().rfind(tree.path("config/com.example.install/"), 0), 0u);
    EXPECT_TRUE(std::filesystem::exists(UserDefaults::standard().filePath()));
    Platform::current().reset();
}

TEST(LinuxPlatform, TheApplicationsIdentityIsTheHostsOrTheProgramsOwn) {
    LinuxTestTree tree;
    setenv("XDG_CACHE_HOME", tree.path("cache").c_str(), 1);
    setenv("XDG_CONFIG_HOME", tree.path("config").c_str(), 1);
    for (const char* name : {"RIVLO_APP_ID", "RIVLO_APP_NAME", "RIVLO_APP_VERSION"})
        unsetenv(name);
    Platform::current().reset();

    auto device = LinuxPlatform::install(
        LinuxApplicationIdentity{"com.example.shop", "Example Shop", "2.3.1"});
    BundleInfo bundle = device->mainBundle();
    EXPECT_EQ(bundle.identifier, "com.example.shop");
    EXPECT_EQ(bundle.displayName, "Example Shop");
    EXPECT_EQ(bundle.version, "2.3.1");
    EXPECT_EQ(bundle.shortVersion, "2.3.1");
    EXPECT_EQ(bundle.executable, "test_linux");

    // Nothing stated: the program's name and the default version, never an absent name.
    device = LinuxPlatform::install(LinuxApplicationIdentity{});
    bundle = device->mainBundle();
    EXPECT_EQ(bundle.identifier, "test_linux");
    EXPECT_EQ(bundle.displayName, std::nullopt);
    EXPECT_EQ(bundle.bundleName, "test_linux");
    EXPECT_EQ(bundle.version, LinuxDevice::kDefaultVersion);

    // The environment states it for a host that does not.
    setenv("RIVLO_APP_NAME", "Shop from the environment", 1);
    setenv("RIVLO_APP_VERSION", "4.0", 1);
    bundle =
        LinuxPlatform::install(LinuxApplicationIdentity{"com.example.env", "", ""})->mainBundle();
    EXPECT_EQ(bundle.identifier, "com.example.env");
    EXPECT_EQ(bundle.displayName, "Shop from the environment");
    EXPECT_EQ(bundle.version, "4.0");
    for (const char* name :
         {"RIVLO_APP_NAME", "RIVLO_APP_VERSION", "XDG_CACHE_HOME", "XDG_CONFIG_HOME"})
        unsetenv(name);
    Platform::current().reset();
}

}  // namespace
}  // namespace rivlo::test
