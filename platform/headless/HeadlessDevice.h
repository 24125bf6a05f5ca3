#pragma once

#include "platform/Device.h"
#include "platform/headless/HeadlessProfile.h"

#include <atomic>
#include <mutex>

namespace rivlo {

// The simulated device: facts from the profile, an orientation that the scenario (or a test)
// changes, and a private sandbox for the application's files. Facts: any thread.
class HeadlessDevice : public Device {
  public:
    explicit HeadlessDevice(HeadlessProfile profile);

    std::string systemName() const override;
    std::string systemVersion() const override;
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

    // Simulation side. Turns the device: values outside 0...6 are refused (logged). While
    // orientation notifications are generated, a change posts the notification on the main
    // thread (at once when called there).
    void setOrientation(int orientation);
    void setFrontCameraAvailable(bool available);
    const std::string& sandboxDirectory() const { return sandbox_; }

  private:
    mutable std::mutex mutex_;
    HeadlessProfile profile_;
    std::string sandbox_;
    std::atomic<int> orientation_{DeviceOrientation::Portrait};
    std::atomic<int> generating_{0};
};

}  // namespace rivlo
