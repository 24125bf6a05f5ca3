// Where the store lives: below the application's own caches folder, so that two programs of
// one account never share (and never clean up or upload) each other's pending items.

#include "StoreTestSupport.h"

#include "crash/ChildProcess.h"
#include "platform/Platform.h"
#include "platform/linux/LinuxPlatform.h"
#include "store/RVPlistHandler.h"
#include "support/LoopbackHTTPServer.h"

#include <cstdlib>
#include <optional>

using namespace rivlo;
using namespace rivlo::test;

namespace {

// Sets an environment variable for the life of the object.
class ScopedEnvironment {
  public:
    ScopedEnvironment(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) previous_ = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnvironment() {
        if (previous_) {
            ::setenv(name_, previous_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }

  private:
    const char* name_;
    std::optional<std::string> previous_;
};

// Installs the Linux platform for an application id, with its folders found as on a real
// account (from XDG_CACHE_HOME and XDG_CONFIG_HOME), and reloads the defaults it names.
void installApplication(const std::string& applicationIdentifier) {
    LinuxDeviceConfig config;
    config.applicationIdentifier = applicationIdentifier;
    LinuxPlatform::install(config);
    UserDefaults::standard().reload();
}

Value movieEntry(const std::string& name) {
    return Value{{"appDeviceId", "device-7"},
                 {"videoDuration", "3"},
                 {"videoName", name},
                 {"videoType", "screen"}};
}

}  // namespace

class StoreRootTest : public StoreTest {
  protected:
    void TearDown() override {
        Platform::current().reset();
        StoreTest::TearDown();
    }
};

TEST_F(StoreRootTest, TwoApplicationsOfOneAccountKeepTwoStores) {
    ScopedEnvironment cache("XDG_CACHE_HOME", (root_ / "account-cache").string());
    ScopedEnvironment config("XDG_CONFIG_HOME", (root_ / "account-config").string());
    RVUtil::setApplicationCachesDirectory("");  // the installed device's folder, as in a host

    installApplication("com.example.first");
    EXPECT_EQ(RVUtil::cachesDirectory(),
              (root_ / "account-cache/com.example.first/com.rivlo.rivlosdk").string());
    writeFile(root_ / "work.mov", "first application's movie");
    const std::string stored = RVPlistHandler::sharedHandler()->addSreenVideoEntry(
        movieEntry("first.mp4"), (root_ / "work.mov").string());
    const fs::path firstMovie = folder("/RVScreenVideos") / stored;
    ASSERT_EQ(readFile(firstMovie), "first application's movie");

    // The second application lists nothing: its clean-up empties its own folders only.
    installApplication("com.example.second");
    EXPECT_EQ(RVUtil::cachesDirectory(),
              (root_ / "account-cache/com.example.second/com.rivlo.rivlosdk").string());
    EXPECT_TRUE(RVPlistHandler::sharedHandler()->screenVideoEntries().empty());
    RVPlistHandler::sharedHandler()->cleanupData();
    EXPECT_EQ(readFile(firstMovie), "first application's movie");

    installApplication("com.example.first");
    const auto entries = RVPlistHandler::sharedHandler()->screenVideoEntries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(PropertyList::text(entries[0], "videoName"), stored);
    EXPECT_FALSE(fs::exists(root_ / "account-cache/com.rivlo.rivlosdk"));
}

#ifdef RIVLO_HOST_EXAMPLE
// The example host installs the Linux platform under its application id: its store is below
// that id, and a session document it could not upload waits there.
TEST(HostExampleStore, LivesBelowItsOwnApplicationId) {
    LoopbackHTTPServer service;
    service.route("POST", "/webservices/v2/verifyapp",
                  ScriptedResponse::json(200, R"({"verify_status":true,"app_device_id":"apd-h",)"
                                              R"("latest_run":1,"video_record":false})"));
    service.route("POST", "/webservices/v2/uploaddata", ScriptedResponse::text(500, "busy"));
    TempDir home;
    const ChildExit exit =
        runChild(RIVLO_HOST_EXAMPLE, {"host-key", "0.5"},
                 {"RIVLO_SERVICE_URL=" + service.baseURL(), "XDG_CACHE_HOME=" + home.file("cache"),
                  "XDG_CONFIG_HOME=" + home.file("config")},
                 120);
    ASSERT_TRUE(exit.started);
    ASSERT_EQ(exit.exitCode, 0);
    const fs::path data =
        fs::path(home.file("cache")) / "com.example.rivlo-host" / "com.rivlo.rivlosdk" / "RVData";
    size_t documents = 0;
    std::error_code ec;
    for (fs::directory_iterator it(data, ec), end; !ec && it != end; it.increment(ec))
        documents += it->path().extension() == ".txt";
    EXPECT_EQ(documents, 1u);
    EXPECT_FALSE(fs::exists(fs::path(home.file("cache")) / "com.rivlo.rivlosdk"));
}
#endif
