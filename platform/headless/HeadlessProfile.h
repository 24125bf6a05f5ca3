#pragma once

#include "foundation/Value.h"
#include "platform/Device.h"
#include "platform/Geometry.h"

#include <string>
#include <vector>

namespace rivlo {

enum class NetworkStatus { None = 0, WiFi = 1, Cellular = 2 };

// The facts of one simulated device and application.
struct HeadlessProfile {
    std::string systemName = "iPhone OS";
    std::string systemVersion = "8.1";
    std::string machineIdentifier = "iPhone7,2";
    std::string deviceName = "Headless iPhone";
    std::string model = "iPhone";
    int idiom = UserInterfaceIdiom::Phone;
    Rect screenBounds{0, 0, 375, 667};
    double screenScale = 2.0;
    std::string vendorIdentifier = "6B29FC40-CA47-1067-B31D-00DD010662DA";
    bool hasCamera = true;
    bool frontCamera = true;
    // The user has denied the application access to the camera: opening one fails.
    bool cameraAccessDenied = false;
    // A microphone exists.
    bool microphone = true;
    NetworkStatus network = NetworkStatus::WiFi;
    std::vector<std::string> preferredLanguages{"en"};
    BundleInfo bundle{
        "Headless Demo", "HeadlessDemo", "HeadlessDemo", "com.rivlo.headless.demo", "1", "1.0"};
    // The application's sandbox: caches under "<sandbox>/Library/Caches", defaults under
    // "<sandbox>/Library/Preferences". Empty: a new directory under the system's temporary
    // directory.
    std::string sandboxDirectory;
    // Seconds a background task may run after the application entered the background.
    double backgroundTaskAllowance = 180.0;

    // Reads the fields present in a JSON object over the defaults. Unknown keys are ignored;
    // a field of the wrong type is an error (false, with the reason in `error`).
    static bool fromValue(const Value& value, HeadlessProfile& profile, std::string& error);
};

}  // namespace rivlo
