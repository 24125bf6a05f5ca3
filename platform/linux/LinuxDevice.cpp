#include "platform/linux/LinuxDevice.h"

#include "foundation/Log.h"
#include "platform/linux/LinuxCapture.h"
#include "platform/linux/LinuxPaths.h"
#include "platform/linux/LinuxSystemFacts.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>

namespace rivlo {
namespace {

std::optional<std::string> environment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || value[0] == '\0') return std::nullopt;
    return std::string(value);
}

bool parsePositive(const std::string& text, double& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    double parsed = std::strtod(text.c_str(), &end);
    if (end == nullptr || *end != '\0' || !std::isfinite(parsed) || parsed <= 0 || parsed > 1e5) {
        return false;
    }
    value = parsed;
    return true;
}

}  // namespace

bool LinuxDeviceConfig::parseScreen(const std::string& text, Rect& bounds, double& scale) {
    const size_t times = text.find('x');
    if (times == std::string::npos) return false;
    const size_t at = text.find('@', times);
    double width = 0;
    double height = 0;
    double factor = scale;
    if (!parsePositive(text.substr(0, times), width)) return false;
    const std::string heightText =
        text.substr(times + 1, at == std::string::npos ? std::string::npos : at - times - 1);
    if (!parsePositive(heightText, height)) return false;
    if (at != std::string::npos && (!parsePositive(text.substr(at + 1), factor) || factor > 16)) {
        return false;
    }
    bounds = Rect(0, 0, width, height);
    scale = factor;
    return true;
}

LinuxDeviceConfig LinuxDeviceConfig::fromEnvironment() {
    LinuxDeviceConfig config;
    config.applicationIdentifier =
        environment("RIVLO_APP_ID").value_or(LinuxSystemFacts::programName());
    if (auto name = environment("RIVLO_APP_NAME")) config.bundle.displayName = *name;
    if (auto version = environment("RIVLO_APP_VERSION")) config.bundle.version = *version;
    if (auto screen = environment("RIVLO_SCREEN")) {
        if (!parseScreen(*screen, config.screenBounds, config.screenScale)) {
            RVLog("Rivlo: RIVLO_SCREEN \"%s\" is not <width>x<height>[@<scale>]; using %gx%g@%g",
                  screen->c_str(), config.screenBounds.width(), config.screenBounds.height(),
                  config.screenScale);
        }
    }
    if (auto idiom = environment("RIVLO_IDIOM")) {
        if (*idiom == "phone") {
            config.idiom = UserInterfaceIdiom::Phone;
        } else if (*idiom == "pad") {
            config.idiom = UserInterfaceIdiom::Pad;
        } else if (*idiom == "unspecified") {
            config.idiom = UserInterfaceIdiom::Unspecified;
        } else {
            RVLog("Rivlo: RIVLO_IDIOM \"%s\" is not phone, pad or unspecified", idiom->c_str());
        }
    }
    config.frontCameraFromVideoDevice = environment("RIVLO_FRONT_CAMERA").value_or("") == "1";
    return config;
}

LinuxDevice::LinuxDevice(LinuxDeviceConfig config) : config_(std::move(config)) {
    if (config_.applicationIdentifier.empty()) {
        config_.applicationIdentifier = LinuxSystemFacts::programName();
    }
    if (!config_.bundle.identifier) config_.bundle.identifier = config_.applicationIdentifier;
    // A process has no bundle: its name and version are the host's (given at installation)
    // or the program's, never missing (the service and the User-Agent show them).
    const std::string program = LinuxSystemFacts::programName();
    if (!config_.bundle.executable) config_.bundle.executable = program;
    if (!config_.bundle.bundleName) config_.bundle.bundleName = program;
    if (!config_.bundle.version || config_.bundle.version->empty()) {
        config_.bundle.version = config_.bundle.shortVersion.value_or(kDefaultVersion);
    }
    if (!config_.bundle.shortVersion) config_.bundle.shortVersion = config_.bundle.version;
    systemVersion_ = config_.systemVersion.value_or(LinuxSystemFacts::systemVersion());
    machine_ = LinuxSystemFacts::machineIdentifier();
    vendorIdentifier_ =
        LinuxSystemFacts::vendorIdentifierForThisMachine(config_.applicationIdentifier);
    caches_ = config_.cachesDirectory.value_or(
        LinuxPaths::cachesDirectory(config_.applicationIdentifier));
    defaults_ = config_.defaultsDirectory.value_or(
        LinuxPaths::defaultsDirectory(config_.applicationIdentifier));
}

std::string LinuxDevice::name() const {
    return LinuxSystemFacts::hostName();
}

int LinuxDevice::orientation() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return generating_ > 0 ? DeviceOrientation::Portrait : DeviceOrientation::Unknown;
}

void LinuxDevice::beginGeneratingDeviceOrientationNotifications() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++generating_;
}

void LinuxDevice::endGeneratingDeviceOrientationNotifications() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (generating_ > 0) --generating_;
}

bool LinuxDevice::isGeneratingDeviceOrientationNotifications() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return generating_ > 0;
}

std::vector<std::string> LinuxDevice::preferredLanguages() const {
    return LinuxSystemFacts::preferredLanguages();
}

bool LinuxDevice::hasVideoCaptureDevice() const {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/sys/class/video4linux", error)) {
        if (entry.path().filename().string().rfind("video", 0) == 0) return true;
    }
    return false;
}

bool LinuxDevice::isFrontCameraAvailable() const {
    // Usable: a node that opens as a V4L2 capture device, not merely one that is listed.
    return config_.frontCameraFromVideoDevice && hasVideoCaptureDevice() &&
           LinuxCapture::hasUsableCamera();
}

std::string LinuxDevice::cachesDirectory() const {
    LinuxPaths::makeDirectories(caches_);
    return caches_;
}

std::string LinuxDevice::defaultsDirectory() const {
    LinuxPaths::makeDirectories(defaults_);
    return defaults_;
}

}  // namespace rivlo
