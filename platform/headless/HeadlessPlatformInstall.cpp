// The entry point through which the core library (rivlo/Platform.h's installHeadlessPlatform,
// rivlo_init with the headless option) installs the headless device: librivlo-headless.so.1
// exports it under its private version node, and the core finds it in the process or loads
// the library (src/all/HeadlessLoader.cpp). The core includes none of this folder's headers.

#include "foundation/Log.h"
#include "foundation/SharedInstance.h"
#include "platform/headless/HeadlessPlatform.h"

#include <memory>

namespace rivlo {
namespace {

// The device and its window, as a toolkit's application would hold them, until the library
// closes.
struct InstalledDevice {
    std::shared_ptr<HeadlessPlatform> device;
    std::shared_ptr<Window> window;
};

SharedInstance<InstalledDevice> gInstalled;

}  // namespace
}  // namespace rivlo

// Main thread (the core makes sure). Returns 0.
extern "C" int rivlo_headless_install_device() {
    using namespace rivlo;
    if (gInstalled.peek()) {
        RVLog("Rivlo: installHeadlessPlatform: the headless device is already installed");
        return 0;
    }
    gInstalled.get([] {
        auto* installed = new InstalledDevice;
        installed->device = HeadlessPlatform::install();
        installed->window = installed->device->makeKeyWindow();
        return installed;
    });
    return 0;
}
