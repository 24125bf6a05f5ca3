#pragma once

#include "platform/Window.h"
#include "platform/headless/CairoGraphics.h"
#include "platform/headless/HeadlessApplication.h"
#include "platform/headless/HeadlessCapture.h"
#include "platform/headless/HeadlessDevice.h"
#include "platform/headless/HeadlessExceptionSlot.h"
#include "platform/headless/HeadlessProfile.h"
#include "platform/headless/HeadlessReachability.h"
#include "platform/headless/TouchSynthesizer.h"

#include <memory>

namespace rivlo {

// The whole headless device: creates its seam objects and installs them into
// Platform::current(). Create and use it on the main thread (the thread that drives
// RunLoop::main()). Gestures sent with the helpers below are delivered at once with
// timestamps on a virtual clock that advances one second between gestures, so separate
// gestures never merge into multi-taps.
class HeadlessPlatform {
  public:
    static std::shared_ptr<HeadlessPlatform> install(HeadlessProfile profile = {});
    // Removes its objects from Platform::current() when they are still the installed ones.
    ~HeadlessPlatform();

    HeadlessDevice& device() { return *device_; }
    HeadlessApplication& application() { return *application_; }
    HeadlessReachability& reachability() { return *reachability_; }
    HeadlessExceptionSlot& exceptionSlot() { return *exceptions_; }
    CairoGraphics& graphics() { return *graphics_; }
    HeadlessCapture& capture() { return *capture_; }
    std::shared_ptr<HeadlessApplication> sharedApplication() const { return application_; }

    // A visible key window covering the screen, white.
    std::shared_ptr<Window> makeKeyWindow();

    // Main thread.
    void tap(Point p);
    void doubleTap(Point p);
    void swipe(Point from, Point to, double duration = 0.2);
    void pinch(Point center, double fromDistance, double toDistance, bool cancel = false);
    void deliver(const TouchSynthesizer::Steps& steps);

    // Renders the key window (or a view) into an image at the screen's scale.
    Image snapshot(View& view, double scale = 0);

  private:
    HeadlessPlatform() = default;
    std::shared_ptr<HeadlessDevice> device_;
    std::shared_ptr<HeadlessApplication> application_;
    std::shared_ptr<HeadlessReachability> reachability_;
    std::shared_ptr<HeadlessExceptionSlot> exceptions_;
    std::shared_ptr<CairoGraphics> graphics_;
    std::shared_ptr<HeadlessCapture> capture_;
    double virtualClock_ = 1000.0;
};

}  // namespace rivlo
