#include "HeadlessTestMain.h"

#include "foundation/Log.h"
#include "foundation/NotificationCenter.h"
#include "platform/OverrideScope.h"
#include "platform/ViewController.h"
#include "platform/WebView.h"
#include "support/LogCapture.h"

#include <mutex>

namespace rivlo::testing {

namespace {
class MethodTableTest : public HeadlessTest {};

// The exchange rule hooks rely on: add the replacement under the hooked selector when the
// class only inherits it (and keep the old implementation under the replacement's selector),
// otherwise exchange the two implementations.
void safeExchange(ObjClass* cls, const std::string& hooked, const std::string& replacement) {
    MethodRef original = cls->instanceMethod(hooked);
    MethodRef swizzled = cls->instanceMethod(replacement);
    ASSERT_TRUE(original && swizzled);
    if (cls->addMethod(hooked, swizzled->implementation())) {
        cls->replaceMethod(replacement, original->implementation());
    } else {
        ObjClass::exchangeImplementations(original, swizzled);
    }
}

class RecordingController : public ViewController {
  public:
    RecordingController(ObjClass* cls, std::vector<std::string>* log)
        : ViewController(cls), log_(log) {}
    void viewWillAppear(bool) override { log_->push_back("host will " + className()); }
    void viewDidAppear(bool) override { log_->push_back("host did " + className()); }
    void motionEnded(int subtype, const Event*) override {
        log_->push_back("host motion " + std::to_string(subtype));
    }

  private:
    std::vector<std::string>* log_;
};

// Installs a replacement under `selector` on `cls` that logs, then calls through to whatever
// the replacement selector resolves to at call time.
void addAppearHook(ObjClass* cls, const std::string& selector, std::vector<std::string>* log) {
    cls->addMethod(selector, makeImplementation<ViewController::AppearFn>(
                                 [log, selector](ViewController& self, bool animated) {
                                     log->push_back("hook " + self.className());
                                     IMP next = self.objClass()->lookup(selector);
                                     invokeImplementation<ViewController::AppearFn>(
                                         next, selector.c_str(), self, animated);
                                 }));
}
}  // namespace

TEST_F(MethodTableTest, AddPathOnAClassThatOnlyInheritsTheMethod) {
    std::vector<std::string> log;
    ObjClass* cls = ObjClass::define("AddPathController", ViewController::classObject());
    ASSERT_EQ(cls->ownMethod(Selector::viewWillAppear), nullptr);
    addAppearHook(cls, "test_swizzled_viewWillAppear:", &log);
    safeExchange(cls, Selector::viewWillAppear, "test_swizzled_viewWillAppear:");

    // The class now defines the hooked selector itself; its superclass is untouched.
    EXPECT_NE(cls->ownMethod(Selector::viewWillAppear), nullptr);
    EXPECT_NE(ViewController::classObject()->lookup(Selector::viewWillAppear),
              cls->lookup(Selector::viewWillAppear));

    auto hooked = std::make_shared<RecordingController>(cls, &log);
    hooked->dispatchViewWillAppear(false);
    EXPECT_EQ(log,
              (std::vector<std::string>{"hook AddPathController", "host will AddPathController"}));

    log.clear();
    ObjClass* other = ObjClass::define("UnhookedController", ViewController::classObject());
    auto plain = std::make_shared<RecordingController>(other, &log);
    plain->dispatchViewWillAppear(false);
    EXPECT_EQ(log, (std::vector<std::string>{"host will UnhookedController"}));
}

TEST_F(MethodTableTest, ExchangePathOnAClassThatDefinesTheMethod) {
    std::vector<std::string> log;
    ObjClass* cls = ObjClass::define("ExchangePathController", ViewController::classObject());
    // The class's own implementation (as a host subclass defining the method would have).
    ASSERT_TRUE(cls->addMethod(
        Selector::viewDidAppear,
        makeImplementation<ViewController::AppearFn>([&log](ViewController&, bool animated) {
            log.push_back(animated ? "own animated" : "own");
        })));
    addAppearHook(cls, "test_swizzled_viewDidAppear:", &log);
    MethodRef before = cls->ownMethod(Selector::viewDidAppear);
    safeExchange(cls, Selector::viewDidAppear, "test_swizzled_viewDidAppear:");
    EXPECT_EQ(cls->ownMethod(Selector::viewDidAppear), before);  // same entry, new implementation

    auto vc = std::make_shared<RecordingController>(cls, &log);
    vc->dispatchViewDidAppear(true);
    EXPECT_EQ(log, (std::vector<std::string>{"hook ExchangePathController", "own animated"}));
    // Exchanging again restores the original behaviour.
    ObjClass::exchangeImplementations(cls->ownMethod(Selector::viewDidAppear),
                                      cls->ownMethod("test_swizzled_viewDidAppear:"));
    log.clear();
    vc->dispatchViewDidAppear(false);
    EXPECT_EQ(log, (std::vector<std::string>{"own"}));
}

TEST_F(MethodTableTest, MotionHookOnTheResponderPostsShakeAndTheHostHandlerStillRuns) {
    std::vector<std::string> log;
    ObjClass* responder = Responder::classObject();
    const char* replacement = "test_swizzled_motionEnded:withEvent:";
    responder->replaceMethod(replacement,
                             makeImplementation<Responder::MotionFn>(
                                 [replacement](Responder& self, int subtype, const Event* e) {
                                     if (subtype == EventSubtypeMotionShake) {
                                         NotificationCenter::defaultCenter().post("shake", &self);
                                     }
                                     IMP next = self.objClass()->lookup(replacement);
                                     invokeImplementation<Responder::MotionFn>(next, replacement,
                                                                               self, subtype, e);
                                 }));
    safeExchange(responder, Selector::motionEndedWithEvent, replacement);

    int shakes = 0;
    const void* shaken = nullptr;
    auto token = NotificationCenter::defaultCenter().addObserver("shake", nullptr,
                                                                 [&](const Notification& n) {
                                                                     ++shakes;
                                                                     shaken = n.object;
                                                                 });
    auto window = platform->makeKeyWindow();
    auto vc = std::make_shared<RecordingController>(
        ObjClass::define("ShakeController", ViewController::classObject()), &log);
    window->setRootViewController(vc);
    platform->application().shake();
    EXPECT_EQ(shakes, 1);
    EXPECT_EQ(shaken, static_cast<const void*>(static_cast<Responder*>(vc.get())));
    EXPECT_NE(std::find(log.begin(), log.end(), "host motion 1"), log.end());

    log.clear();
    vc->dispatchMotionEnded(0, nullptr);  // another subtype: no notification, host still runs
    EXPECT_EQ(shakes, 1);
    EXPECT_EQ(log, (std::vector<std::string>{"host motion 0"}));
    NotificationCenter::defaultCenter().removeObserver(token);
    // Undo the exchange for the other tests in this process.
    ObjClass::exchangeImplementations(responder->ownMethod(Selector::motionEndedWithEvent),
                                      responder->ownMethod(replacement));
}

namespace {
// A host class that implements the motion and appearance methods itself (its class has its own
// table entries), calling through to its superclass or not.
class ImplementingController : public ViewController {
  public:
    ImplementingController(const std::string& name, bool callsThrough,
                           std::vector<std::string>* log)
        : ViewController(ObjClass::define(name, ViewController::classObject())),
          callsThrough_(callsThrough),
          log_(log) {
        implementMotionEnded(objClass());
        implementAppearance(objClass());
    }
    void motionEnded(int subtype, const Event* event) override {
        log_->push_back("host motion " + std::to_string(subtype));
        if (callsThrough_) callSuperMotionEnded(*this, objClass(), subtype, event);
    }
    void viewWillAppear(bool animated) override {
        log_->push_back("host will");
        if (callsThrough_) callSuperViewWillAppear(*this, objClass(), animated);
    }
    void viewDidAppear(bool animated) override {
        log_->push_back("host did");
        if (callsThrough_) callSuperViewDidAppear(*this, objClass(), animated);
    }

  private:
    bool callsThrough_;
    std::vector<std::string>* log_;
};
}  // namespace

TEST_F(MethodTableTest, AClassesOwnEntryHidesTheHookedBaseEntryUnlessItCallsThrough) {
    std::vector<std::string> log;
    // Hooks on the base classes, as the library installs them: log, then call through.
    ObjClass* responder = Responder::classObject();
    const char* motionReplacement = "fidelity_swizzled_motionEnded:withEvent:";
    responder->replaceMethod(
        motionReplacement,
        makeImplementation<Responder::MotionFn>([&log, motionReplacement](
                                                    Responder& self, int subtype, const Event* e) {
            log.push_back("hook motion");
            IMP next = self.objClass()->lookup(motionReplacement);
            invokeImplementation<Responder::MotionFn>(next, motionReplacement, self, subtype, e);
        }));
    safeExchange(responder, Selector::motionEndedWithEvent, motionReplacement);
    ObjClass* controller = ViewController::classObject();
    const char* willReplacement = "fidelity_swizzled_viewWillAppear:";
    controller->replaceMethod(willReplacement,
                              makeImplementation<ViewController::AppearFn>(
                                  [&log, willReplacement](ViewController& self, bool animated) {
                                      log.push_back("hook will");
                                      IMP next = self.objClass()->lookup(willReplacement);
                                      invokeImplementation<ViewController::AppearFn>(
                                          next, willReplacement, self, animated);
                                  }));
    safeExchange(controller, Selector::viewWillAppear, willReplacement);

    // Its own entry that does not call through: the hooks never run, as on a real runtime.
    auto silent = std::make_shared<ImplementingController>("SilentController", false, &log);
    silent->dispatchMotionEnded(EventSubtypeMotionShake, nullptr);
    silent->dispatchViewWillAppear(false);
    silent->dispatchViewDidAppear(false);
    EXPECT_EQ(log, (std::vector<std::string>{"host motion 1", "host will", "host did"}));

    // Calling through: its own handling first, then the hook; the override runs once.
    log.clear();
    auto polite = std::make_shared<ImplementingController>("PoliteController", true, &log);
    polite->dispatchMotionEnded(EventSubtypeMotionShake, nullptr);
    polite->dispatchViewWillAppear(false);
    EXPECT_EQ(log,
              (std::vector<std::string>{"host motion 1", "hook motion", "host will", "hook will"}));

    // A plain override without an entry of its own runs from the base entry, after the hook.
    log.clear();
    auto plain = std::make_shared<RecordingController>(
        ObjClass::define("PlainOverrideController", ViewController::classObject()), &log);
    plain->dispatchMotionEnded(EventSubtypeMotionShake, nullptr);
    plain->dispatchViewWillAppear(false);
    EXPECT_EQ(log, (std::vector<std::string>{"hook motion", "host motion 1", "hook will",
                                             "host will PlainOverrideController"}));

    // Undo the exchanges for the other tests in this process.
    ObjClass::exchangeImplementations(responder->ownMethod(Selector::motionEndedWithEvent),
                                      responder->ownMethod(motionReplacement));
    ObjClass::exchangeImplementations(controller->ownMethod(Selector::viewWillAppear),
                                      controller->ownMethod(willReplacement));
}

TEST_F(MethodTableTest, WindowAndWebViewHooksSeeEveryTouchAndKeepTheResult) {
    ObjClass* windowClass = ObjClass::define("HookedWindow", Window::classObject());
    ObjClass* webClass = ObjClass::define("HookedWebView", WebView::classObject());
    std::vector<std::string> calls;
    std::vector<Point> windowPoints;
    std::vector<std::shared_ptr<View>> results;
    // Category-style: each class gets its own entry that calls the superclass's.
    windowClass->replaceMethod(
        Selector::hitTestWithEvent,
        makeImplementation<View::HitTestFn>([&, windowClass](View& self, Point p, const Event* e) {
            IMP super = windowClass->superclass()->lookup(Selector::hitTestWithEvent);
            auto hit = invokeImplementation<View::HitTestFn>(super, Selector::hitTestWithEvent,
                                                             self, p, e);
            calls.push_back("window");
            windowPoints.push_back(p);
            results.push_back(hit);
            return hit;
        }));
    webClass->replaceMethod(
        Selector::hitTestWithEvent,
        makeImplementation<View::HitTestFn>([&, webClass](View& self, Point p, const Event* e) {
            IMP super = webClass->superclass()->lookup(Selector::hitTestWithEvent);
            calls.push_back(
                "web " + static_cast<WebView&>(self).stringByEvaluatingJavaScript("document.URL"));
            return invokeImplementation<View::HitTestFn>(super, Selector::hitTestWithEvent, self, p,
                                                         e);
        }));

    auto window = std::make_shared<Window>(Rect(0, 0, 320, 568), windowClass);
    window->makeKeyAndVisible();
    auto web = std::make_shared<WebView>(Rect(0, 100, 320, 468), webClass);
    web->loadPage("https://example.com/", {320, 1000});
    window->addSubview(web);
    auto button = std::make_shared<View>(Rect(0, 0, 320, 100));
    window->addSubview(button);

    platform->tap({50, 50});
    platform->tap({50, 300});
    ASSERT_EQ(windowPoints.size(), 2u);
    EXPECT_EQ(windowPoints[0], (Point{50, 50}));
    EXPECT_EQ(results[0], button);
    EXPECT_EQ(results[1], web->contentView());  // the web view's result, passed on unchanged
    EXPECT_EQ(calls, (std::vector<std::string>{"window", "web https://example.com/", "window"}));
    auto hits = platform->application().hitHistory();
    ASSERT_EQ(hits.size(), 2u);
    EXPECT_EQ(hits[1].view.lock(), web->contentView());
}

TEST_F(MethodTableTest, AnImplementationOfTheWrongSignatureIsLoggedNotCalled) {
    auto log = std::make_unique<test::LogCapture>();
    ObjClass* cls = ObjClass::define("BrokenHitView", View::classObject());
    cls->replaceMethod(Selector::hitTestWithEvent,
                       makeImplementation<void(int)>([](int) { FAIL() << "must not run"; }));
    auto view = std::make_shared<View>(Rect(0, 0, 10, 10), cls);
    EXPECT_EQ(view->hitTest({1, 1}, nullptr), nullptr);
    const auto lines = log->lines();
    log.reset();
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines.back().find("hitTest:withEvent:"), std::string::npos);
    EXPECT_EQ(ObjClass::define("BrokenHitView", Window::classObject()), cls);  // name taken
}

}  // namespace rivlo::testing
