#pragma once

#include "platform/Event.h"
#include "platform/Runtime.h"

namespace rivlo {

class Responder;
class ViewController;

// A host class that implements a toolkit method itself has, on a real object runtime, its own
// entry in its class's table: dispatch finds it before the entries of its superclasses and the
// hooks installed there, which run only when the method calls through to its superclass. The
// functions below give a class such entries for "motionEnded:withEvent:", "viewWillAppear:"
// and "viewDidAppear:"; the entries run the object's C++ override. The override of a class
// without its own entry runs from the toolkit's base entry (UIResponder's, UIViewController's),
// after whatever was installed there, as if it called through first.
//
// OverrideScope marks, on the current thread, that an object's override of a selector is
// running from such an own entry. The base entry, reached when that override calls through,
// sees the mark and runs only the base behaviour, so the override does not run twice.
// Objects and their dispatch belong to the main thread.
class OverrideScope {
  public:
    OverrideScope(const RuntimeObject& object, const char* selector);
    ~OverrideScope();
    OverrideScope(const OverrideScope&) = delete;
    OverrideScope& operator=(const OverrideScope&) = delete;
    static bool isActive(const RuntimeObject& object, const char* selector);
};

// Gives cls its own "motionEnded:withEvent:" entry running the object's motionEnded(). Once
// per class (an entry the class already has is kept). Any thread.
void implementMotionEnded(ObjClass* cls);
// [super motionEnded:withEvent:] from the override of class cls: the entry the superclass of
// cls resolves to.
void callSuperMotionEnded(Responder& self, ObjClass* cls, int subtype, const Event* event);

// Gives cls its own "viewWillAppear:" and "viewDidAppear:" entries running the object's
// viewWillAppear() and viewDidAppear(). Once per class. Any thread.
void implementAppearance(ObjClass* cls);
// [super viewWillAppear:] and [super viewDidAppear:] from the overrides of class cls.
void callSuperViewWillAppear(ViewController& self, ObjClass* cls, bool animated);
void callSuperViewDidAppear(ViewController& self, ObjClass* cls, bool animated);

}  // namespace rivlo
