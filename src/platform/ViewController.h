#pragma once

#include "platform/Responder.h"
#include "platform/View.h"

#include <memory>
#include <vector>

namespace rivlo {

class NavigationController;
class TabBarController;

// Manages one screen's view. Appearance calls go through the method table ("viewWillAppear:",
// "viewDidAppear:" on UIViewController) so installed hooks see them; a class's own entries
// (OverrideScope.h) or UIViewController's run viewWillAppear()/viewDidAppear(). A host
// subclass gives its own class object (ObjClass::define("LoginViewController",
// ViewController::classObject())) so that the class name names the screen.
// Main thread only.
class ViewController : public Responder {
  public:
    static ObjClass* classObject();  // "UIViewController"
    explicit ViewController(ObjClass* cls = classObject());

    std::shared_ptr<ViewController> sharedController() {
        return std::static_pointer_cast<ViewController>(weak_from_this().lock());
    }

    // Created on first use (loadView) with a white background.
    std::shared_ptr<View> view();
    bool isViewLoaded() const { return view_ != nullptr; }
    void setView(std::shared_ptr<View> view) { view_ = std::move(view); }

    const std::string& title() const { return title_; }
    void setTitle(std::string t) { title_ = std::move(t); }

    // Dispatches through the method table.
    void dispatchViewWillAppear(bool animated);
    void dispatchViewDidAppear(bool animated);
    // Plain virtual calls (no table entries are hooked for these).
    virtual void viewWillDisappear(bool animated) {}
    virtual void viewDidDisappear(bool animated) {}

    // The table's own entries. Do nothing by default.
    virtual void viewWillAppear(bool animated) {}
    virtual void viewDidAppear(bool animated) {}
    using AppearFn = void(ViewController& self, bool animated);

    ViewController* parentViewController() const { return parent_; }
    NavigationController* navigationController() const;
    TabBarController* tabBarController() const;

    // Modal presentation: the presented controller's view covers the window; appearance calls
    // go to both sides in the platform order (will-disappear, will-appear, did-disappear,
    // did-appear).
    void presentViewController(const std::shared_ptr<ViewController>& controller, bool animated);
    void dismissViewController(bool animated);
    std::shared_ptr<ViewController> presentedViewController() const { return presented_; }
    ViewController* presentingViewController() const { return presenting_; }

    // Whether its view is on the screen now (between did-appear and will-disappear).
    bool isVisible() const { return visible_; }

    // Toolkit side: appearance transitions with bookkeeping; containers forward them to the
    // child that is showing.
    virtual void beginAppearance(bool appearing, bool animated);
    virtual void endAppearance(bool appearing, bool animated);

  protected:
    virtual void loadView();
    void setParent(ViewController* parent) { parent_ = parent; }
    friend class NavigationController;
    friend class TabBarController;

  private:
    std::shared_ptr<View> view_;
    std::string title_;
    ViewController* parent_ = nullptr;
    ViewController* presenting_ = nullptr;
    std::shared_ptr<ViewController> presented_;
    bool visible_ = false;
};

// A stack of controllers of which the top one is showing. Main thread only.
class NavigationController : public ViewController {
  public:
    static ObjClass* classObject();  // "UINavigationController"
    explicit NavigationController(std::shared_ptr<ViewController> root = nullptr,
                                  ObjClass* cls = classObject());

    const std::vector<std::shared_ptr<ViewController>>& viewControllers() const { return stack_; }
    std::shared_ptr<ViewController> topViewController() const;
    // The top controller, or the controller it presents modally.
    std::shared_ptr<ViewController> visibleViewController() const;

    void pushViewController(const std::shared_ptr<ViewController>& controller, bool animated);
    // Answers the popped controller; null (and nothing changes) at the root.
    std::shared_ptr<ViewController> popViewController(bool animated);
    std::vector<std::shared_ptr<ViewController>> popToRootViewController(bool animated);

    void beginAppearance(bool appearing, bool animated) override;
    void endAppearance(bool appearing, bool animated) override;

  protected:
    void loadView() override;

  private:
    void showTop();
    std::vector<std::shared_ptr<ViewController>> stack_;
};

// Shows one of several controllers, chosen by index. Main thread only.
class TabBarController : public ViewController {
  public:
    static ObjClass* classObject();  // "UITabBarController"
    explicit TabBarController(ObjClass* cls = classObject());

    void setViewControllers(std::vector<std::shared_ptr<ViewController>> controllers);
    const std::vector<std::shared_ptr<ViewController>>& viewControllers() const { return tabs_; }
    size_t selectedIndex() const { return selected_; }
    std::shared_ptr<ViewController> selectedViewController() const;
    // Out-of-range indexes are ignored (logged).
    void setSelectedIndex(size_t index);

    void beginAppearance(bool appearing, bool animated) override;
    void endAppearance(bool appearing, bool animated) override;

  protected:
    void loadView() override;

  private:
    void showSelected();
    std::vector<std::shared_ptr<ViewController>> tabs_;
    size_t selected_ = 0;
};

}  // namespace rivlo
