#pragma once

#include "platform/Geometry.h"

#include <optional>
#include <string>
#include <vector>

namespace rivlo {

inline constexpr const char* DeviceOrientationDidChangeNotification =
    "UIDeviceOrientationDidChangeNotification";

// Device orientations: unknown 0, portrait 1, upside down 2, landscape left 3, landscape
// right 4, face up 5, face down 6.
namespace DeviceOrientation {
inline constexpr int Unknown = 0;
inline constexpr int Portrait = 1;
inline constexpr int PortraitUpsideDown = 2;
inline constexpr int LandscapeLeft = 3;
inline constexpr int LandscapeRight = 4;
inline constexpr int FaceUp = 5;
inline constexpr int FaceDown = 6;
}  // namespace DeviceOrientation

// User-interface idioms: unspecified -1, phone 0, pad 1.
namespace UserInterfaceIdiom {
inline constexpr int Unspecified = -1;
inline constexpr int Phone = 0;
inline constexpr int Pad = 1;
}  // namespace UserInterfaceIdiom

// Facts of the main bundle; an absent key is nullopt.
struct BundleInfo {
    std::optional<std::string> displayName;   // "CFBundleDisplayName"
    std::optional<std::string> bundleName;    // "CFBundleName"
    std::optional<std::string> executable;    // "CFBundleExecutable"
    std::optional<std::string> identifier;    // "CFBundleIdentifier"
    std::optional<std::string> version;       // "CFBundleVersion"
    std::optional<std::string> shortVersion;  // "CFBundleShortVersionString"
};

// The device, its main screen, the main bundle and the application's directories.
// Every method may be called from any thread.
class Device {
  public:
    virtual ~Device() = default;

    virtual std::string systemName() const = 0;
    virtual std::string systemVersion() const = 0;  // "8.1"
    // Whether systemVersion() numbers the mobile system whose minimum version the start call
    // checks. A platform whose version is something else (a Linux distribution's release or a
    // kernel's) answers false, and the check does not apply to it.
    virtual bool isMobileSystemVersion() const { return true; }
    virtual std::string machineIdentifier() const = 0;  // "iPhone7,2" (uname machine)
    virtual std::string name() const = 0;               // the user's name for the device
    virtual std::string model() const = 0;              // "iPhone"
    virtual int userInterfaceIdiom() const = 0;
    // Upper-case UUID text, stable for this device and application vendor.
    virtual std::string identifierForVendor() const = 0;

    // Device orientation; Unknown unless notifications are being generated. Changes are
    // posted as DeviceOrientationDidChangeNotification (object: this Device) on the main thread
    // while generating. Begin/end calls nest.
    virtual int orientation() const = 0;
    virtual void beginGeneratingDeviceOrientationNotifications() = 0;
    virtual void endGeneratingDeviceOrientationNotifications() = 0;
    virtual bool isGeneratingDeviceOrientationNotifications() const = 0;

    // Main screen, in points; scale is pixels per point.
    virtual Rect screenBounds() const = 0;
    virtual double screenScale() const = 0;

    // Language codes, most preferred first ("en", "fr").
    virtual std::vector<std::string> preferredLanguages() const = 0;
    virtual BundleInfo mainBundle() const = 0;

    // Cameras: whether any video capture device exists, and whether a front camera does.
    virtual bool hasVideoCaptureDevice() const = 0;
    virtual bool isFrontCameraAvailable() const = 0;

    // The application's caches directory and the directory of its defaults file. Both exist
    // (created on first request when possible).
    virtual std::string cachesDirectory() const = 0;
    virtual std::string defaultsDirectory() const = 0;
};

}  // namespace rivlo
