#pragma once

#include "platform/Application.h"
#include "platform/Device.h"
#include "platform/ExceptionHandler.h"
#include "platform/Graphics.h"
#include "platform/Reachability.h"

#include <map>
#include <memory>
#include <mutex>
#include <typeindex>

namespace rivlo {

// The installed seam objects. A missing one is null; callers log and use a safe default.
struct PlatformServices {
    std::shared_ptr<Application> application;
    std::shared_ptr<Device> device;
    std::shared_ptr<Graphics> graphics;
    std::shared_ptr<ReachabilitySource> reachability;
    std::shared_ptr<ExceptionHandlerSlot> exceptionHandler;
};

// The process-wide registry of platform seams. A platform (the Linux defaults, the headless
// device, a toolkit adapter) installs its objects before the library is used; everything above
// the seams reaches them here. Any thread; accessors return shared pointers, so an object stays
// alive for a caller even if another is installed meanwhile. Closing the library empties it.
class Platform {
  public:
    static Platform& current();

    // Replaces every seam at once.
    void install(PlatformServices services);
    // Replaces only the non-null seams of `services`.
    void installMissingOrReplace(const PlatformServices& services);
    PlatformServices services() const;

    std::shared_ptr<Application> application() const;
    std::shared_ptr<Device> device() const;
    std::shared_ptr<Graphics> graphics() const;
    std::shared_ptr<ReachabilitySource> reachability() const;
    std::shared_ptr<ExceptionHandlerSlot> exceptionHandler() const;

    // Further seams by type (movie writing, camera capture ...), each registered by its own
    // implementation: Platform::current().setService<MovieWriterFactory>(p).
    template <class T>
    void setService(std::shared_ptr<T> service) {
        std::lock_guard lock(mutex_);
        extra_[std::type_index(typeid(T))] = std::move(service);
    }
    template <class T>
    std::shared_ptr<T> service() const {
        std::lock_guard lock(mutex_);
        auto it = extra_.find(std::type_index(typeid(T)));
        return it == extra_.end() ? nullptr : std::static_pointer_cast<T>(it->second);
    }

    // Drops every seam (tests).
    void reset();

  private:
    Platform() = default;
    mutable std::mutex mutex_;
    PlatformServices services_;
    std::map<std::type_index, std::shared_ptr<void>> extra_;
};

}  // namespace rivlo
