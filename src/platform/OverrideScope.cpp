#include "platform/OverrideScope.h"

#include "platform/Responder.h"
#include "platform/ViewController.h"

#include <string_view>
#include <vector>

namespace rivlo {

namespace {

struct RunningOverride {
    const RuntimeObject* object;
    std::string_view selector;
};

// The overrides running from own entries on this thread, innermost last.
thread_local std::vector<RunningOverride> tRunning;

IMP superclassEntry(ObjClass* cls, const char* selector) {
    ObjClass* super = cls ? cls->superclass() : nullptr;
    return super ? super->lookup(selector) : nullptr;
}

}  // namespace

OverrideScope::OverrideScope(const RuntimeObject& object, const char* selector) {
    tRunning.push_back({&object, selector});
}

OverrideScope::~OverrideScope() {
    tRunning.pop_back();
}

bool OverrideScope::isActive(const RuntimeObject& object, const char* selector) {
    const std::string_view wanted(selector);
    for (const auto& running : tRunning) {
        if (running.object == &object && running.selector == wanted) return true;
    }
    return false;
}

void implementMotionEnded(ObjClass* cls) {
    if (!cls) return;
    cls->addMethod(Selector::motionEndedWithEvent,
                   makeImplementation<Responder::MotionFn>(
                       [](Responder& self, int subtype, const Event* event) {
                           OverrideScope running(self, Selector::motionEndedWithEvent);
                           self.motionEnded(subtype, event);
                       }));
}

void callSuperMotionEnded(Responder& self, ObjClass* cls, int subtype, const Event* event) {
    invokeImplementation<Responder::MotionFn>(superclassEntry(cls, Selector::motionEndedWithEvent),
                                              Selector::motionEndedWithEvent, self, subtype, event);
}

void implementAppearance(ObjClass* cls) {
    if (!cls) return;
    cls->addMethod(
        Selector::viewWillAppear,
        makeImplementation<ViewController::AppearFn>([](ViewController& self, bool animated) {
            OverrideScope running(self, Selector::viewWillAppear);
            self.viewWillAppear(animated);
        }));
    cls->addMethod(
        Selector::viewDidAppear,
        makeImplementation<ViewController::AppearFn>([](ViewController& self, bool animated) {
            OverrideScope running(self, Selector::viewDidAppear);
            self.viewDidAppear(animated);
        }));
}

void callSuperViewWillAppear(ViewController& self, ObjClass* cls, bool animated) {
    invokeImplementation<ViewController::AppearFn>(superclassEntry(cls, Selector::viewWillAppear),
                                                   Selector::viewWillAppear, self, animated);
}

void callSuperViewDidAppear(ViewController& self, ObjClass* cls, bool animated) {
    invokeImplementation<ViewController::AppearFn>(superclassEntry(cls, Selector::viewDidAppear),
                                                   Selector::viewDidAppear, self, animated);
}

}  // namespace rivlo
