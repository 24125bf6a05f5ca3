#include "platform/Platform.h"

#include "foundation/SharedInstance.h"

#include <utility>

namespace rivlo {

Platform& Platform::current() {
    // Emptied and freed when the library closes; a platform installs itself again after that.
    static SharedInstance<Platform> platform;
    return platform.get([] { return new Platform; });
}

void Platform::install(PlatformServices services) {
    PlatformServices old;
    {
        std::lock_guard lock(mutex_);
        old = std::exchange(services_, std::move(services));
    }
    // `old` is released here, outside the lock: its destructors may call back into us.
}

void Platform::installMissingOrReplace(const PlatformServices& s) {
    PlatformServices old;
    {
        std::lock_guard lock(mutex_);
        old = services_;
        if (s.application) services_.application = s.application;
        if (s.device) services_.device = s.device;
        if (s.graphics) services_.graphics = s.graphics;
        if (s.reachability) services_.reachability = s.reachability;
        if (s.exceptionHandler) services_.exceptionHandler = s.exceptionHandler;
    }
}

PlatformServices Platform::services() const {
    std::lock_guard lock(mutex_);
    return services_;
}

std::shared_ptr<Application> Platform::application() const {
    std::lock_guard lock(mutex_);
    return services_.application;
}

std::shared_ptr<Device> Platform::device() const {
    std::lock_guard lock(mutex_);
    return services_.device;
}

std::shared_ptr<Graphics> Platform::graphics() const {
    std::lock_guard lock(mutex_);
    return services_.graphics;
}

std::shared_ptr<ReachabilitySource> Platform::reachability() const {
    std::lock_guard lock(mutex_);
    return services_.reachability;
}

std::shared_ptr<ExceptionHandlerSlot> Platform::exceptionHandler() const {
    std::lock_guard lock(mutex_);
    return services_.exceptionHandler;
}

void Platform::reset() {
    PlatformServices old;
    std::map<std::type_index, std::shared_ptr<void>> oldExtra;
    {
        std::lock_guard lock(mutex_);
        old = std::exchange(services_, {});
        oldExtra = std::exchange(extra_, {});
    }
}

}  // namespace rivlo
