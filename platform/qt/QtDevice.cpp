#include "platform/qt/QtDevice.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSysInfo>

namespace rivlo {

QtDevice::QtDevice(std::shared_ptr<Device> base) : base_(std::move(base)) {
    readScreen();
    auto follow = [this](QScreen* screen) {
        if (!screen) return;
        QObject::connect(screen, &QScreen::geometryChanged, this, [this] { readScreen(); });
        QObject::connect(screen, &QScreen::logicalDotsPerInchChanged, this,
                         [this] { readScreen(); });
    };
    follow(QGuiApplication::primaryScreen());
    QObject::connect(qGuiApp, &QGuiApplication::primaryScreenChanged, this,
                     [this, follow](QScreen* screen) {
                         follow(screen);
                         readScreen();
                     });
}

void QtDevice::readScreen() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    Rect bounds = base_ ? base_->screenBounds() : Rect();
    double scale = base_ ? base_->screenScale() : 1.0;
    if (screen && screen->geometry().width() > 0 && screen->geometry().height() > 0) {
        bounds = Rect(0, 0, screen->geometry().width(), screen->geometry().height());
        scale = screen->devicePixelRatio() > 0 ? screen->devicePixelRatio() : 1.0;
    }
    std::lock_guard lock(mutex_);
    bounds_ = bounds;
    scale_ = scale;
}

Rect QtDevice::screenBounds() const {
    std::lock_guard lock(mutex_);
    return bounds_;
}

double QtDevice::screenScale() const {
    std::lock_guard lock(mutex_);
    return scale_;
}

std::string QtDevice::machineIdentifier() const {
    // The machine as what it is: its system and processor ("Linux x86_64").
    const std::string system = base_ ? base_->systemName() : std::string("Linux");
    return system + " " + QSysInfo::currentCpuArchitecture().toStdString();
}

// The rest is the installed device's.
std::string QtDevice::systemName() const {
    return base_ ? base_->systemName() : "Linux";
}
std::string QtDevice::systemVersion() const {
    return base_ ? base_->systemVersion() : std::string();
}
bool QtDevice::isMobileSystemVersion() const {
    return base_ ? base_->isMobileSystemVersion() : false;
}
std::string QtDevice::name() const {
    return base_ ? base_->name() : QSysInfo::machineHostName().toStdString();
}
std::string QtDevice::model() const {
    return base_ ? base_->model() : "Linux";
}
int QtDevice::userInterfaceIdiom() const {
    return base_ ? base_->userInterfaceIdiom() : UserInterfaceIdiom::Unspecified;
}
std::string QtDevice::identifierForVendor() const {
    return base_ ? base_->identifierForVendor() : std::string();
}
int QtDevice::orientation() const {
    return base_ ? base_->orientation() : DeviceOrientation::Unknown;
}
void QtDevice::beginGeneratingDeviceOrientationNotifications() {
    if (base_) base_->beginGeneratingDeviceOrientationNotifications();
}
void QtDevice::endGeneratingDeviceOrientationNotifications() {
    if (base_) base_->endGeneratingDeviceOrientationNotifications();
}
bool QtDevice::isGeneratingDeviceOrientationNotifications() const {
    return base_ && base_->isGeneratingDeviceOrientationNotifications();
}
std::vector<std::string> QtDevice::preferredLanguages() const {
    return base_ ? base_->preferredLanguages() : std::vector<std::string>{};
}
BundleInfo QtDevice::mainBundle() const {
    return base_ ? base_->mainBundle() : BundleInfo{};
}
bool QtDevice::hasVideoCaptureDevice() const {
    return base_ && base_->hasVideoCaptureDevice();
}
bool QtDevice::isFrontCameraAvailable() const {
    return base_ && base_->isFrontCameraAvailable();
}
std::string QtDevice::cachesDirectory() const {
    return base_ ? base_->cachesDirectory() : std::string();
}
std::string QtDevice::defaultsDirectory() const {
    return base_ ? base_->defaultsDirectory() : std::string();
}

}  // namespace rivlo
