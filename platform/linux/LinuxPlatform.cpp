#include "platform/linux/LinuxPlatform.h"

#include "foundation/UserDefaults.h"
#include "platform/Platform.h"
#include "platform/linux/LinuxCapture.h"
#include "platform/linux/LinuxExceptionHandlerSlot.h"
#include "platform/linux/LinuxMovieServices.h"
#include "platform/linux/LinuxReachability.h"

namespace rivlo {

std::shared_ptr<LinuxDevice> LinuxPlatform::install(LinuxDeviceConfig config) {
    const bool frontCamera = config.frontCameraFromVideoDevice;
    auto device = std::make_shared<LinuxDevice>(std::move(config));
    PlatformServices services;
    services.device = device;
    services.reachability = std::make_shared<LinuxReachabilitySource>();
    services.exceptionHandler = LinuxExceptionHandlerSlot::shared();
    Platform::current().installMissingOrReplace(services);
    UserDefaults::setStandardDirectory(device->defaultsDirectory());
    // Cameras through V4L2; screen and camera movies (and their durations) through FFmpeg,
    // loaded when the first movie is written or read.
    LinuxCapture::install(frontCamera);
    LinuxMovieServices::install();
    return device;
}

std::shared_ptr<LinuxDevice> LinuxPlatform::install(const LinuxApplicationIdentity& identity) {
    LinuxDeviceConfig config = LinuxDeviceConfig::fromEnvironment();
    if (!identity.identifier.empty()) config.applicationIdentifier = identity.identifier;
    if (!identity.displayName.empty()) config.bundle.displayName = identity.displayName;
    if (!identity.version.empty()) config.bundle.version = identity.version;
    return install(std::move(config));
}

}  // namespace rivlo
