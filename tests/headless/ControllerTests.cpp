#include "HeadlessTestMain.h"

#include "platform/ViewController.h"

namespace rivlo::testing {

namespace {
class ControllerTest : public HeadlessTest {};

// Logs every appearance call with the controller's class name.
class Screen : public ViewController {
  public:
    Screen(const std::string& name, std::vector<std::string>* log)
        : ViewController(ObjClass::define(name, ViewController::classObject())), log_(log) {}
    void viewWillAppear(bool) override { log_->push_back("will " + className()); }
    void viewDidAppear(bool) override { log_->push_back("did " + className()); }
    void viewWillDisappear(bool) override { log_->push_back("willhide " + className()); }
    void viewDidDisappear(bool) override { log_->push_back("didhide " + className()); }

  private:
    std::vector<std::string>* log_;
};

using Log = std::vector<std::string>;
}  // namespace

TEST_F(ControllerTest, NavigationPushAndPopInThePlatformOrder) {
    Log log;
    auto login = std::make_shared<Screen>("LoginScreen", &log);
    auto list = std::make_shared<Screen>("ListScreen", &log);
    auto nav = std::make_shared<NavigationController>(login);
    EXPECT_TRUE(nav->isMemberOfClass(NavigationController::classObject()));
    auto window = platform->makeKeyWindow();
    window->setRootViewController(nav);
    EXPECT_EQ(log, (Log{"will LoginScreen", "did LoginScreen"}));
    EXPECT_EQ(login->view()->superview(), nav->view().get());
    EXPECT_EQ(login->view()->frame(), window->bounds());

    log.clear();
    nav->pushViewController(list, true);
    EXPECT_EQ(log, (Log{"willhide LoginScreen", "will ListScreen", "didhide LoginScreen",
                        "did ListScreen"}));
    EXPECT_EQ(nav->visibleViewController(), list);
    EXPECT_EQ(list->navigationController(), nav.get());
    EXPECT_EQ(window->hitTest({100, 100}, nullptr), list->view());

    log.clear();
    nav->pushViewController(list, true);  // already there: refused
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(nav->popViewController(true), list);
    EXPECT_EQ(log, (Log{"willhide ListScreen", "will LoginScreen", "didhide ListScreen",
                        "did LoginScreen"}));
    EXPECT_EQ(nav->popViewController(true), nullptr);  // the root stays
    EXPECT_EQ(list->view()->superview(), nullptr);
}

TEST_F(ControllerTest, PresentDismissAndTabSwitch) {
    Log log;
    auto home = std::make_shared<Screen>("HomeScreen", &log);
    auto settings = std::make_shared<Screen>("SettingsScreen", &log);
    auto tabs = std::make_shared<TabBarController>();
    tabs->setViewControllers({home, settings});
    auto window = platform->makeKeyWindow();
    window->setRootViewController(tabs);
    EXPECT_EQ(log, (Log{"will HomeScreen", "did HomeScreen"}));

    log.clear();
    tabs->setSelectedIndex(1);
    EXPECT_EQ(log, (Log{"willhide HomeScreen", "will SettingsScreen", "didhide HomeScreen",
                        "did SettingsScreen"}));
    log.clear();
    tabs->setSelectedIndex(1);  // same tab: nothing
    tabs->setSelectedIndex(7);  // no such tab: nothing
    EXPECT_TRUE(log.empty());

    auto modal = std::make_shared<Screen>("ModalScreen", &log);
    settings->presentViewController(modal, true);
    EXPECT_EQ(log, (Log{"willhide SettingsScreen", "will ModalScreen", "didhide SettingsScreen",
                        "did ModalScreen"}));
    EXPECT_EQ(window->subviews().back(), modal->view());
    EXPECT_EQ(platform->application().firstResponder(), modal);
    log.clear();
    modal->dismissViewController(true);  // asked of the presented one: its presenter dismisses
    EXPECT_EQ(log, (Log{"willhide ModalScreen", "will SettingsScreen", "didhide ModalScreen",
                        "did SettingsScreen"}));
    EXPECT_EQ(settings->presentedViewController(), nullptr);
    EXPECT_EQ(modal->view()->superview(), nullptr);
}

TEST_F(ControllerTest, HiddenWindowsSendNoAppearanceUntilShown) {
    Log log;
    auto screen = std::make_shared<Screen>("LateScreen", &log);
    auto window = std::make_shared<Window>(Rect(0, 0, 320, 568));
    window->setRootViewController(screen);
    EXPECT_TRUE(log.empty());
    window->makeKeyAndVisible();
    EXPECT_EQ(log, (Log{"will LateScreen", "did LateScreen"}));
    log.clear();
    window->setHidden(true);
    EXPECT_EQ(log, (Log{"willhide LateScreen", "didhide LateScreen"}));
}

}  // namespace rivlo::testing
