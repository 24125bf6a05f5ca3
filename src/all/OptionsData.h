#pragma once

#include "rivlo/Options.h"

#include "platform/linux/LinuxDevice.h"

#include <optional>
#include <string>

namespace rivlo {

// What an Options object holds: the settings the library starts with. Created from the
// environment (each RIVLO_* variable checked, an unusable one logged and left at its default);
// the setters of Options change it after checking the value.
struct Options::Data {
    std::string applicationKey;                 // empty: no session at init
    LinuxDeviceConfig device;                   // identity, screen, idiom, front camera
    std::optional<std::string> serviceBaseURL;  // checked, ending in "/"; nullopt: built in
    std::optional<std::string> caFile;          // a readable file; nullopt: none
    bool linuxPlatform = true;
    bool headlessPlatform = false;

    static Data fromEnvironment();

    // Each returns 0, or RIVLO_ERROR_INVALID_ARGUMENT with a log line naming `function`.
    int setServiceURL(const char* function, const std::string& url);
    int setCAFile(const char* function, const std::string& path);
    int setScreen(const char* function, double width, double height, double scale);
    int setIdiom(const char* function, const std::string& idiom);
};

}  // namespace rivlo
