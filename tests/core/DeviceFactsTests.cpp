// Device and application facts, reachability and the upload allowance over real platform
// sources: the headless device (scripted network) and the Linux defaults (the kernel's routes
// and links, read from a folder tree of our own).

#include "core/RVServiceConfig.h"
#include "core/RVSetting.h"
#include "core/RVUtil.h"
#include "core/RivloReachability.h"
#include "foundation/NotificationCenter.h"
#include "foundation/RunLoop.h"
#include "foundation/URL.h"
#include "http/RVAFHTTPClient.h"
#include "platform/Platform.h"
#include "platform/headless/HeadlessPlatform.h"
#include "platform/linux/LinuxDevice.h"
#include "platform/linux/LinuxReachability.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace rivlo {
namespace {

namespace fs = std::filesystem;

std::string temporaryDirectory(const char* tag) {
    std::string pattern = std::string("/tmp/rivlo-core-") + tag + "-XXXXXX";
    return mkdtemp(pattern.data());
}

std::shared_ptr<HeadlessPlatform> installDevice(HeadlessProfile profile = {}) {
    RunLoop::main().setMainThread();
    if (profile.sandboxDirectory.empty()) profile.sandboxDirectory = temporaryDirectory("device");
    return HeadlessPlatform::install(std::move(profile));
}

TEST(DeviceFacts, ComeFromTheDevice) {
    HeadlessProfile profile;
    profile.machineIdentifier = "iPad3,5";
    profile.idiom = UserInterfaceIdiom::Pad;
    profile.screenScale = 2.0;
    profile.systemVersion = "10.2";
    auto device = installDevice(profile);
    EXPECT_EQ(RVUtil::deviceModel(), "iPad3,5");
    EXPECT_EQ(RVUtil::devicePlatform(), "iPad 4");
    EXPECT_EQ(RVUtil::deviceType(), "iPad");
    EXPECT_EQ(RVUtil::resolution(), "264");
    EXPECT_EQ(RVUtil::currentVersion(), "10.2");
    EXPECT_EQ(RVUtil::vendorIdentifier(), "6B29FC40-CA47-1067-B31D-00DD010662DA");
    EXPECT_TRUE(RVUtil::sharedHandler()->isCameraAvailable());
    device->device().setFrontCameraAvailable(false);
    EXPECT_FALSE(RVUtil::sharedHandler()->isCameraAvailable());
}

TEST(DeviceFacts, ResolutionByIdiom) {
    HeadlessProfile profile;
    profile.screenScale = 3.0;
    profile.idiom = UserInterfaceIdiom::Phone;
    {
        auto device = installDevice(profile);
        EXPECT_EQ(RVUtil::resolution(), "489");
        EXPECT_EQ(RVUtil::deviceType(), "iPhone");
    }
    profile.screenScale = 1.0;
    profile.idiom = UserInterfaceIdiom::Unspecified;
    {
        auto device = installDevice(profile);
        EXPECT_EQ(RVUtil::resolution(), "163");
    }
    profile.idiom = 2;  // any other idiom (a television, say)
    {
        auto device = installDevice(profile);
        EXPECT_EQ(RVUtil::resolution(), "160");
        EXPECT_EQ(RVUtil::deviceType(), "iPhone");
    }
}

TEST(DeviceFacts, AppNameFallsBackToBundleNameThenPlaceholder) {
    HeadlessProfile profile;
    {
        auto device = installDevice(profile);
        EXPECT_EQ(RVUtil::appName(), "Headless Demo");
    }
    profile.bundle.displayName.reset();
    {
        auto device = installDevice(profile);
        EXPECT_EQ(RVUtil::appName(), "HeadlessDemo");
    }
    profile.bundle.bundleName.reset();
    {
        auto device = installDevice(profile);
        EXPECT_EQ(RVUtil::appName(), "<UnknownAppName>");
    }
    // An empty display name is still a name.
    profile.bundle.displayName = "";
    {
        auto device = installDevice(profile);
        EXPECT_EQ(RVUtil::appName(), "");
    }
}

TEST(DeviceFacts, TheMinimumSystemVersionAppliesToAMobileSystemOnly) {
    HeadlessProfile profile;
    for (const char* version : {"6.1.4", "6.9.9"}) {
        profile.systemVersion = version;
        auto device = installDevice(profile);
        EXPECT_FALSE(RVUtil::isSupportedSystemVersion("7.0")) << version;
    }
    for (const char* version : {"7.0", "7", "7.0.3", "7.1", "10.2"}) {
        profile.systemVersion = version;
        auto device = installDevice(profile);
        EXPECT_TRUE(RVUtil::isSupportedSystemVersion("7.0")) << version;
    }
    // Linux reports a distribution's or a kernel's release: Alpine 3.x, Amazon Linux 2, Arch's
    // kernel 6.x all start.
    const std::string folder = temporaryDirectory("linux-version");
    for (const char* version : {"3.18", "2", "6.8.1-arch1-1"}) {
        LinuxDeviceConfig config;
        config.applicationIdentifier = "rivlo-version-test";
        config.systemVersion = version;
        config.cachesDirectory = folder + "/caches";
        config.defaultsDirectory = folder + "/config";
        PlatformServices services;
        services.device = std::make_shared<LinuxDevice>(config);
        Platform::current().install(services);
        EXPECT_EQ(RVUtil::currentVersion(), version);
        EXPECT_TRUE(RVUtil::isSupportedSystemVersion("7.0")) << version;
    }
    Platform::current().reset();
    EXPECT_FALSE(RVUtil::isSupportedSystemVersion("7.0"));  // no device: nothing starts
    fs::remove_all(folder);
}

TEST(DeviceFacts, OnLinuxTheServiceSeesTheApplicationsNameAndVersion) {
    const std::string folder = temporaryDirectory("linux-identity");
    LinuxDeviceConfig config;
    config.applicationIdentifier = "com.example.identity";
    config.cachesDirectory = folder + "/caches";
    config.defaultsDirectory = folder + "/config";
    PlatformServices services;
    services.device = std::make_shared<LinuxDevice>(config);
    Platform::current().install(services);
    // No name stated: the program's, not a placeholder; the version is never empty.
    EXPECT_EQ(RVUtil::appName(), "test_core");
    auto client = RVAFHTTPClient::clientWithBaseURL(*URL::parse("http://127.0.0.1:9/"));
    EXPECT_EQ(client->defaultValueForHeader("User-Agent").value_or("").rfind("test_core/1.0 (", 0),
              0u)
        << client->defaultValueForHeader("User-Agent").value_or("");

    config.bundle.displayName = "Example Shop";
    config.bundle.version = "2.3.1";
    services.device = std::make_shared<LinuxDevice>(config);
    Platform::current().install(services);
    EXPECT_EQ(RVUtil::appName(), "Example Shop");
    client = RVAFHTTPClient::clientWithBaseURL(*URL::parse("http://127.0.0.1:9/"));
    EXPECT_EQ(
        client->defaultValueForHeader("User-Agent").value_or("").rfind("test_core/2.3.1 (", 0), 0u);
    client.reset();
    Platform::current().reset();
    fs::remove_all(folder);
}

TEST(DeviceFacts, AliasFallsBackToTheDeviceName) {
    HeadlessProfile profile;
    profile.deviceName = "Ada's phone";
    auto device = installDevice(profile);
    RVUtil::tagUserName("", {});
    EXPECT_EQ(RVUtil::aliasName(), "Ada's phone");
    RVUtil::tagUserName("ada", std::string("extra"));
    EXPECT_EQ(RVUtil::aliasName(), "ada");
    RVUtil::tagUserName("", {});
    EXPECT_EQ(RVUtil::aliasName(), "Ada's phone");
}

TEST(DeviceFacts, OrientationFollowsTheStatusBar) {
    auto device = installDevice();
    auto& application = device->application();
    application.setStatusBarOrientation(InterfaceOrientation::LandscapeLeft);
    EXPECT_EQ(RVUtil::orientation(), 2);
    EXPECT_EQ(RVUtil::webViewOrientaion(), 0);
    application.setStatusBarOrientation(InterfaceOrientation::PortraitUpsideDown);
    EXPECT_EQ(RVUtil::orientation(), 3);
    EXPECT_EQ(RVUtil::webViewOrientaion(), 1);
    application.setStatusBarOrientation(InterfaceOrientation::LandscapeRight);
    EXPECT_EQ(RVUtil::orientation(), 0);
}

TEST(DeviceFacts, WithoutAPlatformEverythingHasASafeDefault) {
    Platform::current().reset();
    EXPECT_EQ(RVUtil::currentVersion(), "");
    EXPECT_EQ(RVUtil::appName(), "<UnknownAppName>");
    EXPECT_EQ(RVUtil::deviceType(), "iPhone");
    EXPECT_EQ(RVUtil::resolution(), "0");
    EXPECT_EQ(RVUtil::orientation(), 1);
    EXPECT_FALSE(RVUtil::deviceModel().empty());  // uname still answers
    EXPECT_FALSE(RVUtil::isNetworkAvailable());
    EXPECT_EQ(RivloReachability::reachabilityForInternetConnection(), nullptr);
}

// ---- Reachability and allowance on the headless device's scripted network ------------------

TEST(Allowance, HeadlessNetworkStatusesReachTheSettingsRecord) {
    auto device = installDevice();
    RVUtil::resetSetting();
    auto setting = RVUtil::setting();
    auto& network = device->reachability();

    network.setStatus(NetworkStatus::WiFi);
    EXPECT_TRUE(RVUtil::isNetworkAvailable());
    EXPECT_EQ(setting->remoteHostStatus(), ReachableViaWiFi);
    EXPECT_TRUE(setting->isRecentlyNetworkAvailable());
    EXPECT_TRUE(RVUtil::canSendData(int64_t{5} << 30));  // Wi-Fi: sizes do not matter

    network.setStatus(NetworkStatus::Cellular);
    EXPECT_TRUE(RVUtil::isNetworkAvailable());
    EXPECT_EQ(setting->remoteHostStatus(), ReachableViaWWAN);
    EXPECT_FALSE(RVUtil::canSendData(1));  // default record: no cellular allowance

    network.setStatus(NetworkStatus::None);
    EXPECT_FALSE(RVUtil::isNetworkAvailable());
    EXPECT_EQ(setting->remoteHostStatus(), NotReachable);
    EXPECT_FALSE(setting->isRecentlyNetworkAvailable());

    network.setStatus(NetworkStatus::WiFi);
    network.setFlagsUnreadable(true);
    EXPECT_FALSE(RVUtil::isNetworkAvailable());
    network.setFlagsUnreadable(false);
    network.setRefusing(true);
    EXPECT_FALSE(RVUtil::isNetworkAvailable());
    network.setRefusing(false);
    EXPECT_TRUE(RVUtil::isNetworkAvailable());
}

TEST(Allowance, OneMegabyteOverCellularThenNothing) {
    auto device = installDevice();
    device->reachability().setStatus(NetworkStatus::Cellular);
    RVUtil::saveSettingData(Value::parse(R"({"g_status": true, "g_data_size": 1})"));
    // The way every uploader asks: the network check, then each item in turn.
    ASSERT_TRUE(RVUtil::isNetworkAvailable());
    ASSERT_TRUE(RVUtil::canSendData(1048575));
    RVUtil::setting()->updateDataSent(1048575);
    EXPECT_FALSE(RVUtil::canSendData(1));
    EXPECT_FALSE(RVUtil::canSendData(1048575));

    // A new record (a new session) starts counting afresh.
    RVUtil::saveSettingData(Value::parse(R"({"g_status": true, "g_data_size": 1})"));
    ASSERT_TRUE(RVUtil::isNetworkAvailable());
    EXPECT_TRUE(RVUtil::canSendData(1));

    // Cellular uploads not enabled: nothing goes.
    RVUtil::saveSettingData(Value::parse(R"({"g_status": false, "g_data_size": 10})"));
    ASSERT_TRUE(RVUtil::isNetworkAvailable());
    EXPECT_FALSE(RVUtil::canSendData(1));
    RVUtil::resetSetting();
}

TEST(Allowance, StartedMonitorPostsChanges) {
    auto device = installDevice();
    device->reachability().setStatus(NetworkStatus::WiFi);
    auto monitor = RivloReachability::reachabilityForInternetConnection();
    ASSERT_TRUE(monitor);
    std::atomic<int> changes{0};
    const void* sender = nullptr;
    auto token = NotificationCenter::defaultCenter().addObserver(
        kNetworkReachabilityChangedNotification, nullptr, [&](const Notification& n) {
            sender = n.object;
            ++changes;
        });
    ASSERT_TRUE(monitor->startNotifier());
    device->reachability().setStatus(NetworkStatus::Cellular);
    EXPECT_TRUE(RunLoop::main().runUntil([&] { return changes.load() > 0; }, 5.0));
    EXPECT_EQ(sender, monitor.get());
    EXPECT_EQ(monitor->currentReachabilityStatus(), ReachableViaWWAN);

    // Once dropped, a monitor posts nothing more.
    monitor.reset();
    const int seen = changes.load();
    device->reachability().setStatus(NetworkStatus::None);
    RunLoop::main().runPending();
    EXPECT_EQ(changes.load(), seen);
    NotificationCenter::defaultCenter().removeObserver(token);
}

// ---- The Linux defaults ---------------------------------------------------------------------

// A kernel view with one link carrying the default route.
class KernelTree {
  public:
    KernelTree() : root_(temporaryDirectory("kernel")) {}
    ~KernelTree() {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    LinuxNetworkPaths paths() const { return {root_ + "/proc", root_ + "/sys"}; }
    // type 1 is Ethernet, 519 a cellular modem (raw IP).
    void defaultRouteOver(const std::string& name, int type) {
        write("sys/class/net/" + name + "/flags", "0x1003\n");
        write("sys/class/net/" + name + "/operstate", "up\n");
        write("sys/class/net/" + name + "/type", std::to_string(type) + "\n");
        write("sys/class/net/" + name + "/uevent", "INTERFACE=" + name + "\n");
        write("proc/net/route",
              "Iface\tDestination\tGateway "
              "\tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n" +
                  name + "\t00000000\t010200C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n");
    }
    void noRoutes() { write("proc/net/route", ""); }

  private:
    void write(const std::string& relative, const std::string& text) {
        const fs::path path = fs::path(root_) / relative;
        fs::create_directories(path.parent_path());
        std::ofstream(path) << text;
    }
    std::string root_;
};

TEST(Allowance, LinuxDefaultsTellWiredFromCellular) {
    RunLoop::main().setMainThread();
    KernelTree kernel;
    PlatformServices services;
    services.reachability = std::make_shared<LinuxReachabilitySource>(kernel.paths(), 60.0);
    Platform::current().install(services);
    RVUtil::saveSettingData(Value::parse(R"({"g_status": true, "g_data_size": 2})"));
    auto setting = RVUtil::setting();

    kernel.defaultRouteOver("eth0", 1);
    EXPECT_TRUE(RVUtil::isNetworkAvailable());
    EXPECT_EQ(setting->remoteHostStatus(), ReachableViaWiFi);
    EXPECT_TRUE(RVUtil::canSendData(int64_t{3} << 20));

    kernel.defaultRouteOver("wwan0", 519);
    EXPECT_TRUE(RVUtil::isNetworkAvailable());
    EXPECT_EQ(setting->remoteHostStatus(), ReachableViaWWAN);
    EXPECT_FALSE(RVUtil::canSendData(int64_t{3} << 20));
    EXPECT_TRUE(RVUtil::canSendData(int64_t{1} << 20));

    kernel.noRoutes();
    EXPECT_FALSE(RVUtil::isNetworkAvailable());
    EXPECT_EQ(setting->remoteHostStatus(), NotReachable);
    EXPECT_FALSE(RVUtil::canSendData(0));
    RVUtil::resetSetting();
    Platform::current().reset();
}

// ---- The service base URL --------------------------------------------------------------------

TEST(ServiceURL, FixedHttpsDefaultReplacedByTheEnvironment) {
    unsetenv("RIVLO_SERVICE_URL");
    EXPECT_EQ(RVServiceConfig::serviceBaseURL(), RVServiceConfig::kDefaultBaseURL);
    EXPECT_EQ(std::string(RVServiceConfig::kDefaultBaseURL).rfind("https://", 0), 0u);

    setenv("RIVLO_SERVICE_URL", "https://collector.example:8443/base", 1);
    EXPECT_EQ(RVServiceConfig::serviceBaseURL(), "https://collector.example:8443/base/");
    setenv("RIVLO_SERVICE_URL", "http://127.0.0.1:8080", 1);
    EXPECT_EQ(RVServiceConfig::serviceBaseURL(), "http://127.0.0.1:8080/");
    setenv("RIVLO_SERVICE_URL", "http://localhost:9/", 1);
    EXPECT_EQ(RVServiceConfig::serviceBaseURL(), "http://localhost:9/");
    // Plain http elsewhere, other schemes and non-URLs are refused for the default.
    for (const char* bad : {"http://collector.example/", "http://127.0.0.1.evil.example/",
                            "ftp://127.0.0.1/", "not a url", "https://"}) {
        setenv("RIVLO_SERVICE_URL", bad, 1);
        EXPECT_EQ(RVServiceConfig::serviceBaseURL(), RVServiceConfig::kDefaultBaseURL) << bad;
    }
    unsetenv("RIVLO_SERVICE_URL");

    EXPECT_TRUE(RVServiceConfig::isLoopbackHost("127.0.0.1"));
    EXPECT_TRUE(RVServiceConfig::isLoopbackHost("127.1.2.3"));
    EXPECT_TRUE(RVServiceConfig::isLoopbackHost("LOCALHOST"));
    EXPECT_TRUE(RVServiceConfig::isLoopbackHost("[::1]"));
    EXPECT_FALSE(RVServiceConfig::isLoopbackHost("127.0.0.1.nip.io"));
    EXPECT_FALSE(RVServiceConfig::isLoopbackHost("10.0.0.1"));
}

TEST(ServiceURL, CertificateBundleMustBeReadable) {
    unsetenv("RIVLO_CA_FILE");
    EXPECT_FALSE(RVServiceConfig::caFile());
    const std::string dir = temporaryDirectory("ca");
    const std::string bundle = dir + "/bundle.pem";
    std::ofstream(bundle) << "-----BEGIN CERTIFICATE-----\n";
    setenv("RIVLO_CA_FILE", bundle.c_str(), 1);
    EXPECT_EQ(RVServiceConfig::caFile(), bundle);
    setenv("RIVLO_CA_FILE", (dir + "/missing.pem").c_str(), 1);
    EXPECT_FALSE(RVServiceConfig::caFile());
    unsetenv("RIVLO_CA_FILE");
    fs::remove_all(dir);
}

}  // namespace
}  // namespace rivlo
