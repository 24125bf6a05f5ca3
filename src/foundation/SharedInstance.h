#pragma once

#include "foundation/Teardown.h"

#include <atomic>
#include <mutex>

namespace rivlo {

// The storage of one process-wide object (a `sharedHandler()`): created on first use, freed
// when the library closes (Teardown), created again on the next use after that. Declared at
// namespace scope, it is constant-initialised: no constructor runs when the library loads and
// no destructor at exit.
//
//   SharedInstance<RVGestureHandler> gHandler;
//   RVGestureHandler* RVGestureHandler::sharedHandler() {
//       return &gHandler.get([] { return new RVGestureHandler; });
//   }
//
// `stop`, when given, ends the object's threads in the first phase of the teardown (a queue
// draining and joining its thread) while every other object still exists.
//
// Threads: get() and peek() from any thread. The object is freed only by close, once no thread
// of the library runs; hosts' calls are refused from the moment close begins.
template <class T>
class SharedInstance {
  public:
    constexpr SharedInstance() = default;
    SharedInstance(const SharedInstance&) = delete;
    SharedInstance& operator=(const SharedInstance&) = delete;

    template <class Make>
    T& get(Make make, void (*stop)(T&) = nullptr) {
        if (T* existing = pointer_.load(std::memory_order_acquire)) return *existing;
        std::lock_guard lock(mutex_);
        if (T* existing = pointer_.load(std::memory_order_relaxed)) return *existing;
        T* created = make();
        pointer_.store(created, std::memory_order_release);
        Teardown::add(
            [this, stop] {
                if (T* object = pointer_.load(std::memory_order_acquire); object && stop) {
                    stop(*object);
                }
            },
            [this] { delete pointer_.exchange(nullptr, std::memory_order_acq_rel); });
        return *created;
    }

    // The object when it exists, else null (nothing is created).
    T* peek() const { return pointer_.load(std::memory_order_acquire); }

  private:
    std::atomic<T*> pointer_{nullptr};
    std::mutex mutex_;
};

}  // namespace rivlo
