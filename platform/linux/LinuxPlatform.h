#pragma once

#include "platform/linux/LinuxDevice.h"

#include <memory>

namespace rivlo {

// Installs the Linux defaults into the platform registry: the device, reachability from the
// kernel's routing and link state, the std::terminate based exception slot, the V4L2 cameras,
// and the FFmpeg movie services (screen movie writer, duration reader, camera movie encoder);
// and points the standard user defaults at the application's defaults folder. Seams already
// installed by another platform for which Linux has nothing (application, graphics) are kept. Call
// once at start-up, before the library is used; any thread.
class LinuxPlatform {
  public:
    static std::shared_ptr<LinuxDevice> install(LinuxDeviceConfig config);
    static std::shared_ptr<LinuxDevice> install() {
        return install(LinuxDeviceConfig::fromEnvironment());
    }
};

}  // namespace rivlo
