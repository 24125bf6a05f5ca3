#include "platform/headless/HeadlessDevice.h"

#include "foundation/Log.h"
#include "foundation/NotificationCenter.h"
#include "foundation/RunLoop.h"

#include <filesystem>
#include <random>

namespace rivlo {

namespace fs = std::filesystem;

namespace {
std::string makeSandbox() {
    std::error_code ec;
    fs::path base = fs::temp_directory_path(ec);
    if (ec) base = "/tmp";
    std::random_device rd;
    for (int attempt = 0; attempt < 16; ++attempt) {
        fs::path dir = base / ("rivlo-headless-" + std::to_string(rd()));
        if (fs::create_directory(dir, ec)) {
            fs::permissions(dir, fs::perms::owner_all, ec);
            return dir.string();
        }
    }
    RVLog("HeadlessDevice: cannot create a sandbox under %s", base.c_str());
    return (base / "rivlo-headless").string();
}

std::string ensureDirectory(const fs::path& dir) {
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) RVLog("HeadlessDevice: cannot create %s: %s", dir.c_str(), ec.message().c_str());
    return dir.string();
}
}  // namespace

HeadlessDevice::HeadlessDevice(HeadlessProfile profile) : profile_(std::move(profile)) {
    sandbox_ = profile_.sandboxDirectory.empty() ? makeSandbox() : profile_.sandboxDirectory;
}

std::string HeadlessDevice::systemName() const {
    std::lock_guard lock(mutex_);
    return profile_.systemName;
}
std::string HeadlessDevice::systemVersion() const {
    std::lock_guard lock(mutex_);
    return profile_.systemVersion;
}
std::string HeadlessDevice::machineIdentifier() const {
    std::lock_guard lock(mutex_);
    return profile_.machineIdentifier;
}
std::string HeadlessDevice::name() const {
    std::lock_guard lock(mutex_);
    return profile_.deviceName;
}
std::string HeadlessDevice::model() const {
    std::lock_guard lock(mutex_);
    return profile_.model;
}
int HeadlessDevice::userInterfaceIdiom() const {
    std::lock_guard lock(mutex_);
    return profile_.idiom;
}
std::string HeadlessDevice::identifierForVendor() const {
    std::lock_guard lock(mutex_);
    std::string id = profile_.vendorIdentifier;
    for (char& c : id)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return id;
}

int HeadlessDevice::orientation() const {
    return generating_.load() > 0 ? orientation_.load() : DeviceOrientation::Unknown;
}

void HeadlessDevice::beginGeneratingDeviceOrientationNotifications() {
    ++generating_;
}

void HeadlessDevice::endGeneratingDeviceOrientationNotifications() {
    int g = generating_.load();
    while (g > 0 && !generating_.compare_exchange_weak(g, g - 1)) {
    }
}

bool HeadlessDevice::isGeneratingDeviceOrientationNotifications() const {
    return generating_.load() > 0;
}

void HeadlessDevice::setOrientation(int orientation) {
    if (orientation < 0 || orientation > 6) {
        RVLog("HeadlessDevice: no device orientation %d", orientation);
        return;
    }
    const int old = orientation_.exchange(orientation);
    if (old == orientation || generating_.load() == 0) return;
    RunLoop::main().runOrPost([this] {
        NotificationCenter::defaultCenter().post(DeviceOrientationDidChangeNotification,
                                                 static_cast<const Device*>(this));
    });
}

Rect HeadlessDevice::screenBounds() const {
    std::lock_guard lock(mutex_);
    return profile_.screenBounds;
}
double HeadlessDevice::screenScale() const {
    std::lock_guard lock(mutex_);
    return profile_.screenScale;
}
std::vector<std::string> HeadlessDevice::preferredLanguages() const {
    std::lock_guard lock(mutex_);
    return profile_.preferredLanguages;
}
BundleInfo HeadlessDevice::mainBundle() const {
    std::lock_guard lock(mutex_);
    return profile_.bundle;
}
bool HeadlessDevice::hasVideoCaptureDevice() const {
    std::lock_guard lock(mutex_);
    return profile_.hasCamera;
}
bool HeadlessDevice::isFrontCameraAvailable() const {
    std::lock_guard lock(mutex_);
    return profile_.hasCamera && profile_.frontCamera;
}
void HeadlessDevice::setFrontCameraAvailable(bool available) {
    std::lock_guard lock(mutex_);
    profile_.frontCamera = available;
}
std::string HeadlessDevice::cachesDirectory() const {
    return ensureDirectory(fs::path(sandbox_) / "Library" / "Caches");
}
std::string HeadlessDevice::defaultsDirectory() const {
    return ensureDirectory(fs::path(sandbox_) / "Library" / "Preferences");
}

}  // namespace rivlo
