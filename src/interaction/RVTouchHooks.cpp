#include "interaction/RVTouchHooks.h"

#include "core/RVSetting.h"
#include "core/RVUtil.h"
#include "foundation/Log.h"
#include "foundation/NotificationCenter.h"
#include "interaction/RVGestureHandler.h"
#include "platform/Application.h"
#include "platform/Platform.h"
#include "platform/Runtime.h"
#include "platform/TextField.h"
#include "platform/WebView.h"
#include "platform/Window.h"
#include "screen/RVViewVideoHandler.h"
#include "timeline/RVHeatTimeHandler.h"

#include <atomic>
#include <mutex>

namespace rivlo {

namespace {

std::atomic<bool> gInstalled{false};

// The window class's own hit-test entry before the hook replaced it (none for the toolkit's
// window, which inherits the view's). Written once, before the hook's entry is in the table.
IMP gReplacedHitTest;
// The previous touch the window hook took (main thread only).
Point gPreviousTouch;
bool gHasPreviousTouch = false;

void installWindowHook() {
    // Category method on UIWindow: the window class gets its own entry.
    ObjClass* window = Window::classObject();
    if (MethodRef own = window->ownMethod(Selector::hitTestWithEvent)) {
        gReplacedHitTest = own->implementation();
    }
    window->replaceMethod(
        Selector::hitTestWithEvent,
        makeImplementation<View::HitTestFn>([](View& self, Point point, const Event* event) {
            return RVTouchHooks::hitTest(self, point, event);
        }));
}

void installMotionHook() {
    ObjClass* responder = Responder::classObject();
    responder->addMethod(RVTouchHooks::kSwizzledMotionEnded,
                         makeImplementation<Responder::MotionFn>(
                             [](Responder& self, int subtype, const Event* event) {
                                 RVTouchHooks::rivlo_swizzled_motionEnded(self, subtype, event);
                             }));
    RVUtil::SafeExchange(responder, Selector::motionEndedWithEvent,
                         RVTouchHooks::kSwizzledMotionEnded);
}

}  // namespace

void RVTouchHooks::install() {
    static std::once_flag once;
    std::call_once(once, [] {
        installWindowHook();
        installMotionHook();
        gInstalled.store(true);
    });
}

bool RVTouchHooks::isInstalled() {
    return gInstalled.load();
}

std::shared_ptr<View> RVTouchHooks::hitTest(View& self, Point point, const Event* event) {
    // The hit test the hook replaced: the window class's own one, else its superclass's.
    IMP imp = gReplacedHitTest;
    if (!imp) {
        ObjClass* super = Window::classObject()->superclass();
        imp = super ? super->lookup(Selector::hitTestWithEvent) : nullptr;
    }
    std::shared_ptr<View> hit =
        invokeImplementation<View::HitTestFn>(imp, Selector::hitTestWithEvent, self, point, event);
    noteTouch(point, heatMapPointOfTouch(self, point, hit.get()));
    return hit;
}

Point RVTouchHooks::heatMapPointOfTouch(View& window, Point point, View* hit) {
    for (View* view = hit; view; view = view->superview()) {
        if (view->isKindOfClass(WebView::classObject())) {
            return window.convertPointToView(point, view);
        }
    }
    return point;
}

void RVTouchHooks::noteTouch(Point point) {
    noteTouch(point, point);
}

void RVTouchHooks::noteTouch(Point point, Point heatPoint) {
    // Touches count only once this session's verification has succeeded.
    if (!RVUtil::isInfoPostSuccess()) return;

    auto* heat = RVHeatTimeHandler::sharedHandler();
    // The platform hit-tests one touch several times: only a point that differs from the
    // previous one is a new touch. A change of either coordinate is enough (a touch straight
    // below or beside the previous one is a new touch too).
    if (gHasPreviousTouch && gPreviousTouch.x == point.x && gPreviousTouch.y == point.y) {
        // The same touch again: a web view's hook inside this hit test may have stored its
        // own point meanwhile; the touch's point stays in the unit chosen for it.
        if (heat->heatMapPoint() != heatPoint) heat->setHeatMapPoint(heatPoint);
        return;
    }
    gPreviousTouch = point;
    gHasPreviousTouch = true;

    RVGestureHandler::sharedHandler()->registerGesture();
    heat->setHeatMapPoint(heatPoint);
    if (RVUtil::setting()->isScreenVideoOn()) {
        auto application = Platform::current().application();
        if (auto key = application ? application->keyWindow() : nullptr) {
            listSubviewsOfView(key.get());
        }
    }
}

std::optional<Point> RVTouchHooks::previousTouch() {
    if (!gHasPreviousTouch) return std::nullopt;
    return gPreviousTouch;
}

void RVTouchHooks::forgetPreviousTouch() {
    gHasPreviousTouch = false;
}

void RVTouchHooks::listSubviewsOfView(View* view) {
    if (!view) return;
    for (const auto& subview : view->subviews()) {
        if (!subview) continue;
        if (subview->isKindOfClass(TextField::classObject())) {
            auto* field = dynamic_cast<TextField*>(subview.get());
            if (field && field->isSecureTextEntry()) {
                RVViewVideoHandler::addSensitiveView(subview);
            }
        }
        listSubviewsOfView(subview.get());
    }
}

void RVTouchHooks::rivlo_swizzled_motionEnded(Responder& self, int subtype, const Event* event) {
    if (subtype == EventSubtypeMotionShake) {
        NotificationCenter::defaultCenter().post(kShakeNotification, &self);
    }
    // After the exchange this selector names the host's own handler.
    IMP original = self.objClass()->lookup(kSwizzledMotionEnded);
    invokeImplementation<Responder::MotionFn>(original, kSwizzledMotionEnded, self, subtype, event);
}

}  // namespace rivlo
