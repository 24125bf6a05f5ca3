#pragma once

#include "platform/Event.h"
#include "platform/Runtime.h"

#include <memory>

namespace rivlo {

// Base of views and view controllers. Motion events are delivered through the method table
// ("motionEnded:withEvent:" on UIResponder) so that installed hooks see them; a class's own
// entry (OverrideScope.h) or UIResponder's runs the virtual motionEnded(). Main thread only.
class Responder : public RuntimeObject, public std::enable_shared_from_this<Responder> {
  public:
    static ObjClass* classObject();  // "UIResponder"
    explicit Responder(ObjClass* cls = classObject()) : RuntimeObject(cls) {}

    // Dispatches "motionEnded:withEvent:" through the method table.
    void dispatchMotionEnded(int subtype, const Event* event);

    // The class's own handling (the table's original entry). Does nothing by default.
    virtual void motionEnded(int subtype, const Event* event) {}

    // The signature of "motionEnded:withEvent:" implementations.
    using MotionFn = void(Responder& self, int subtype, const Event* event);
};

}  // namespace rivlo
