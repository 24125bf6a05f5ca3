#pragma once

#include "platform/linux/LinuxDevice.h"

#include <memory>
#include <string>

namespace rivlo {

// Installs the Linux defaults into the platform registry: the device, reachability from the
// kernel's routing and link state, the std::terminate based exception slot, the V4L2 cameras,
// and the FFmpeg movie services (screen movie writer, duration reader, camera movie encoder);
// and points the standard user defaults at the application's defaults folder. Seams already
// installed by another platform for which Linux has nothing (application, graphics) are kept. Call
// once at start-up, before the library is used; any thread.
// The application's identity as its host states it at installation. An empty field takes its
// default: the identifier from RIVLO_APP_ID, else the program's name; the display name from
// RIVLO_APP_NAME, else the program's name; the version from RIVLO_APP_VERSION, else "1.0".
struct LinuxApplicationIdentity {
    std::string identifier;   // names the application's folders ("com.example.shop")
    std::string displayName;  // the name the service and the consent question show
    std::string version;      // the application's version ("2.3.1")
};

class LinuxPlatform {
  public:
    static std::shared_ptr<LinuxDevice> install(LinuxDeviceConfig config);
    static std::shared_ptr<LinuxDevice> install() {
        return install(LinuxDeviceConfig::fromEnvironment());
    }
    // The environment's configuration with the host's identity over it.
    static std::shared_ptr<LinuxDevice> install(const LinuxApplicationIdentity& identity);
};

}  // namespace rivlo
