// The screen-naming hooks on view controllers, the host's screen tags and activation, through
// the toolkit's real appearance calls.

#include "core/RVSessionSteps.h"
#include "core/RVUtil.h"
#include "foundation/NotificationCenter.h"
#include "platform/Application.h"
#include "platform/ViewController.h"
#include "timeline/RVHeatTimeHandler.h"
#include "timeline/RVViewControllerHooks.h"

#include <gtest/gtest.h>

using namespace rivlo;

namespace {

// A host screen: a subclass with its own class object, counting its own appearance handling.
class HostController : public ViewController {
  public:
    explicit HostController(const std::string& name)
        : ViewController(ObjClass::define(name, ViewController::classObject())) {}
    void viewWillAppear(bool animated) override { willAppear.push_back(animated); }
    void viewDidAppear(bool animated) override { didAppear.push_back(animated); }
    std::vector<bool> willAppear, didAppear;
};

class ScreenNaming : public ::testing::Test {
  protected:
    void SetUp() override {
        RVHeatTimeHandler::resetTimer();
        RVHeatTimeHandler::reset();
        heat->setVcDetail(std::make_shared<RVVCDetail>());
    }
    void TearDown() override { RVHeatTimeHandler::resetTimer(); }
    std::string name() const { return heat->vcDetail()->vcName(); }
    std::string appearTime() const { return heat->vcDetail()->appearTime(); }
    RVHeatTimeHandler* heat = RVHeatTimeHandler::sharedHandler();
};

}  // namespace

TEST_F(ScreenNaming, HooksAndStepsAreInPlaceWhenTheLibraryLoads) {
    ObjClass* controller = ViewController::classObject();
    EXPECT_NE(controller->ownMethod(RVViewControllerHooks::kSwizzledViewWillAppear), nullptr);
    EXPECT_NE(controller->ownMethod(RVViewControllerHooks::kSwizzledViewDidAppear), nullptr);
    auto steps = RVSessionSteps::timeline();
    EXPECT_TRUE(steps.startTimer && steps.resetTimer && steps.reset && steps.saveHeatMap &&
                steps.postHeatTimeData && steps.tagScreenName);
    RVViewControllerHooks::install();  // again: nothing is wrapped twice
    HostController a("NamingOnceController");
    a.dispatchViewWillAppear(true);
    EXPECT_EQ(a.willAppear, std::vector<bool>({true}));
}

TEST_F(ScreenNaming, NamesFollowTheControllersClass) {
    HostController login("LoginViewController");
    EXPECT_EQ(RVViewControllerHooks::screenName(login), "LoginViewController");

    ViewController plain;
    EXPECT_EQ(RVViewControllerHooks::screenName(plain), std::nullopt);
    TabBarController tabs;
    EXPECT_EQ(RVViewControllerHooks::screenName(tabs), std::nullopt);
    HostController modalItem("_UIModalItemAppViewController");
    EXPECT_EQ(RVViewControllerHooks::screenName(modalItem), std::nullopt);

    // The exact navigation class is named after its visible controller; a subclass after
    // itself; one with nothing showing has no name.
    NavigationController empty;
    EXPECT_EQ(RVViewControllerHooks::screenName(empty), std::nullopt);
    auto detail = std::make_shared<HostController>("DetailViewController");
    NavigationController navigation(detail);
    EXPECT_EQ(RVViewControllerHooks::screenName(navigation), "DetailViewController");
    NavigationController shop(
        detail, ObjClass::define("ShopNavigationController", NavigationController::classObject()));
    EXPECT_EQ(RVViewControllerHooks::screenName(shop), "ShopNavigationController");
}

TEST_F(ScreenNaming, AppearanceNamesTheScreenAndTheHostsHandlersStillRun) {
    HostController a("ScreenAController");
    RVHeatTimeHandler::startTimer(12.5);
    a.dispatchViewWillAppear(true);
    EXPECT_EQ(name(), "ScreenAController");
    EXPECT_EQ(appearTime(), "12");
    RVHeatTimeHandler::startTimer(13.5);
    a.dispatchViewDidAppear(false);
    EXPECT_EQ(appearTime(), "12");  // already the name: nothing changes
    EXPECT_EQ(a.willAppear, std::vector<bool>({true}));
    EXPECT_EQ(a.didAppear, std::vector<bool>({false}));

    // A did-appear without a will-appear renames and takes its own time.
    HostController b("ScreenBController");
    RVHeatTimeHandler::startTimer(20.5);
    b.dispatchViewDidAppear(true);
    EXPECT_EQ(name(), "ScreenBController");
    EXPECT_EQ(appearTime(), "20");

    // A plain controller never names the screen; its handlers still run.
    heat->vcDetail()->setIsVcNameIsUrl(true);
    ViewController plain;
    plain.dispatchViewWillAppear(true);
    plain.dispatchViewDidAppear(true);
    EXPECT_EQ(name(), "ScreenBController");
    EXPECT_TRUE(heat->vcDetail()->isVcNameIsUrl());
    // A named one clears the web-page mark.
    a.dispatchViewWillAppear(true);
    EXPECT_FALSE(heat->vcDetail()->isVcNameIsUrl());

    // Without a current record, the hook creates one.
    heat->setVcDetail(nullptr);
    b.dispatchViewWillAppear(true);
    ASSERT_NE(heat->vcDetail(), nullptr);
    EXPECT_EQ(name(), "ScreenBController");
}

TEST_F(ScreenNaming, ContainersNameTheScreenTheyShow) {
    auto products = std::make_shared<HostController>("ProductsViewController");
    auto navigation = std::make_shared<NavigationController>(products);
    navigation->beginAppearance(true, false);
    navigation->endAppearance(true, false);
    EXPECT_EQ(name(), "ProductsViewController");
    EXPECT_EQ(products->didAppear.size(), 1u);

    navigation->pushViewController(std::make_shared<HostController>("CartViewController"), false);
    EXPECT_EQ(name(), "CartViewController");

    auto tabs = std::make_shared<TabBarController>();
    auto first = std::make_shared<HostController>("FirstTabController");
    auto second = std::make_shared<HostController>("SecondTabController");
    tabs->setViewControllers({first, second});
    tabs->beginAppearance(true, false);
    tabs->endAppearance(true, false);
    EXPECT_EQ(name(), "FirstTabController");
    tabs->setSelectedIndex(1);
    EXPECT_EQ(name(), "SecondTabController");
}

TEST_F(ScreenNaming, HostTagsRenameTheScreenOnce) {
    RVHeatTimeHandler::startTimer(5.5);
    HostController s("StartController");
    s.dispatchViewWillAppear(false);
    RVHeatTimeHandler::startTimer(9.5);
    runStep(RVSessionSteps::timeline().tagScreenName, std::string("Checkout"));
    auto screen = heat->vcDetail();
    EXPECT_EQ(screen->willAppearVCName(), "Checkout");
    EXPECT_EQ(screen->didAppearVCName(), std::nullopt);
    EXPECT_EQ(screen->appearTime(), "9");

    // A second tag with no record first creates one; the same name again changes nothing.
    heat->setVcDetail(nullptr);
    RVHeatTimeHandler::tagScreenName("Checkout");
    ASSERT_NE(heat->vcDetail(), nullptr);
    auto created = heat->vcDetail();
    RVHeatTimeHandler::startTimer(30.5);
    RVHeatTimeHandler::tagScreenName("Checkout");
    EXPECT_EQ(heat->vcDetail(), created);
    EXPECT_EQ(created->appearTime(), "9");
}

TEST_F(ScreenNaming, ActivationDuringTheFirstLaunchStartsAFreshRecord) {
    const bool first = RVUtil::isAppLoadingFirstTime();
    RVHeatTimeHandler::tagScreenName("Somewhere");
    auto before = heat->vcDetail();

    RVUtil::isAppLoadingFirstTime(false);
    NotificationCenter::defaultCenter().post(ApplicationNotification::DidBecomeActive);
    EXPECT_EQ(heat->vcDetail(), before);

    RVUtil::isAppLoadingFirstTime(true);
    NotificationCenter::defaultCenter().post(ApplicationNotification::DidBecomeActive);
    ASSERT_NE(heat->vcDetail(), before);
    EXPECT_EQ(name(), "unknown");
    EXPECT_EQ(appearTime(), "0");
    RVUtil::isAppLoadingFirstTime(first);
}
