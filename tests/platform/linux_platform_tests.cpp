#include "foundation/UserDefaults.h"
#include "linux_test_files.h"
#include "platform/Platform.h"
#include "platform/linux/LinuxExceptionHandlerSlot.h"
#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/LinuxReachability.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace rivlo::test
