#include "core/RVUtil.h"

#include "core/RVSessionSteps.h"
#include "core/RVSetting.h"
#include "core/RivloReachability.h"
#include "foundation/Clock.h"
#include "foundation/Log.h"
#include "foundation/SharedInstance.h"
#include "foundation/UserDefaults.h"
#include "platform/Application.h"
#include "platform/Device.h"
#include "platform/Platform.h"
#include "platform/Runtime.h"
#include "protocol/RVWireProtocol.h"
#include "store/RVStorePaths.h"
#include "store/RVStoreSession.h"

#include <sys/utsname.h>

#include <algorithm>
#include <cctype>
#include <cerrno>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <string_view>

namespace rivlo {

RVUtil* RVUtil::sharedHandler() {
    static SharedInstance<RVUtil> instance;
    return &instance.get([] { return new RVUtil; });
}

// Identity, session clock, stamps and folders are the store's: it names its files and fills its
// documents with them, and sits below this layer.

void RVUtil::appDeviceId(const std::string& identifier) {
    RVStoreSession::appDeviceId(identifier);
}

std::string RVUtil::appDeviceId() {
    return RVStoreSession::appDeviceId();
}

void RVUtil::isInfoPostSuccess(bool posted) {
    RVStoreSession::isInfoPostSuccess(posted);
}

bool RVUtil::isInfoPostSuccess() {
    return RVStoreSession::isInfoPostSuccess();
}

std::string RVUtil::deviceRunNo() {
    return format("%ld", static_cast<long>(sharedHandler()->count()));
}

void RVUtil::startApplicationTimer() {
    RVStoreSession::startApplicationTimer();
}

std::string RVUtil::applicationTotalTime() const {
    return RVStoreSession::applicationTotalTime();
}

std::string RVUtil::currentDate() const {
    // The calendar year, not the week-based one: a week-based year shows the next year for
    // the last days of December.
    const auto seconds = static_cast<time_t>(std::floor(Clock::now()));
    struct tm local {};
    localtime_r(&seconds, &local);
    char buffer[64];
    const size_t length = strftime(buffer, sizeof buffer, "%Y-%m-%d %I:%M:%S %p", &local);
    return std::string(buffer, length);
}

std::string RVUtil::dateForFile() {
    return RVStorePaths::dateForFile();
}

std::string RVUtil::dateForFile(const std::function<bool(const std::string&)>& isTaken) {
    return RVStorePaths::dateForFile(isTaken);
}

std::string RVUtil::dateForFile(const std::string& folderName, const std::string& prefix,
                                const std::string& suffix) {
    return RVStorePaths::dateForFile(folderName, prefix, suffix);
}

void RVUtil::setApplicationCachesDirectory(const std::string& directory) {
    RVStorePaths::setApplicationCachesDirectory(directory);
}

std::string RVUtil::applicationCachesDirectory() {
    return RVStorePaths::applicationCachesDirectory();
}

std::string RVUtil::cachesDirectory() {
    return RVStorePaths::cachesDirectory();
}

std::string RVUtil::folderPath(const std::string& name) {
    return RVStorePaths::folderPath(name);
}

// ---- Session values --------------------------------------------------------------------------

namespace {

std::mutex gSessionMutex;  // guards the texts below and the current settings record
std::string gApplicationKey;
std::string gTheme;
std::string gAliasName;
std::shared_ptr<RVSetting> gSetting;
std::atomic<bool> gAppLoadingFirstTime{true};
std::mutex gRunNumberMutex;  // serialises the read-modify-write of the stored run number

std::shared_ptr<RVSetting> currentSettingIfAny() {
    std::lock_guard<std::mutex> lock(gSessionMutex);
    return gSetting;
}

// The UTF-8 forms of the white space the platform trims besides space and tab (the Unicode
// space separators); line breaks are not white space here.
constexpr const char* kWideSpaces[] = {
    "\xC2\xA0",     "\xE1\x9A\x80", "\xE2\x80\x80", "\xE2\x80\x81", "\xE2\x80\x82", "\xE2\x80\x83",
    "\xE2\x80\x84", "\xE2\x80\x85", "\xE2\x80\x86", "\xE2\x80\x87", "\xE2\x80\x88", "\xE2\x80\x89",
    "\xE2\x80\x8A", "\xE2\x80\xAF", "\xE2\x81\x9F", "\xE3\x80\x80",
};

size_t whitespaceAt(const std::string& text, size_t at) {
    if (at >= text.size()) return 0;
    if (text[at] == ' ' || text[at] == '\t') return 1;
    for (const char* space : kWideSpaces) {
        const size_t length = std::char_traits<char>::length(space);
        if (text.compare(at, length, space) == 0) return length;
    }
    return 0;
}

size_t whitespaceBefore(const std::string& text, size_t end) {
    if (end == 0) return 0;
    if (text[end - 1] == ' ' || text[end - 1] == '\t') return 1;
    for (const char* space : kWideSpaces) {
        const size_t length = std::char_traits<char>::length(space);
        if (end >= length && text.compare(end - length, length, space) == 0) return length;
    }
    return 0;
}

}  // namespace

void RVUtil::forgetSession() {
    std::shared_ptr<RVSetting> previous;
    {
        std::lock_guard<std::mutex> lock(gSessionMutex);
        gApplicationKey.clear();
        gTheme.clear();
        gAliasName.clear();
        previous = std::move(gSetting);
        gSetting = nullptr;
    }
    gAppLoadingFirstTime.store(true);
    RVStoreSession::forget();
}

void RVUtil::applicationKey(const std::string& key) {
    std::lock_guard<std::mutex> lock(gSessionMutex);
    gApplicationKey = key;
}

std::string RVUtil::applicationKey() {
    std::lock_guard<std::mutex> lock(gSessionMutex);
    return gApplicationKey;
}

void RVUtil::theme(const std::string& theme) {
    std::lock_guard<std::mutex> lock(gSessionMutex);
    gTheme = theme;
}

std::string RVUtil::theme() {
    std::lock_guard<std::mutex> lock(gSessionMutex);
    return gTheme;
}

void RVUtil::tagUserName(const std::string& name, const std::any&) {
    std::lock_guard<std::mutex> lock(gSessionMutex);
    gAliasName = name;
}

std::string RVUtil::aliasName() {
    std::string alias;
    {
        std::lock_guard<std::mutex> lock(gSessionMutex);
        alias = gAliasName;
    }
    if (!alias.empty()) return alias;
    auto device = Platform::current().device();
    return device ? device->name() : std::string();
}

void RVUtil::isAppLoadingFirstTime(bool first) {
    gAppLoadingFirstTime.store(first);
}

bool RVUtil::isAppLoadingFirstTime() {
    return gAppLoadingFirstTime.load();
}

void RVUtil::updateRunNumber() {
    int64_t next = 0;
    {
        std::lock_guard<std::mutex> lock(gRunNumberMutex);
        auto& defaults = UserDefaults::standard();
        next = defaults.integer(kRunNumberKey) + 1;
        defaults.set(kRunNumberKey, next);
        defaults.synchronize();
    }
    sharedHandler()->setCount(next);
}

void RVUtil::saveLatestRunNo(int64_t latestRun) {
    int64_t count = latestRun;
    {
        std::lock_guard<std::mutex> lock(gRunNumberMutex);
        auto& defaults = UserDefaults::standard();
        if (defaults.integer(kRunNumberKey) != latestRun) {
            // The service's figure wins whenever the two differ.
            count = latestRun + 1;
            defaults.set(kRunNumberKey, count);
            defaults.synchronize();
        }
    }
    sharedHandler()->setCount(count);
}

// ---- Settings and upload allowance -------------------------------------------------------------

void RVUtil::saveSettingData(const Value& settings) {
    auto record = std::make_shared<RVSetting>(settings);
    std::shared_ptr<RVSetting> previous;
    {
        std::lock_guard<std::mutex> lock(gSessionMutex);
        previous = std::exchange(gSetting, std::move(record));
    }
}

std::shared_ptr<RVSetting> RVUtil::setting() {
    if (auto current = currentSettingIfAny()) return current;
    // Built outside the lock (it asks the platform for the key window and the store root).
    auto fresh = std::make_shared<RVSetting>();
    std::lock_guard<std::mutex> lock(gSessionMutex);
    if (!gSetting) gSetting = std::move(fresh);
    return gSetting;
}

void RVUtil::resetSetting() {
    runStep(RVSessionSteps::screenRecorder().resetSensitiveViews);
    resetSettingKeepingSensitiveViews();
}

void RVUtil::resetSettingKeepingSensitiveViews() {
    isInfoPostSuccess(false);
    std::shared_ptr<RVSetting> previous;
    {
        std::lock_guard<std::mutex> lock(gSessionMutex);
        previous = std::move(gSetting);
        gSetting = nullptr;
    }
}

bool RVUtil::isNetworkAvailable() {
    RVNetworkStatus status = NotReachable;
    if (auto monitor = RivloReachability::reachabilityForInternetConnection()) {
        monitor->startNotifier();
        status = monitor->currentReachabilityStatus();
    }
    const bool available = status == ReachableViaWiFi || status == ReachableViaWWAN;
    if (auto record = currentSettingIfAny()) {
        record->setIsRecentlyNetworkAvailable(available);
        record->setRemoteHostStatus(status);
    }
    return available;
}

bool RVUtil::canSendData(int64_t size) {
    auto record = currentSettingIfAny();
    if (!record) return true;
    switch (record->remoteHostStatus()) {
        case NotReachable:
            return false;
        case ReachableViaWiFi:
            return true;
        case ReachableViaWWAN: {
            // A sum past the 64-bit range must not wrap round into "allowed".
            int64_t wanted = 0;
            if (__builtin_add_overflow(record->totalDataSent(), size, &wanted)) return size < 0;
            return record->threeGDataSize() > wanted;
        }
        default:
            return false;
    }
}

// ---- Device and application facts --------------------------------------------------------------

bool RVUtil::isCameraAvailable() const {
    auto device = Platform::current().device();
    return device && device->hasVideoCaptureDevice() && device->isFrontCameraAvailable();
}

std::string RVUtil::deviceModel() {
    if (auto device = Platform::current().device()) return device->machineIdentifier();
    struct utsname name {};
    if (uname(&name) != 0) return "";
    return name.machine;
}

std::string RVUtil::devicePlatformForModel(const std::string& machine) {
    static const std::pair<const char*, const char*> kModels[] = {
        {"iPhone1,1", "iPhone"},      {"iPhone1,2", "iPhone 3G"},     {"iPhone2,1", "iPhone 3GS"},
        {"iPhone3,1", "iPhone 4"},    {"iPhone3,2", "iPhone 4"},      {"iPhone3,3", "iPhone 4"},
        {"iPhone4,1", "iPhone 4S"},   {"iPhone5,1", "iPhone 5"},      {"iPhone5,2", "iPhone 5"},
        {"iPhone5,3", "iPhone 5c"},   {"iPhone5,4", "iPhone 5c"},     {"iPhone6,1", "iPhone 5s"},
        {"iPhone6,2", "iPhone 5s"},   {"iPhone7,1", "iPhone 6 Plus"}, {"iPhone7,2", "iPhone 6"},
        {"iPod1,1", "iPod Touch 1G"}, {"iPod2,1", "iPod Touch 2G"},   {"iPod3,1", "iPod Touch 3G"},
        {"iPod4,1", "iPod Touch 4G"}, {"iPod5,1", "iPod Touch 5G"},   {"iPad1,1", "iPad"},
        {"iPad2,1", "iPad 2"},        {"iPad2,2", "iPad 2"},          {"iPad2,3", "iPad 2"},
        {"iPad2,4", "iPad 2"},        {"iPad3,1", "iPad 3"},          {"iPad3,2", "iPad 3"},
        {"iPad3,3", "iPad 3"},        {"iPad3,4", "iPad 4"},          {"iPad3,5", "iPad 4"},
        {"iPad3,6", "iPad 4"},        {"iPad4,1", "iPad Air"},        {"iPad4,2", "iPad Air"},
        {"iPad4,3", "iPad Air"},      {"iPad2,5", "iPad Mini"},       {"iPad2,6", "iPad Mini"},
        {"iPad2,7", "iPad Mini"},     {"iPad4,4", "iPad Mini"},       {"iPad4,5", "iPad Mini"},
        {"iPad4,6", "iPad Mini"},     {"i386", "Simulator"},          {"x86_64", "Simulator"},
    };
    for (const auto& [identifier, name] : kModels) {
        if (machine == identifier) return name;
    }
    return machine;
}

std::string RVUtil::devicePlatform() {
    return devicePlatformForModel(deviceModel());
}

std::string RVUtil::deviceType() {
    auto device = Platform::current().device();
    return device && device->userInterfaceIdiom() == UserInterfaceIdiom::Pad ? "iPad" : "iPhone";
}

std::string RVUtil::currentVersion() {
    auto device = Platform::current().device();
    return device ? device->systemVersion() : std::string();
}

bool RVUtil::isSupportedSystemVersion(const std::string& minimum) {
    auto device = Platform::current().device();
    if (device && !device->isMobileSystemVersion()) return true;
    return compareVersions(device ? device->systemVersion() : std::string(), minimum) >= 0;
}

std::string RVUtil::vendorIdentifier() {
    auto device = Platform::current().device();
    return device ? device->identifierForVendor() : std::string();
}

std::string RVUtil::appName() {
    auto device = Platform::current().device();
    if (!device) return "<UnknownAppName>";
    const BundleInfo bundle = device->mainBundle();
    if (bundle.displayName) return *bundle.displayName;
    if (bundle.bundleName) return *bundle.bundleName;
    return "<UnknownAppName>";
}

std::string RVUtil::resolution() {
    auto device = Platform::current().device();
    if (!device) return "0";
    const int idiom = device->userInterfaceIdiom();
    double density = 163;
    if (idiom == UserInterfaceIdiom::Pad) {
        density = 132;
    } else if (idiom != UserInterfaceIdiom::Phone && idiom != UserInterfaceIdiom::Unspecified) {
        density = 160;
    }
    const double value = device->screenScale() * density;
    if (!std::isfinite(value) || value < 0 || value > 1e9) return "0";
    return format("%d", static_cast<int>(value));
}

int32_t RVUtil::orientationForStatusBar(int statusBarOrientation) {
    switch (statusBarOrientation) {
        case InterfaceOrientation::Portrait:
            return 1;
        case InterfaceOrientation::PortraitUpsideDown:
            return 3;
        case InterfaceOrientation::LandscapeRight:
            return 0;
        case InterfaceOrientation::LandscapeLeft:
            return 2;
        default:
            return 1;
    }
}

int32_t RVUtil::orientation() {
    auto application = Platform::current().application();
    return orientationForStatusBar(application ? application->statusBarOrientation() : 0);
}

int32_t RVUtil::webViewOrientaionForStatusBar(int statusBarOrientation) {
    return statusBarOrientation == InterfaceOrientation::Portrait ||
                   statusBarOrientation == InterfaceOrientation::PortraitUpsideDown
               ? 1
               : 0;
}

int32_t RVUtil::webViewOrientaion() {
    auto application = Platform::current().application();
    return webViewOrientaionForStatusBar(application ? application->statusBarOrientation() : 0);
}

std::optional<Image> RVUtil::cropImage(const Image& image, const Rect& rect) {
    return image.cropped(rect);
}

void RVUtil::SafeExchange(ObjClass* cls, const std::string& a, const std::string& b) {
    if (!cls) {
        RVLog("Rivlo: SafeExchange: no class for %s", a.c_str());
        return;
    }
    MethodRef original = cls->instanceMethod(a);
    MethodRef replacement = cls->instanceMethod(b);
    if (!original || !replacement) {
        RVLog("Rivlo: SafeExchange: %s has no method %s", cls->name().c_str(),
              (original ? b : a).c_str());
        return;
    }
    const IMP originalImp = original->implementation();
    if (cls->addMethod(a, replacement->implementation())) {
        // a was inherited: the class now has its own a (the hook), and b calls what a was.
        cls->replaceMethod(b, originalImp);
    } else {
        ObjClass::exchangeImplementations(original, replacement);
    }
}

// ---- Helpers -----------------------------------------------------------------------------------

int RVUtil::compareVersions(const std::string& a, const std::string& b) {
    size_t i = 0;
    size_t j = 0;
    while (i < a.size() || j < b.size()) {
        const size_t endA = std::min(a.find('.', i), a.size());
        const size_t endB = std::min(b.find('.', j), b.size());
        const std::string partA = i < a.size() ? a.substr(i, endA - i) : "";
        const std::string partB = j < b.size() ? b.substr(j, endB - j) : "";
        // Leading digits compare as numbers (without overflow: by length, then text).
        size_t digitsA = 0;
        while (digitsA < partA.size() && std::isdigit(static_cast<unsigned char>(partA[digitsA])))
            ++digitsA;
        size_t digitsB = 0;
        while (digitsB < partB.size() && std::isdigit(static_cast<unsigned char>(partB[digitsB])))
            ++digitsB;
        std::string numberA = partA.substr(0, digitsA);
        std::string numberB = partB.substr(0, digitsB);
        numberA.erase(0, std::min(numberA.find_first_not_of('0'), numberA.size()));
        numberB.erase(0, std::min(numberB.find_first_not_of('0'), numberB.size()));
        if (numberA.size() != numberB.size()) return numberA.size() < numberB.size() ? -1 : 1;
        if (const int c = numberA.compare(numberB); c != 0) return c < 0 ? -1 : 1;
        if (const int c = partA.substr(digitsA).compare(partB.substr(digitsB)); c != 0) {
            return c < 0 ? -1 : 1;
        }
        i = endA + 1;
        j = endB + 1;
    }
    return 0;
}

std::string RVUtil::trimWhitespace(const std::string& text) {
    size_t begin = 0;
    while (size_t n = whitespaceAt(text, begin))
        begin += n;
    size_t end = text.size();
    while (end > begin) {
        const size_t n = whitespaceBefore(text, end);
        if (n == 0) break;
        end -= n;
    }
    return text.substr(begin, end - begin);
}

}  // namespace rivlo
