#include "timeline/RVViewControllerHooks.h"

#include "core/RVUtil.h"
#include "foundation/NotificationCenter.h"
#include "platform/Application.h"
#include "platform/Runtime.h"
#include "platform/ViewController.h"
#include "timeline/RVHeatTimeHandler.h"

#include <mutex>

namespace rivlo {

namespace {

// Names the current screen; the record is created when there is none.
void nameScreen(const ViewController& controller, bool didAppear) {
    const std::optional<std::string> name = RVViewControllerHooks::screenName(controller);
    if (!name) return;
    auto screen = RVHeatTimeHandler::sharedHandler()->vcDetailCreatingIfNeeded();
    if (didAppear) {
        screen->setDidAppearVCName(*name);
    } else {
        screen->setWillAppearVCName(*name);
    }
    screen->setIsVcNameIsUrl(false);
}

// Runs the host's own handler: after the exchange, the swizzled selector names it.
void callThrough(ViewController& self, const char* selector, bool animated) {
    IMP original = self.objClass()->lookup(selector);
    invokeImplementation<ViewController::AppearFn>(original, selector, self, animated);
}

}  // namespace

void RVViewControllerHooks::install() {
    static std::once_flag once;
    std::call_once(once, [] {
        ObjClass* controller = ViewController::classObject();
        controller->addMethod(
            kSwizzledViewDidAppear,
            makeImplementation<ViewController::AppearFn>([](ViewController& self, bool animated) {
                rivlo_swizzled_viewDidAppear(self, animated);
            }));
        controller->addMethod(
            kSwizzledViewWillAppear,
            makeImplementation<ViewController::AppearFn>([](ViewController& self, bool animated) {
                rivlo_swizzled_viewWillAppear(self, animated);
            }));
        RVUtil::SafeExchange(controller, Selector::viewDidAppear, kSwizzledViewDidAppear);
        RVUtil::SafeExchange(controller, Selector::viewWillAppear, kSwizzledViewWillAppear);
        // Observed for the life of the process.
        NotificationCenter::defaultCenter().addObserver(
            ApplicationNotification::DidBecomeActive, nullptr,
            [](const Notification&) { applicationDidBecomeActive(); });
    });
}

std::optional<std::string> RVViewControllerHooks::screenName(const ViewController& controller) {
    ObjClass* cls = controller.objClass();
    const std::string& className = controller.className();
    const bool isNavigation = cls == NavigationController::classObject();
    const bool isTabBar = cls == TabBarController::classObject();
    if (!isNavigation && !isTabBar && className != "_UIModalItemsPresentingViewController" &&
        className != "_UIModalItemAppViewController" && className != "UIViewController") {
        return className;
    }
    if (isNavigation) {
        const auto* navigation = dynamic_cast<const NavigationController*>(&controller);
        auto visible = navigation ? navigation->visibleViewController() : nullptr;
        if (visible) return visible->className();
    }
    return std::nullopt;
}

void RVViewControllerHooks::rivlo_swizzled_viewWillAppear(ViewController& self, bool animated) {
    nameScreen(self, false);
    callThrough(self, kSwizzledViewWillAppear, animated);
}

void RVViewControllerHooks::rivlo_swizzled_viewDidAppear(ViewController& self, bool animated) {
    nameScreen(self, true);
    callThrough(self, kSwizzledViewDidAppear, animated);
}

void RVViewControllerHooks::applicationDidBecomeActive() {
    if (RVUtil::isAppLoadingFirstTime()) {
        RVHeatTimeHandler::sharedHandler()->setVcDetail(std::make_shared<RVVCDetail>());
    }
}

}  // namespace rivlo
