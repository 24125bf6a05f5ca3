#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace rivlo {

class AlertView;
class Window;

// Application notifications, posted on the default notification centre on the main thread
// with the application object (Application*) as object.
namespace ApplicationNotification {
inline constexpr const char* DidEnterBackground = "UIApplicationDidEnterBackgroundNotification";
inline constexpr const char* WillEnterForeground = "UIApplicationWillEnterForegroundNotification";
inline constexpr const char* DidBecomeActive = "UIApplicationDidBecomeActiveNotification";
inline constexpr const char* WillResignActive = "UIApplicationWillResignActiveNotification";
inline constexpr const char* DidReceiveMemoryWarning =
    "UIApplicationDidReceiveMemoryWarningNotification";
inline constexpr const char* DidChangeStatusBarOrientation =
    "UIApplicationDidChangeStatusBarOrientationNotification";
}  // namespace ApplicationNotification

enum class ApplicationState { Active = 0, Inactive = 1, Background = 2 };

// Status-bar (interface) orientations: portrait 1, upside down 2, landscape right 3 (home
// button right), landscape left 4.
namespace InterfaceOrientation {
inline constexpr int Portrait = 1;
inline constexpr int PortraitUpsideDown = 2;
inline constexpr int LandscapeRight = 3;
inline constexpr int LandscapeLeft = 4;
}  // namespace InterfaceOrientation

using BackgroundTaskIdentifier = uint64_t;
inline constexpr BackgroundTaskIdentifier InvalidBackgroundTask = 0;

// The application object of the host platform.
class Application {
  public:
    virtual ~Application() = default;

    // Any thread.
    virtual ApplicationState applicationState() const = 0;
    virtual int statusBarOrientation() const = 0;

    // Main thread: the key window (null when none) and the visible windows, back to front.
    virtual std::shared_ptr<Window> keyWindow() const = 0;
    virtual std::vector<std::shared_ptr<Window>> windows() const = 0;

    // Any thread. Begins a task that may run on in the background; the expiry handler runs on
    // the main thread when the platform's allowance ends and must end the task. Answers
    // InvalidBackgroundTask when the platform refuses. Ending an unknown or already ended
    // identifier does nothing.
    virtual BackgroundTaskIdentifier beginBackgroundTask(
        std::function<void()> expirationHandler) = 0;
    virtual void endBackgroundTask(BackgroundTaskIdentifier identifier) = 0;

    // Any thread.
    virtual bool isNetworkActivityIndicatorVisible() const = 0;
    virtual void setNetworkActivityIndicatorVisible(bool visible) = 0;

    // Toolkit side, main thread: windows report becoming visible, hidden or key.
    virtual void windowVisibilityChanged(const std::shared_ptr<Window>& window, bool visible) = 0;
    virtual void makeKeyWindow(const std::shared_ptr<Window>& window) = 0;
    // Toolkit side, main thread: alerts on the screen.
    virtual void presentAlert(const std::shared_ptr<AlertView>& alert) = 0;
    virtual void alertClosed(const AlertView& alert) = 0;
    virtual std::vector<std::shared_ptr<AlertView>> visibleAlerts() const = 0;
};

}  // namespace rivlo
