#include "HeadlessTestMain.h"

#include "foundation/NotificationCenter.h"
#include "platform/AlertView.h"
#include "platform/Platform.h"
#include "platform/ViewController.h"
#include "platform/Window.h"

#include <filesystem>

namespace rivlo::testing {

namespace {
class ApplicationTest : public HeadlessTest {
  protected:
    void observe(const std::vector<std::string>& names) {
        for (const auto& n : names) {
            tokens.push_back(NotificationCenter::defaultCenter().addObserver(
                n, nullptr, [this](const Notification& note) {
                    seen.push_back(note.name);
                    objects.push_back(note.object);
                }));
        }
    }
    void TearDown() override {
        for (auto t : tokens)
            NotificationCenter::defaultCenter().removeObserver(t);
        HeadlessTest::TearDown();
    }
    std::vector<NotificationCenter::Token> tokens;
    std::vector<std::string> seen;
    std::vector<const void*> objects;
};

class Answers : public AlertViewDelegate {
  public:
    void alertViewClickedButtonAtIndex(AlertView& alert, int index) override {
        answers.push_back(alert.tag() * 100 + index);
    }
    std::vector<int> answers;
};
}  // namespace

TEST_F(ApplicationTest, BackgroundAndForegroundPostInThePlatformOrder) {
    observe({ApplicationNotification::WillResignActive, ApplicationNotification::DidEnterBackground,
             ApplicationNotification::WillEnterForeground,
             ApplicationNotification::DidBecomeActive});
    auto& app = platform->application();
    EXPECT_EQ(app.applicationState(), ApplicationState::Active);
    app.moveToBackground();
    EXPECT_EQ(app.applicationState(), ApplicationState::Background);
    app.returnToForeground();
    EXPECT_EQ(app.applicationState(), ApplicationState::Active);
    EXPECT_EQ(seen, (std::vector<std::string>{"UIApplicationWillResignActiveNotification",
                                              "UIApplicationDidEnterBackgroundNotification",
                                              "UIApplicationWillEnterForegroundNotification",
                                              "UIApplicationDidBecomeActiveNotification"}));
    for (const void* o : objects) {
        EXPECT_EQ(o, static_cast<const void*>(static_cast<Application*>(&app)));
    }
    // Moves that do not apply are ignored.
    seen.clear();
    app.enterForeground();
    app.becomeActive();
    EXPECT_TRUE(seen.empty());
}

TEST_F(ApplicationTest, MovesFromAnotherThreadRunOnTheMainRunLoop) {
    observe({ApplicationNotification::DidEnterBackground});
    std::thread::id postedOn;
    tokens.push_back(NotificationCenter::defaultCenter().addObserver(
        ApplicationNotification::DidEnterBackground, nullptr,
        [&](const Notification&) { postedOn = std::this_thread::get_id(); }));
    auto& app = platform->application();
    std::thread([&] { app.moveToBackground(); }).join();
    ASSERT_TRUE(RunLoop::main().runUntil([&] { return !seen.empty(); }, std::chrono::seconds(5)));
    EXPECT_EQ(postedOn, std::this_thread::get_id());
}

TEST_F(ApplicationTest, BackgroundTasksExpireThroughTheirHandlers) {
    auto& app = platform->application();
    int expired = 0;
    BackgroundTaskIdentifier id = InvalidBackgroundTask;
    id = app.beginBackgroundTask([&] {
        ++expired;
        app.endBackgroundTask(id);
    });
    EXPECT_NE(id, InvalidBackgroundTask);
    auto second = app.beginBackgroundTask(nullptr);
    EXPECT_NE(second, id);
    EXPECT_EQ(app.openBackgroundTaskCount(), 2u);
    app.endBackgroundTask(second);
    app.endBackgroundTask(second);  // twice: nothing
    app.endBackgroundTask(12345);   // unknown: nothing
    app.moveToBackground();
    app.expireBackgroundTasks();
    EXPECT_EQ(expired, 1);
    EXPECT_EQ(app.openBackgroundTaskCount(), 0u);
}

TEST_F(ApplicationTest, BackgroundAllowanceEndsOnTheRunLoop) {
    platform.reset();
    HeadlessProfile profile;
    profile.backgroundTaskAllowance = 0.05;
    platform = HeadlessPlatform::install(profile);
    auto& app = platform->application();
    bool expired = false;
    app.beginBackgroundTask([&] { expired = true; });
    app.moveToBackground();
    EXPECT_TRUE(RunLoop::main().runUntil([&] { return expired; }, std::chrono::seconds(5)));
    EXPECT_EQ(app.openBackgroundTaskCount(), 0u);  // ended by the platform when the handler did not
}

TEST_F(ApplicationTest, RotationPostsDeviceThenStatusBarNotifications) {
    observe({DeviceOrientationDidChangeNotification,
             ApplicationNotification::DidChangeStatusBarOrientation});
    auto& device = platform->device();
    auto& app = platform->application();
    EXPECT_EQ(device.orientation(), DeviceOrientation::Unknown);  // not generating yet
    app.rotate(DeviceOrientation::LandscapeLeft);
    EXPECT_EQ(seen,
              (std::vector<std::string>{"UIApplicationDidChangeStatusBarOrientationNotification"}));
    EXPECT_EQ(app.statusBarOrientation(), 3);

    seen.clear();
    device.beginGeneratingDeviceOrientationNotifications();
    EXPECT_EQ(device.orientation(), DeviceOrientation::LandscapeLeft);
    app.rotate(DeviceOrientation::Portrait);
    EXPECT_EQ(seen,
              (std::vector<std::string>{"UIDeviceOrientationDidChangeNotification",
                                        "UIApplicationDidChangeStatusBarOrientationNotification"}));
    seen.clear();
    app.rotate(DeviceOrientation::FaceUp);  // the interface stays
    EXPECT_EQ(seen, (std::vector<std::string>{"UIDeviceOrientationDidChangeNotification"}));
    EXPECT_EQ(app.statusBarOrientation(), 1);
    seen.clear();
    app.rotate(9);
    app.setStatusBarOrientation(0);
    EXPECT_TRUE(seen.empty());
}

TEST_F(ApplicationTest, WindowsCoveringTheScreenFollowTheInterfaceOrientation) {
    auto& app = platform->application();
    auto window = platform->makeKeyWindow();
    auto root = std::make_shared<ViewController>();
    window->setRootViewController(root);
    auto strip = std::make_shared<Window>(Rect(0, 0, 320, 20));  // lays itself out
    strip->makeKeyAndVisible();
    window->makeKeyWindow();
    auto size = [](const std::shared_ptr<View>& v) { return v->bounds().size; };

    app.rotate(DeviceOrientation::LandscapeLeft);
    EXPECT_EQ(size(window), (Size{568, 320}));
    EXPECT_EQ(size(root->view()), (Size{568, 320}));
    EXPECT_EQ(size(strip), (Size{320, 20}));
    app.rotate(DeviceOrientation::LandscapeRight);  // landscape to landscape: no change
    EXPECT_EQ(size(window), (Size{568, 320}));
    app.rotate(DeviceOrientation::PortraitUpsideDown);
    EXPECT_EQ(size(window), (Size{320, 568}));
    EXPECT_EQ(size(root->view()), (Size{320, 568}));
    EXPECT_EQ(platform->device().screenBounds().size, (Size{320, 568}));
}

TEST_F(ApplicationTest, AlertsAreAnsweredOrDismissedByTheScenario) {
    auto& app = platform->application();
    auto answers = std::make_shared<Answers>();
    auto alert = std::make_shared<AlertView>("Camera", "May we record?", answers, "No",
                                             std::vector<std::string>{"Yes"});
    alert->setTag(7);
    EXPECT_EQ(alert->cancelButtonIndex(), 0);
    EXPECT_EQ(alert->buttonTitleAtIndex(1), "Yes");
    alert->show();
    ASSERT_EQ(app.visibleAlerts().size(), 1u);
    auto window = platform->makeKeyWindow();
    int taps = 0;
    auto tap = std::make_shared<TapGestureRecognizer>(1);
    tap->addTarget(this, [&](GestureRecognizer&) { ++taps; });
    window->addGestureRecognizer(tap);
    platform->tap({10, 10});  // the alert is modal
    EXPECT_EQ(taps, 0);
    EXPECT_FALSE(alert->clickButton(5));
    EXPECT_TRUE(alert->clickButton(1));
    EXPECT_EQ(answers->answers, (std::vector<int>{701}));
    EXPECT_TRUE(app.visibleAlerts().empty());

    auto other = std::make_shared<AlertView>("Q", "", answers, "", std::vector<std::string>{"A"});
    EXPECT_EQ(other->cancelButtonIndex(), -1);
    other->show();
    other->dismissWithClickedButtonIndex(0, false);  // closes without an answer
    EXPECT_EQ(answers->answers.size(), 1u);
    EXPECT_FALSE(other->clickButton(0));
    EXPECT_TRUE(app.visibleAlerts().empty());
}

TEST_F(ApplicationTest, DeviceFactsAndSandbox) {
    auto device = Platform::current().device();
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->machineIdentifier(), "iPhone7,2");
    EXPECT_EQ(device->userInterfaceIdiom(), UserInterfaceIdiom::Phone);
    EXPECT_EQ(device->identifierForVendor(), "6B29FC40-CA47-1067-B31D-00DD010662DA");
    EXPECT_EQ(device->screenBounds(), Rect(0, 0, 320, 568));
    const std::string caches = device->cachesDirectory();
    EXPECT_TRUE(std::filesystem::is_directory(caches));
    EXPECT_EQ(caches.rfind(platform->device().sandboxDirectory(), 0), 0u);
    EXPECT_NE(caches, device->defaultsDirectory());

    HeadlessProfile p;
    std::string error;
    EXPECT_TRUE(HeadlessProfile::fromValue(Value::parse(R"({"machine":"iPad4,1","idiom":1,
        "network":"cellular","bundle":{"displayName":null}})"),
                                           p, error));
    EXPECT_EQ(p.machineIdentifier, "iPad4,1");
    EXPECT_EQ(p.network, NetworkStatus::Cellular);
    EXPECT_FALSE(p.bundle.displayName.has_value());
    EXPECT_FALSE(HeadlessProfile::fromValue(Value::parse(R"({"idiom":"pad"})"), p, error));
    EXPECT_EQ(error, "\"idiom\" must be a number");
    EXPECT_FALSE(HeadlessProfile::fromValue(Value::parse(R"({"network":"5g"})"), p, error));
    EXPECT_FALSE(HeadlessProfile::fromValue(Value::parse(R"({"scale":0})"), p, error));
}

TEST_F(ApplicationTest, ReachabilityFollowsTheScriptedStatus) {
    auto source = Platform::current().reachability();
    auto zero = source->targetForZeroAddress();
    ASSERT_NE(zero, nullptr);
    EXPECT_EQ(zero->flags(), ReachabilityFlag::Reachable);
    std::vector<uint32_t> changes;
    ASSERT_TRUE(zero->start([&](uint32_t f) { changes.push_back(f); }));
    platform->reachability().setStatus(NetworkStatus::Cellular);
    ASSERT_TRUE(
        RunLoop::main().runUntil([&] { return !changes.empty(); }, std::chrono::seconds(5)));
    EXPECT_TRUE(changes[0] & ReachabilityFlag::IsWWAN);
    EXPECT_TRUE(changes[0] & ReachabilityFlag::Reachable);

    auto host = source->targetForHostName("api.example.com");
    platform->reachability().setHostStatus("api.example.com", NetworkStatus::None);
    EXPECT_EQ(host->flags(), 0u);
    EXPECT_TRUE(*zero->flags() & ReachabilityFlag::Reachable);

    zero->stop();
    changes.clear();
    platform->reachability().setStatus(NetworkStatus::None);
    RunLoop::main().runPending();
    EXPECT_TRUE(changes.empty());

    platform->reachability().setFlagsUnreadable(true);
    EXPECT_EQ(zero->flags(), std::nullopt);
    platform->reachability().setRefusing(true);
    EXPECT_EQ(source->targetForZeroAddress(), nullptr);
}

TEST_F(ApplicationTest, ExceptionSlotHandsTheExceptionToTheHandler) {
    static std::string received;
    auto slot = Platform::current().exceptionHandler();
    EXPECT_EQ(slot->handler(), nullptr);
    EXPECT_FALSE(platform->exceptionSlot().raise({"std::runtime_error", "boom", {}}));
    slot->setHandler([](const ExceptionInfo& e) { received = e.name + ": " + e.reason; });
    EXPECT_TRUE(platform->exceptionSlot().raise({"std::runtime_error", "boom", {}}));
    EXPECT_EQ(received, "std::runtime_error: boom");
}

}  // namespace rivlo::testing
