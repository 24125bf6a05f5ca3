#pragma once

#include "platform/Application.h"

#include <QPointer>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

class QMessageBox;
class QWidget;

namespace rivlo {

class View;

// The application seam over a QApplication. Windows are the shadow tree's windows plus the
// library's own (the status overlay, shown in a small frameless window of its own); the key
// window is the one last shown or activated that is still visible. Alerts show as message
// boxes. Lifecycle moves post the application notifications on the main thread:
//   resignActive(): WillResignActive       enterBackground(): DidEnterBackground
//   enterForeground(): WillEnterForeground becomeActive(): DidBecomeActive
// A program without a QApplication (Qt Quick on a QGuiApplication) has no widgets: the library's
// own windows and alerts are not shown there (logged).
// Background tasks run until they end: a desktop does not suspend a program, so they only
// expire when the program quits (expireBackgroundTasks()).
class QtApplication : public Application, public std::enable_shared_from_this<QtApplication> {
  public:
    QtApplication();
    ~QtApplication() override;

    ApplicationState applicationState() const override { return state_.load(); }
    int statusBarOrientation() const override { return orientation_.load(); }
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

    // Main thread. Moves that do not apply to the current state are ignored.
    void resignActive();
    void enterBackground();
    void enterForeground();
    void becomeActive();
    // Interface orientation 1-4; posts the status-bar orientation notification on change.
    void setStatusBarOrientation(int orientation);

    size_t openBackgroundTaskCount() const;
    // Main thread: runs the expiry handlers of the tasks still open.
    void expireBackgroundTasks();

    // Main thread: windows of the library's own (not shadows of the application's widgets or
    // Qt Quick windows). Each bridge tells which windows are its shadows.
    void addShadowWindowTest(std::function<bool(const Window&)> isShadow) {
        isShadow_.push_back(std::move(isShadow));
    }
    // Main thread: repaints the library's own windows (after their views changed).
    void updateLibraryWindows();
    QMessageBox* alertBox(const AlertView& alert) const;

  private:
    void post(const char* name);
    void showLibraryWindow(const std::shared_ptr<Window>& window);
    void hideLibraryWindow(const Window& window);

    std::atomic<ApplicationState> state_{ApplicationState::Active};
    std::atomic<int> orientation_{1};
    std::atomic<bool> networkIndicator_{false};
    std::vector<std::function<bool(const Window&)>> isShadow_;

    // Changed on the main thread, read from any thread (a recorder asking for the key window).
    mutable std::mutex windowsMutex_;
    std::vector<std::shared_ptr<Window>> windows_;
    std::vector<std::weak_ptr<Window>> keyHistory_;  // last is the key window
    std::vector<std::shared_ptr<AlertView>> alerts_;

    // Main thread only.
    std::map<const AlertView*, QPointer<QMessageBox>> alertBoxes_;
    std::map<const Window*, QPointer<QWidget>> libraryWindows_;

    mutable std::mutex tasksMutex_;
    std::map<BackgroundTaskIdentifier, std::function<void()>> tasks_;
    BackgroundTaskIdentifier nextTask_ = 1;
};

}  // namespace rivlo
