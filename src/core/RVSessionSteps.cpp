#include "core/RVSessionSteps.h"

#include "foundation/SharedInstance.h"

#include <mutex>

namespace rivlo {

namespace {

struct Registry {
    std::mutex mutex;
    RVScreenRecorderSteps screen;
    RVCameraRecorderSteps camera;
    RVTimelineSteps timeline;
    RVGestureSteps gestures;
    RVWebViewSteps webViews;
    RVCrashSteps crash;
};

// Emptied when the library closes; the next start registers the steps again.
SharedInstance<Registry> gRegistry;

Registry& registry() {
    return gRegistry.get([] { return new Registry; });
}

template <class T>
void store(T Registry::*member, T steps) {
    T old;
    {
        auto& r = registry();
        std::lock_guard lock(r.mutex);
        old = std::exchange(r.*member, std::move(steps));
    }
    // `old` (and whatever its functions captured) is released here, outside the lock.
}

template <class T>
T load(T Registry::*member) {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    return r.*member;
}

}  // namespace

void RVSessionSteps::registerScreenRecorder(RVScreenRecorderSteps steps) {
    store(&Registry::screen, std::move(steps));
}
void RVSessionSteps::registerCameraRecorder(RVCameraRecorderSteps steps) {
    store(&Registry::camera, std::move(steps));
}
void RVSessionSteps::registerTimeline(RVTimelineSteps steps) {
    store(&Registry::timeline, std::move(steps));
}
void RVSessionSteps::registerGestures(RVGestureSteps steps) {
    store(&Registry::gestures, std::move(steps));
}
void RVSessionSteps::registerWebViews(RVWebViewSteps steps) {
    store(&Registry::webViews, std::move(steps));
}

void RVSessionSteps::registerCrashCapture(RVCrashSteps steps) {
    store(&Registry::crash, std::move(steps));
}

RVScreenRecorderSteps RVSessionSteps::screenRecorder() {
    return load(&Registry::screen);
}
RVCameraRecorderSteps RVSessionSteps::cameraRecorder() {
    return load(&Registry::camera);
}
RVTimelineSteps RVSessionSteps::timeline() {
    return load(&Registry::timeline);
}
RVGestureSteps RVSessionSteps::gestures() {
    return load(&Registry::gestures);
}
RVWebViewSteps RVSessionSteps::webViews() {
    return load(&Registry::webViews);
}
RVCrashSteps RVSessionSteps::crashCapture() {
    return load(&Registry::crash);
}

void RVSessionSteps::clear() {
    store(&Registry::screen, RVScreenRecorderSteps{});
    store(&Registry::camera, RVCameraRecorderSteps{});
    store(&Registry::timeline, RVTimelineSteps{});
    store(&Registry::gestures, RVGestureSteps{});
    store(&Registry::webViews, RVWebViewSteps{});
    store(&Registry::crash, RVCrashSteps{});
}

}  // namespace rivlo
