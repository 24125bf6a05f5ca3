// The touch and motion hooks and the gesture recorder, driven through the headless device's
// real touches, recognisers, rotations and shakes.

#include "InteractionWorld.h"

#include "core/RVSessionSteps.h"
#include "foundation/NotificationCenter.h"
#include "interaction/RVTouchHooks.h"
#include "platform/GestureRecognizer.h"
#include "platform/OverrideScope.h"
#include "platform/TextField.h"
#include "platform/ViewController.h"
#include "support/Registrations.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

using namespace rivlo;
using namespace rivlo::test;
using namespace std::chrono_literals;

namespace {

// The hooks and session steps the library's start registers, for the recorders this suite
// links.
const bool kRegistered = (rivlo::test::registerInteraction(), rivlo::test::registerScreenRecorder(),
                          rivlo::test::registerTimeline(), true);

class Interaction : public ::testing::Test {
  protected:
    InteractionWorld world;
    RVHeatTimeHandler* heat = RVHeatTimeHandler::sharedHandler();
    RVGestureHandler* gestures = RVGestureHandler::sharedHandler();

    size_t attachedToKeyWindow() const {
        size_t n = 0;
        for (const auto& r : gestures->gestureRecogniserList()) {
            n += r->view() == world.window().get() ? 1 : 0;
        }
        return n;
    }
    // Event codes of the first entry's records, in order.
    static std::vector<int> eventCodes() {
        std::vector<int> codes;
        Value ut = InteractionWorld::ut();
        for (const auto& entry : ut) {
            for (const auto& record : entry["cor"])
                codes.push_back(record[3].get<int>());
        }
        return codes;
    }
};

// A host view controller that implements motionEnded:withEvent: itself (its class has its own
// table entry, found before the responder's hooked one) and counts its own motion handling.
// Like a well-behaved host it calls through to its superclass, where the hook is; one that does
// not keeps every shake from the library, as on a real object runtime.
class ShakeCountingController : public ViewController {
  public:
    ShakeCountingController(const std::string& name, bool callsThrough)
        : ViewController(ObjClass::define(name, classObject())), callsThrough_(callsThrough) {
        implementMotionEnded(objClass());
    }
    void motionEnded(int subtype, const Event* event) override {
        handled.push_back(subtype);
        if (callsThrough_) callSuperMotionEnded(*this, objClass(), subtype, event);
    }
    std::vector<int> handled;

  private:
    bool callsThrough_;
};

}  // namespace

// ---- Hooks ----------------------------------------------------------------------------------

TEST_F(Interaction, HooksAreInPlaceWhenTheLibraryLoads) {
    // Nothing in this program called install(): the load-time initialiser did.
    EXPECT_TRUE(RVTouchHooks::isInstalled());
    EXPECT_NE(Window::classObject()->ownMethod(Selector::hitTestWithEvent), nullptr);
    EXPECT_NE(Responder::classObject()->ownMethod(RVTouchHooks::kSwizzledMotionEnded), nullptr);
    // The gesture steps are registered with the session controller.
    EXPECT_TRUE(static_cast<bool>(RVSessionSteps::gestures().unregisterGestures));
    EXPECT_TRUE(static_cast<bool>(RVSessionSteps::gestures().deviceOrientationDidChange));
    // Installing again changes nothing (the hook is not wrapped twice).
    RVTouchHooks::install();
    world.platform().tap({10, 10});
    EXPECT_EQ(eventCodes(), std::vector<int>({0}));
}

TEST_F(Interaction, HitTestAnswersWhatTheHostsHitTestAnswers) {
    auto panel = std::make_shared<View>(Rect(20, 20, 200, 200));
    auto button = std::make_shared<View>(Rect(10, 10, 50, 50));
    auto hidden = std::make_shared<View>(Rect(100, 100, 50, 50));
    hidden->setHidden(true);
    panel->addSubview(button);
    panel->addSubview(hidden);
    world.window()->addSubview(panel);

    for (Point p : {Point{40, 40}, Point{130, 130}, Point{300, 400}, Point{-5, 10}}) {
        EXPECT_EQ(world.window()->hitTest(p, nullptr), world.window()->defaultHitTest(p, nullptr))
            << p.x << "," << p.y;
    }
    EXPECT_EQ(world.window()->hitTest({40, 40}, nullptr), button);
    EXPECT_EQ(world.window()->hitTest({-5, 10}, nullptr), nullptr);  // outside: still recorded
    EXPECT_EQ(heat->heatMapPoint(), Point(-5, 10));
}

TEST_F(Interaction, ATouchIsNewWhenEitherCoordinateDiffers) {
    world.platform().tap({100, 200});
    EXPECT_EQ(heat->heatMapPoint(), Point(100, 200));
    EXPECT_EQ(attachedToKeyWindow(), 7u);

    // Same x, another y: a new touch (its gestures must not be placed at the old point).
    world.platform().tap({100, 300});
    EXPECT_EQ(heat->heatMapPoint(), Point(100, 300));
    // Same y, another x.
    world.platform().tap({150, 300});
    EXPECT_EQ(heat->heatMapPoint(), Point(150, 300));

    Value ut = InteractionWorld::ut();
    ASSERT_EQ(ut.size(), 1u);
    EXPECT_EQ(ut[0]["cor"], Value::parse(R"([[100,200,1,0,1,0,100,200],
                                            [100,300,1,0,1,0,100,300],
                                            [150,300,1,0,1,0,150,300]])"));
}

TEST_F(Interaction, RepeatedHitTestsOfOnePointAreOneTouch) {
    world.window()->hitTest({50, 60}, nullptr);
    ASSERT_EQ(attachedToKeyWindow(), 7u);
    // Taken off behind the hook's back: only a new touch would attach them again.
    for (const auto& r : gestures->gestureRecogniserList())
        world.window()->removeGestureRecognizer(r);
    ASSERT_EQ(attachedToKeyWindow(), 0u);

    // The platform hit-tests one touch several times: nothing is re-attached.
    world.window()->hitTest({50, 60}, nullptr);
    world.window()->hitTest({50, 60}, nullptr);
    EXPECT_EQ(attachedToKeyWindow(), 0u);

    // The next touch elsewhere attaches them again, to the window that is key now.
    auto second = world.platform().makeKeyWindow();
    world.window()->hitTest({51, 60}, nullptr);
    EXPECT_TRUE(gestures->gestureRecognizersRegistered());
    for (const auto& r : gestures->gestureRecogniserList())
        EXPECT_EQ(r->view(), second.get());
}

TEST_F(Interaction, AfterAStopTheFirstTouchAttachesTheRecognisersEvenAtTheSamePoint) {
    world.platform().tap({50, 60});
    ASSERT_EQ(attachedToKeyWindow(), 7u);
    gestures->unregisterGestures();  // the session stopped and posted
    ASSERT_EQ(attachedToKeyWindow(), 0u);
    // The next session's first tap lands exactly where the last one did: still recorded.
    RVHeatTimeHandler::reset();
    world.platform().tap({50, 60});
    EXPECT_EQ(attachedToKeyWindow(), 7u);
    Value ut = InteractionWorld::ut();
    ASSERT_EQ(ut.size(), 1u);
    EXPECT_EQ(ut[0]["cor"], Value::parse("[[50,60,1,0,1,0,50,60]]"));
}

TEST_F(Interaction, ATouchIsNewEvenWhenTheWebHookStoredTheSamePoint) {
    // A web view at the window's origin: its hook stores the touch point (in its own
    // coordinates, here the window's) as the heat-map point before the window's hook runs.
    heat->setHeatMapPoint({120, 300});
    world.window()->hitTest({120, 300}, nullptr);
    EXPECT_EQ(attachedToKeyWindow(), 7u);
    EXPECT_EQ(heat->heatMapPoint(), Point(120, 300));
}

TEST_F(Interaction, NoTouchIsRecordedBeforeVerification) {
    RVUtil::isInfoPostSuccess(false);
    heat->setHeatMapPoint({0, 0});
    world.platform().tap({100, 200});
    world.platform().swipe({100, 200}, {250, 200});
    EXPECT_EQ(heat->heatMapPoint(), Point(0, 0));
    EXPECT_EQ(attachedToKeyWindow(), 0u);
    EXPECT_EQ(InteractionWorld::ut().size(), 0u);
}

TEST_F(Interaction, SecureFieldsOfTheKeyWindowGoToTheScreenRecorder) {
    // Three levels down in the key window, next to a plain field.
    auto level1 = std::make_shared<View>(Rect(0, 0, 300, 300));
    auto level2 = std::make_shared<View>(Rect(0, 0, 300, 300));
    auto secure = std::make_shared<TextField>(Rect(10, 10, 200, 30));
    secure->setSecureTextEntry(true);
    auto plain = std::make_shared<TextField>(Rect(10, 50, 200, 30));
    level2->addSubview(secure);
    level2->addSubview(plain);
    level1->addSubview(level2);
    world.window()->addSubview(level1);
    // A secure field in another (visible, not key) window is not the recorder's business.
    auto other = std::make_shared<Window>(Rect(0, 0, 320, 480));
    auto otherSecure = std::make_shared<TextField>(Rect(10, 10, 200, 30));
    otherSecure->setSecureTextEntry(true);
    other->addSubview(otherSecure);
    other->setHidden(false);
    ASSERT_TRUE(world.window()->isKeyWindow());

    // Screen video off: no scan.
    world.platform().tap({200, 400});
    EXPECT_EQ(RVViewVideoHandler::sensitiveViewCount(), 0u);

    RVUtil::setting()->setIsScreenVideoOn(true);
    world.platform().tap({210, 400});
    EXPECT_EQ(RVViewVideoHandler::sensitiveViewCount(), 1u);
    world.platform().tap({220, 400});
    EXPECT_EQ(RVViewVideoHandler::sensitiveViewCount(), 1u);  // the same field once
    other->setHidden(true);
}

TEST_F(Interaction, ShakePostsOnceAndTheHostsHandlerStillRuns) {
    auto controller = std::make_shared<ShakeCountingController>("ShakeCountingController", true);
    world.window()->setRootViewController(controller);
    std::vector<const void*> shakes;
    auto token = NotificationCenter::defaultCenter().addObserver(
        RVTouchHooks::kShakeNotification, nullptr,
        [&](const Notification& n) { shakes.push_back(n.object); });

    world.app().shake();
    ASSERT_EQ(shakes.size(), 1u);
    EXPECT_EQ(shakes[0], static_cast<const void*>(static_cast<Responder*>(controller.get())));
    EXPECT_EQ(controller->handled, std::vector<int>({EventSubtypeMotionShake}));

    // Another motion subtype: the host's handler runs, nothing is posted.
    controller->dispatchMotionEnded(0, nullptr);
    EXPECT_EQ(shakes.size(), 1u);
    EXPECT_EQ(controller->handled, std::vector<int>({EventSubtypeMotionShake, 0}));

    // Shakes work before any verification too.
    RVUtil::isInfoPostSuccess(false);
    world.app().shake();
    EXPECT_EQ(shakes.size(), 2u);
    EXPECT_EQ(controller->handled.size(), 3u);

    // A host handler that does not call through hides the hook: its shakes post nothing.
    auto silent = std::make_shared<ShakeCountingController>("SilentShakeController", false);
    world.window()->setRootViewController(silent);
    world.app().shake();
    EXPECT_EQ(silent->handled, std::vector<int>({EventSubtypeMotionShake}));
    EXPECT_EQ(shakes.size(), 2u);
    NotificationCenter::defaultCenter().removeObserver(token);
}

// ---- Gestures -------------------------------------------------------------------------------

TEST_F(Interaction, TapsAndADoubleTap) {
    world.platform().tap({30, 40});
    EXPECT_EQ(RVViewVideoHandler::sharedHandler()->currentGesture(), RVGestureCode::Tap);
    // A double tap: the double-tap recogniser records 1; the single-tap recogniser, which is
    // made to wait for nothing, records each of its taps as well.
    world.platform().doubleTap({60, 70});
    std::vector<int> codes = eventCodes();
    ASSERT_EQ(codes.size(), 4u);
    EXPECT_EQ(codes[0], RVTimelineEvent::SingleTap);
    EXPECT_EQ(std::count(codes.begin(), codes.end(), RVTimelineEvent::DoubleTap), 1);
    EXPECT_EQ(std::count(codes.begin(), codes.end(), RVTimelineEvent::SingleTap), 3);
    Value ut = InteractionWorld::ut();
    ASSERT_EQ(ut.size(), 1u);
    EXPECT_EQ(ut[0]["cor"][0], Value::parse("[30,40,1,0,1,0,30,40]"));
    for (size_t i = 1; i < 4; ++i) {
        Value expected = Value::parse("[60,70,1,0,1,0,60,70]");
        expected[3] = codes[i];
        EXPECT_EQ(ut[0]["cor"][i], expected);
    }
}

TEST_F(Interaction, SwipeDirectionsFollowTheStatusBarOrientation) {
    // Physical swipe direction on the screen → event code, per status-bar orientation.
    struct Case {
        int orientation;
        int right, left, up, down;  // expected event codes for swipes reported so
    };
    const Case cases[] = {
        {1, RVTimelineEvent::SwipeRight, RVTimelineEvent::SwipeLeft, RVTimelineEvent::SwipeUp,
         RVTimelineEvent::SwipeDown},
        {2, RVTimelineEvent::SwipeLeft, RVTimelineEvent::SwipeRight, RVTimelineEvent::SwipeDown,
         RVTimelineEvent::SwipeUp},
        {3, RVTimelineEvent::SwipeUp, RVTimelineEvent::SwipeDown, RVTimelineEvent::SwipeLeft,
         RVTimelineEvent::SwipeRight},
        {4, RVTimelineEvent::SwipeDown, RVTimelineEvent::SwipeUp, RVTimelineEvent::SwipeRight,
         RVTimelineEvent::SwipeLeft},
    };
    const Point c{160, 240};
    for (const Case& k : cases) {
        RVHeatTimeHandler::reset();
        world.app().setStatusBarOrientation(k.orientation);
        world.platform().swipe(c, {c.x + 120, c.y});  // right
        world.platform().swipe(c, {c.x - 120, c.y});  // left
        world.platform().swipe(c, {c.x, c.y - 120});  // up
        world.platform().swipe(c, {c.x, c.y + 120});  // down
        EXPECT_EQ(eventCodes(), std::vector<int>({k.right, k.left, k.up, k.down}))
            << "orientation " << k.orientation;
        Value ut = InteractionWorld::ut();
        ASSERT_EQ(ut.size(), 1u);
        for (const auto& record : ut[0]["cor"]) {
            EXPECT_EQ(record[2], RVUtil::orientationForStatusBar(k.orientation));
            EXPECT_EQ(record[0], 160);
            EXPECT_EQ(record[1], 240);
        }
    }
    // Landscape 3, a swipe reported left is a swipe down for the screen recorder too.
    world.app().setStatusBarOrientation(3);
    world.platform().swipe(c, {c.x - 120, c.y});
    EXPECT_EQ(RVViewVideoHandler::sharedHandler()->currentGesture(), RVGestureCode::SwipeDown);
    world.app().setStatusBarOrientation(1);
    EXPECT_EQ(RVGestureHandler::mappedSwipeDirection(0, SwipeDirection::Left), 0);
    EXPECT_EQ(RVGestureHandler::mappedSwipeDirection(1, 3), 0);
}

namespace {
// Two fingers that move apart and come back to where they started: an ended pinch of scale 1.
TouchSynthesizer::Steps pinchBackToStart(Point c) {
    auto touch = [](int id, TouchPhase phase, Point p) {
        Touch t;
        t.identifier = id;
        t.phase = phase;
        t.locationInWindow = p;
        t.previousLocationInWindow = p;
        return t;
    };
    auto step = [](double at, std::vector<Touch> touches) {
        TouchSynthesizer::Step s;
        s.at = at;
        s.event.touches = std::move(touches);
        return s;
    };
    const int a = 9001, b = 9002;
    TouchSynthesizer::Steps steps;
    steps.push_back(step(0, {touch(a, TouchPhase::Began, {c.x - 50, c.y})}));
    steps.push_back(step(0.01, {touch(a, TouchPhase::Stationary, {c.x - 50, c.y}),
                                touch(b, TouchPhase::Began, {c.x + 50, c.y})}));
    double at = 0.02;
    for (double d : {110.0, 130.0, 150.0, 130.0, 110.0, 100.0}) {
        steps.push_back(step(at, {touch(a, TouchPhase::Moved, {c.x - d / 2, c.y}),
                                  touch(b, TouchPhase::Moved, {c.x + d / 2, c.y})}));
        at += 0.05;
    }
    steps.push_back(step(at, {touch(a, TouchPhase::Ended, {c.x - 50, c.y}),
                              touch(b, TouchPhase::Ended, {c.x + 50, c.y})}));
    return steps;
}
}  // namespace

TEST_F(Interaction, PinchesRecordOnlyWhenTheyEnd) {
    const Point c{160, 240};
    world.platform().pinch(c, 80, 200);  // outwards
    EXPECT_EQ(RVViewVideoHandler::sharedHandler()->currentGesture(), RVGestureCode::PinchOut);
    world.platform().pinch(c, 200, 80);  // inwards
    EXPECT_EQ(RVViewVideoHandler::sharedHandler()->currentGesture(), RVGestureCode::PinchIn);
    world.platform().deliver(pinchBackToStart(c));  // exactly 1.0 counts as outwards
    EXPECT_EQ(RVViewVideoHandler::sharedHandler()->currentGesture(), RVGestureCode::PinchOut);
    world.platform().pinch(c, 80, 200, /*cancel=*/true);  // cancelled: nothing
    EXPECT_EQ(eventCodes(), std::vector<int>({RVTimelineEvent::PinchOut, RVTimelineEvent::PinchIn,
                                              RVTimelineEvent::PinchOut}));
    // The point is the centre between the fingers, not the last finger that came down.
    Value record = InteractionWorld::ut()[0]["cor"][0];
    EXPECT_EQ(record[0], 160);
    EXPECT_EQ(record[1], 240);
    EXPECT_EQ(record[6], 160);
    EXPECT_EQ(record[7], 240);
}

TEST_F(Interaction, OrientationChangesBecomeOneRecordPerBurst) {
    auto& device = world.platform().device();
    device.beginGeneratingDeviceOrientationNotifications();
    auto token = NotificationCenter::defaultCenter().addObserver(
        DeviceOrientationDidChangeNotification, nullptr, [](const Notification& n) {
            runStep(RVSessionSteps::gestures().deviceOrientationDidChange, n);
        });
    auto records = [] {
        Value ut = InteractionWorld::ut();
        return ut.empty() ? size_t{0} : ut[0]["cor"].size();
    };
    // Settle on a known accepted orientation first (the recorder keeps it across sessions).
    world.app().rotate(DeviceOrientation::LandscapeRight);
    ASSERT_TRUE(RunLoop::main().runUntil(
        [&] { return gestures->currentOrientation() == DeviceOrientation::LandscapeRight; }, 2s));
    world.app().rotate(DeviceOrientation::Portrait);
    ASSERT_TRUE(RunLoop::main().runUntil([&] { return records() >= 1; }, 5s));
    RVHeatTimeHandler::reset();

    // Face up and back: nothing (face up is ignored, portrait is already accepted).
    world.app().rotate(DeviceOrientation::FaceUp);
    world.app().rotate(DeviceOrientation::Portrait);
    RunLoop::main().runUntil([] { return false; }, 300ms);
    EXPECT_EQ(records(), 0u);

    // Two changes 50 ms apart: one record, with the interface orientation it ended in.
    world.app().rotate(DeviceOrientation::LandscapeLeft);
    RunLoop::main().postAfter(0.05, [&] { world.app().rotate(DeviceOrientation::LandscapeRight); });
    ASSERT_TRUE(RunLoop::main().runUntil([&] { return records() >= 1; }, 5s));
    RunLoop::main().runUntil([] { return false; }, 300ms);
    EXPECT_EQ(InteractionWorld::ut(), Value::parse(R"([{"an":"unknown","at":"0","wb":0,
                               "cor":[[-999,-999,2,10,1,0,-999,-999]]}])"));

    NotificationCenter::defaultCenter().removeObserver(token);
    device.endGeneratingDeviceOrientationNotifications();
    world.app().setStatusBarOrientation(1);
}

TEST_F(Interaction, AWebPageScreenRecordsTheContentPoint) {
    RVUtil::setting()->setValidUrl("http://shop.example");
    auto screen = std::make_shared<RVVCDetail>();
    screen->setDidAppearVCName("http://shop.example/cart");
    screen->setIsVcNameIsUrl(true);
    heat->setVcDetail(screen);
    heat->setWebViewHeatMapPoint({12, 900});  // as the web view hook stores it
    gestures->recordGestureType(RVGestureCode::Tap, RVTimelineEvent::SingleTap);
    heat->setVcDetail(std::make_shared<RVVCDetail>());
    EXPECT_EQ(InteractionWorld::ut(),
              Value::parse(R"([{"an":"http://shop.example/cart","at":"0","wb":1,
                               "cor":[[12,900,1,0,1,0,0,0]]}])"));
}

TEST_F(Interaction, UnregisteringFromTheStoppingThreadDetachesOnTheMainThread) {
    world.platform().tap({20, 20});
    ASSERT_EQ(attachedToKeyWindow(), 7u);
    std::thread stopping([&] { runStep(RVSessionSteps::gestures().unregisterGestures); });
    stopping.join();
    EXPECT_FALSE(gestures->gestureRecognizersRegistered());
    ASSERT_TRUE(RunLoop::main().runUntil([&] { return attachedToKeyWindow() == 0; }, 2s));
    EXPECT_TRUE(world.window()->gestureRecognizers().empty());
}

TEST_F(Interaction, ATouchBeforeTheDetachRunsDoesNotKeepTheNextFirstTouchFromAttaching) {
    world.platform().tap({20, 20});
    ASSERT_EQ(attachedToKeyWindow(), 7u);
    std::thread stopping([&] { runStep(RVSessionSteps::gestures().unregisterGestures); });
    stopping.join();
    // A touch reaches the window after the stop asked for the detach, before it ran.
    world.window()->hitTest({20, 20}, nullptr);
    RunLoop::main().runPending();
    ASSERT_EQ(attachedToKeyWindow(), 0u);

    // The next session's first touch, at that same point, attaches them and is recorded.
    RVHeatTimeHandler::reset();
    world.platform().tap({20, 20});
    EXPECT_EQ(attachedToKeyWindow(), 7u);
    Value ut = InteractionWorld::ut();
    ASSERT_EQ(ut.size(), 1u);
    EXPECT_EQ(ut[0]["cor"], Value::parse("[[20,20,1,0,1,0,20,20]]"));
}

// ---- A user's session -----------------------------------------------------------------------

namespace {
class Screen : public ViewController {
  public:
    explicit Screen(const std::string& name)
        : ViewController(ObjClass::define(name, ViewController::classObject())) {}
};
}  // namespace

TEST_F(Interaction, AUsersScreensAndGesturesGiveTheExpectedTimeline) {
    // Clock running, so appear times and seconds are visible (each step well inside a second).
    RVHeatTimeHandler::startTimer(3.5);
    auto products = std::make_shared<Screen>("ProductsViewController");
    auto navigation = std::make_shared<NavigationController>(products);
    world.window()->setRootViewController(navigation);  // visible: appearance calls
    world.platform().tap({10, 100});

    // A visit to another screen without gestures, and back: the run continues.
    navigation->pushViewController(std::make_shared<Screen>("DetailViewController"), false);
    navigation->popViewController(false);
    world.platform().tap({20, 100});

    // Gestures on another screen, then back: three entries.
    RVHeatTimeHandler::startTimer(7.5);
    navigation->pushViewController(std::make_shared<Screen>("DetailViewController"), false);
    world.platform().swipe({100, 100}, {250, 100});
    navigation->popViewController(false);
    world.platform().tap({30, 100});

    // A plain view controller presented modally names nothing: still Products.
    navigation->presentViewController(std::make_shared<ViewController>(), false);
    world.platform().tap({40, 100});
    navigation->dismissViewController(false);

    // The host names the screen itself.
    RVHeatTimeHandler::startTimer(9.5);
    runStep(RVSessionSteps::timeline().tagScreenName, std::string("Checkout"));
    world.platform().tap({50, 100});

    // A navigation controller subclass is named after itself (its root here names nothing).
    auto custom = std::make_shared<NavigationController>(
        std::make_shared<ViewController>(),
        ObjClass::define("PaymentNavigationController", NavigationController::classObject()));
    navigation->presentViewController(custom, false);
    world.platform().tap({60, 100});

    EXPECT_EQ(InteractionWorld::ut(), Value::parse(R"([
        {"an":"ProductsViewController","at":"3","wb":0,
         "cor":[[10,100,1,0,1,3,10,100],[20,100,1,0,1,3,20,100]]},
        {"an":"DetailViewController","at":"7","wb":0,
         "cor":[[100,100,1,5,1,7,100,100]]},
        {"an":"ProductsViewController","at":"7","wb":0,
         "cor":[[30,100,1,0,1,7,30,100],[40,100,1,0,1,7,40,100]]},
        {"an":"Checkout","at":"9","wb":0,
         "cor":[[50,100,1,0,1,9,50,100]]},
        {"an":"PaymentNavigationController","at":"9","wb":0,
         "cor":[[60,100,1,0,1,9,60,100]]}
    ])"));
}

TEST_F(Interaction, TheDocumentedExampleEntry) {
    RVHeatTimeHandler::startTimer(14.5);
    world.platform().tap({160.5, 300});
    RVHeatTimeHandler::startTimer(20.5);
    world.app().setStatusBarOrientation(InterfaceOrientation::LandscapeRight);
    gestures->orientationChanged();
    world.app().setStatusBarOrientation(InterfaceOrientation::Portrait);
    EXPECT_EQ(InteractionWorld::ut().dump(),
              R"([{"an":"unknown","at":"0","cor":[[160.5,300,1,0,1,14,160.5,300],)"
              R"([-999,-999,0,10,1,20,-999,-999]],"wb":0}])");
}
