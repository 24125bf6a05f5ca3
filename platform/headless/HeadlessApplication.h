#pragma once

#include "foundation/EventLoop.h"
#include "platform/Application.h"
#include "platform/Event.h"
#include "platform/Responder.h"
#include "platform/TouchDispatcher.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace rivlo {

class HeadlessDevice;

// The simulated application object. It starts active (launched). Lifecycle moves post their
// notifications on the main thread in the platform's order:
//   moveToBackground():   WillResignActive, DidEnterBackground
//   returnToForeground(): WillEnterForeground, DidBecomeActive
// Touch events go to the key window: each new finger is hit-tested through the window's
// method table, then the recognisers of the hit view and its superviews (the window's
// included) see the event. Motion (shake) goes through "motionEnded:withEvent:" of the first
// responder (the visible view controller, else the key window).
class HeadlessApplication : public Application,
                            public std::enable_shared_from_this<HeadlessApplication> {
  public:
    HeadlessApplication(std::shared_ptr<HeadlessDevice> device, double backgroundTaskAllowance);
    ~HeadlessApplication() override;

    ApplicationState applicationState() const override { return state_.load(); }
    int statusBarOrientation() const override { return statusBarOrientation_.load(); }
    std::shared_ptr<Window> keyWindow() const override;
    std::vector<std::shared_ptr<Window>> windows() const override;
    BackgroundTaskIdentifier beginBackgroundTask(std::function<void()> expirationHandler) override;
    void endBackgroundTask(BackgroundTaskIdentifier identifier) override;
    bool isNetworkActivityIndicatorVisible() const override { return networkIndicator_.load(); }
    void setNetworkActivityIndicatorVisible(bool visible) override { networkIndicator_ = visible; }
    void windowVisibilityChanged(const std::shared_ptr<Window>& window, bool visible) override;
    void makeKeyWindow(const std::shared_ptr<Window>& window) override;
    void presentAlert(const std::shared_ptr<AlertView>& alert) override;
    void alertClosed(const AlertView& alert) override;
    std::vector<std::shared_ptr<AlertView>> visibleAlerts() const override;

    // Simulation side. Any thread; the work runs on the main thread (at once when called
    // there). Moves that do not apply to the current state are ignored (logged).
    void resignActive();
    void enterBackground();
    void enterForeground();
    void becomeActive();
    void moveToBackground();    // resign active (when active), then enter the background
    void returnToForeground();  // enter the foreground, then become active
    void receiveMemoryWarning();
    // Interface orientation 1-4; posts the status-bar orientation notification on change.
    // Between portrait and landscape, the visible windows that cover the screen swap their
    // width and height first, as a toolkit's windows follow the interface (the device's screen
    // bounds stay those of the portrait screen).
    void setStatusBarOrientation(int orientation);
    // Turns the device and the interface together: device orientations 1-4 set the status-bar
    // orientation of the same value (device landscape left 3 is the interface with the home
    // button on the right, 3); 0, 5 and 6 (unknown, face up, face down) change only the
    // device. The device notification is posted before the status-bar one.
    void rotate(int deviceOrientation);

    // Main thread. Delivers one touch or motion event.
    void sendEvent(Event event);
    // Main thread. A completed shake motion.
    void shake();
    std::shared_ptr<Responder> firstResponder() const;

    // Background tasks still open.
    size_t openBackgroundTaskCount() const;
    // Main thread: runs the expiry handlers of the open tasks now (as when the allowance ends).
    void expireBackgroundTasks();

    // Every hit test the application made for a new finger: the point and the view found.
    struct HitRecord {
        Point point;
        std::weak_ptr<View> view;
    };
    std::vector<HitRecord> hitHistory() const;

  private:
    void post(const char* name);
    void turnWindows(bool wasLandscape);  // main thread
    void runOnMain(std::function<void()> work);
    void scheduleExpiry();

    std::shared_ptr<HeadlessDevice> device_;
    const double allowance_;
    std::atomic<ApplicationState> state_{ApplicationState::Active};
    std::atomic<int> statusBarOrientation_{1};
    std::atomic<bool> networkIndicator_{false};

    // The window list, key history and alerts are changed on the main thread but may be read
    // from any thread (a recorder asking for the key window); windowsMutex_ guards them.
    mutable std::mutex windowsMutex_;
    std::vector<std::shared_ptr<Window>> windows_;
    std::vector<std::weak_ptr<Window>> keyHistory_;  // last is the key window
    std::vector<std::shared_ptr<AlertView>> alerts_;
    // Main thread only.
    TouchDispatcher touches_;

    mutable std::mutex mutex_;  // background tasks and the hit history
    std::map<BackgroundTaskIdentifier, std::function<void()>> tasks_;
    BackgroundTaskIdentifier nextTask_ = 1;
    DelayedCall expiry_;
    std::vector<HitRecord> hits_;
};

}  // namespace rivlo
