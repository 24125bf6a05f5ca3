#pragma once

#include "platform/Device.h"

#include <mutex>
#include <optional>
#include <string>

namespace rivlo {

// What a Linux process cannot learn from the system and is told instead: there is no display
// and no bundle, so the screen and the application's facts are configuration.
struct LinuxDeviceConfig {
    // Names the application's folders and enters the vendor identifier.
    std::string applicationIdentifier;
    // Filled in when absent: identifier (the application identifier), executable and name
    // (the program's name), version and short version (the one given, else "1.0").
    BundleInfo bundle;
    Rect screenBounds{0, 0, 375, 667};
    double screenScale = 2;
    int idiom = UserInterfaceIdiom::Unspecified;
    std::string model = "Linux";
    // Offer a video capture device as the front camera (off: the library then records no
    // camera movie).
    bool frontCameraFromVideoDevice = false;
    // The system version to report instead of os-release's "VERSION_ID" or the kernel
    // release (tests; containers that present another system).
    std::optional<std::string> systemVersion;
    // Overrides of the XDG folders (tests; sandboxes).
    std::optional<std::string> cachesDirectory;
    std::optional<std::string> defaultsDirectory;

    // From the environment, over the defaults above:
    //   RIVLO_APP_ID        application identifier (default: the program's name)
    //   RIVLO_APP_NAME      the application's display name (default: the program's name)
    //   RIVLO_APP_VERSION   the application's version (default: "1.0")
    //   RIVLO_SCREEN        "<width>x<height>[@<scale>]" in points, e.g. "414x896@3"
    //   RIVLO_IDIOM         "phone", "pad" or "unspecified"
    //   RIVLO_FRONT_CAMERA  "1" to offer a video capture device as the front camera
    // Malformed values are logged and the default kept.
    static LinuxDeviceConfig fromEnvironment();
    // Parses a RIVLO_SCREEN value; false (and nothing changed) when malformed.
    static bool parseScreen(const std::string& text, Rect& bounds, double& scale);
};

// The device seam on Linux: facts from uname, the host name, os-release and the machine id;
// screen and bundle from the configuration; folders after the XDG rules. There is no
// orientation sensor: while notifications are generated the orientation is portrait and never
// changes. Any thread.
class LinuxDevice : public Device {
  public:
    // The application's version when neither the host nor the environment gives one.
    static constexpr const char* kDefaultVersion = "1.0";

    explicit LinuxDevice(LinuxDeviceConfig config);

    std::string systemName() const override { return "Linux"; }
    std::string systemVersion() const override { return systemVersion_; }
    // A distribution's release ("3.18", "2") or a kernel's ("6.8.1-arch1-1"): not comparable
    // with a mobile system's version.
    bool isMobileSystemVersion() const override { return false; }
    std::string machineIdentifier() const override { return machine_; }
    std::string name() const override;
    std::string model() const override { return config_.model; }
    int userInterfaceIdiom() const override { return config_.idiom; }
    std::string identifierForVendor() const override { return vendorIdentifier_; }

    int orientation() const override;
    void beginGeneratingDeviceOrientationNotifications() override;
    void endGeneratingDeviceOrientationNotifications() override;
    bool isGeneratingDeviceOrientationNotifications() const override;

    Rect screenBounds() const override { return config_.screenBounds; }
    double screenScale() const override { return config_.screenScale; }

    std::vector<std::string> preferredLanguages() const override;
    BundleInfo mainBundle() const override { return config_.bundle; }

    bool hasVideoCaptureDevice() const override;
    bool isFrontCameraAvailable() const override;

    std::string cachesDirectory() const override;
    std::string defaultsDirectory() const override;

    const LinuxDeviceConfig& config() const { return config_; }

  private:
    LinuxDeviceConfig config_;
    std::string systemVersion_;
    std::string machine_;
    std::string vendorIdentifier_;
    std::string caches_;
    std::string defaults_;
    mutable std::mutex mutex_;
    int generating_ = 0;
};

}  // namespace rivlo
