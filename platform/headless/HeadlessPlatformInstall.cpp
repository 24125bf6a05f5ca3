// rivlo/Platform.h's installHeadlessPlatform: the headless device as a program outside this
// build installs it. The shared object takes this call from here, as it takes
// QtPlatform::install from the Qt bridge, without knowing the platform's classes.

#include "rivlo/Platform.h"

#include "foundation/Log.h"
#include "foundation/RunLoop.h"
#include "platform/headless/HeadlessPlatform.h"

#include <memory>
#include <mutex>

namespace rivlo {

void installHeadlessPlatform() {
    // The device and its window live for the process, as a toolkit's application would.
    static std::once_flag once;
    bool installed = false;
    std::call_once(once, [&installed] {
        RunLoop::main().setMainThread();
        static const auto* const device =
            new std::shared_ptr<HeadlessPlatform>(HeadlessPlatform::install());
        static const auto* const window = new std::shared_ptr<Window>((*device)->makeKeyWindow());
        (void)window;
        installed = true;
    });
    if (!installed)
        RVLog("Rivlo: installHeadlessPlatform: the headless device is already installed");
}

}  // namespace rivlo
