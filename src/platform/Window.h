#pragma once

#include "platform/View.h"

namespace rivlo {

class ViewController;

// Window levels: normal 0, alert 2000, status bar 1000.
inline constexpr double WindowLevelNormal = 0;
inline constexpr double WindowLevelStatusBar = 1000;
inline constexpr double WindowLevelAlert = 2000;

// The root of a view tree shown on the screen. A window starts hidden. Showing it registers it
// with the installed application, which owns the list of windows and the key window: the key
// window is the one last made key and still visible; hiding it passes the key to the visible
// window that was key before it, if any. Main thread only.
class Window : public View {
  public:
    static ObjClass* classObject();  // "UIWindow"
    explicit Window(Rect frame = {}, ObjClass* cls = classObject());

    std::shared_ptr<Window> sharedWindow() {
        return std::static_pointer_cast<Window>(weak_from_this().lock());
    }

    Window* window() const override;
    void setHidden(bool hidden) override;

    double windowLevel() const { return windowLevel_; }
    void setWindowLevel(double level) { windowLevel_ = level; }

    bool isKeyWindow() const;
    void makeKeyWindow();
    void makeKeyAndVisible();

    // The root view controller's view fills the window. Setting it while the window is visible
    // sends the appearance calls.
    std::shared_ptr<ViewController> rootViewController() const { return rootViewController_; }
    void setRootViewController(const std::shared_ptr<ViewController>& controller);

  private:
    double windowLevel_ = WindowLevelNormal;
    std::shared_ptr<ViewController> rootViewController_;
};

}  // namespace rivlo
