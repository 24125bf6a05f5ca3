// rivlo/Platform.h's installLinuxPlatform: the Linux defaults as a program outside this build
// installs them. The shared object takes this call from here, as it takes QtPlatform::install
// from the Qt bridge, without knowing the platform's classes.

#include "rivlo/Platform.h"

#include "foundation/RunLoop.h"
#include "platform/linux/LinuxPlatform.h"

namespace rivlo {

void installLinuxPlatform(const ApplicationIdentity& identity) {
    RunLoop::main().setMainThread();
    // The platform registry holds the device from here on.
    LinuxPlatform::install(
        LinuxApplicationIdentity{identity.id, identity.displayName, identity.version});
}

}  // namespace rivlo
