// The toolkit's built-in classes and the method-table entries they define themselves.
#include "platform/ImageView.h"
#include "platform/Label.h"
#include "platform/OverrideScope.h"
#include "platform/Runtime.h"
#include "platform/ScrollView.h"
#include "platform/TextField.h"
#include "platform/ViewController.h"
#include "platform/WebView.h"
#include "platform/Window.h"

namespace rivlo {

void registerToolkitClasses() {
    ObjClass* object = ObjClass::define("NSObject", nullptr);
    ObjClass* responder = ObjClass::define("UIResponder", object);
    ObjClass* view = ObjClass::define("UIView", responder);
    ObjClass::define("UIWindow", view);
    ObjClass::define("UIScrollView", view);
    ObjClass::define("UILabel", view);
    ObjClass::define("UITextField", view);
    ObjClass::define("UIImageView", view);
    ObjClass::define("UIWebView", view);
    ObjClass* controller = ObjClass::define("UIViewController", responder);
    ObjClass::define("UINavigationController", controller);
    ObjClass::define("UITabBarController", controller);

    // The base entries run an override only when no own entry of the object's class has run
    // it already (an override that called through to here).
    responder->addMethod(Selector::motionEndedWithEvent,
                         makeImplementation<Responder::MotionFn>(
                             [](Responder& self, int subtype, const Event* event) {
                                 if (OverrideScope::isActive(self, Selector::motionEndedWithEvent))
                                     return;
                                 self.motionEnded(subtype, event);
                             }));
    const IMP hitTest = makeImplementation<View::HitTestFn>(
        [](View& self, Point p, const Event* event) { return self.defaultHitTest(p, event); });
    view->addMethod(Selector::hitTestWithEvent, hitTest);
    runtime_detail::setToolkitHitTest(hitTest);
    controller->addMethod(
        Selector::viewWillAppear,
        makeImplementation<ViewController::AppearFn>([](ViewController& self, bool animated) {
            if (OverrideScope::isActive(self, Selector::viewWillAppear)) return;
            self.viewWillAppear(animated);
        }));
    controller->addMethod(
        Selector::viewDidAppear,
        makeImplementation<ViewController::AppearFn>([](ViewController& self, bool animated) {
            if (OverrideScope::isActive(self, Selector::viewDidAppear)) return;
            self.viewDidAppear(animated);
        }));
}

namespace {
ObjClass* builtin(const char* name) {
    ObjClass* cls = ObjClass::named(name);
    return cls;
}
}  // namespace

ObjClass* Responder::classObject() {
    static ObjClass* const c = builtin("UIResponder");
    return c;
}
ObjClass* View::classObject() {
    static ObjClass* const c = builtin("UIView");
    return c;
}
ObjClass* Window::classObject() {
    static ObjClass* const c = builtin("UIWindow");
    return c;
}
ObjClass* ScrollView::classObject() {
    static ObjClass* const c = builtin("UIScrollView");
    return c;
}
ObjClass* Label::classObject() {
    static ObjClass* const c = builtin("UILabel");
    return c;
}
ObjClass* TextField::classObject() {
    static ObjClass* const c = builtin("UITextField");
    return c;
}
ObjClass* ImageView::classObject() {
    static ObjClass* const c = builtin("UIImageView");
    return c;
}
ObjClass* WebView::classObject() {
    static ObjClass* const c = builtin("UIWebView");
    return c;
}
ObjClass* ViewController::classObject() {
    static ObjClass* const c = builtin("UIViewController");
    return c;
}
ObjClass* NavigationController::classObject() {
    static ObjClass* const c = builtin("UINavigationController");
    return c;
}
ObjClass* TabBarController::classObject() {
    static ObjClass* const c = builtin("UITabBarController");
    return c;
}

void Responder::dispatchMotionEnded(int subtype, const Event* event) {
    IMP imp = objClass()->lookup(Selector::motionEndedWithEvent);
    invokeImplementation<MotionFn>(imp, Selector::motionEndedWithEvent, *this, subtype, event);
}

}  // namespace rivlo
