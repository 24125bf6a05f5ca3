#pragma once

#include "platform/Device.h"

#include <QObject>

#include <memory>
#include <mutex>

namespace rivlo {

// The device of a Qt host: the facts of the device installed before the bridge (the Linux
// defaults: system, version, host name, vendor identifier, folders, cameras) with the screen
// Qt shows the application on (the primary QScreen's size in points and its device pixel ratio,
// followed as they change) and the machine named as what it is ("Linux x86_64"), not as a
// phone simulator. Any thread; the screen is read on the main thread and kept.
class QtDevice : public QObject, public Device {
  public:
    // Main thread, with the QGuiApplication created.
    explicit QtDevice(std::shared_ptr<Device> base);

    std::string systemName() const override;
    std::string systemVersion() const override;
    bool isMobileSystemVersion() const override;
    std::string machineIdentifier() const override;
    std::string name() const override;
    std::string model() const override;
    int userInterfaceIdiom() const override;
    std::string identifierForVendor() const override;
    int orientation() const override;
    void beginGeneratingDeviceOrientationNotifications() override;
    void endGeneratingDeviceOrientationNotifications() override;
    bool isGeneratingDeviceOrientationNotifications() const override;
    Rect screenBounds() const override;
    double screenScale() const override;
    std::vector<std::string> preferredLanguages() const override;
    BundleInfo mainBundle() const override;
    bool hasVideoCaptureDevice() const override;
    bool isFrontCameraAvailable() const override;
    std::string cachesDirectory() const override;
    std::string defaultsDirectory() const override;

  private:
    void readScreen();

    const std::shared_ptr<Device> base_;
    mutable std::mutex mutex_;
    Rect bounds_;
    double scale_ = 1;
};

}  // namespace rivlo
