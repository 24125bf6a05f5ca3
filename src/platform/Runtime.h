#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>
#include <typeinfo>

namespace rivlo {

// Per-class method tables of the toolkit's classes. The toolkit dispatches a few selectors
// through these tables instead of plain virtual calls, so that code loaded into the process can
// add, replace and exchange implementations the way an object runtime allows, and hooks installed
// that way see every call and can call through to what they replaced:
//   "hitTest:withEvent:"     on UIView (windows and web views inherit it)  -> HitTestFn
//   "motionEnded:withEvent:" on UIResponder                                -> MotionFn
//   "viewWillAppear:"        on UIViewController                           -> AppearFn
//   "viewDidAppear:"         on UIViewController                           -> AppearFn
// Class objects live for the whole process. Tables may be changed from any thread (a mutex
// guards them); dispatch copies the implementation out under the lock and calls it unlocked.
namespace Selector {
inline constexpr const char* hitTestWithEvent = "hitTest:withEvent:";
inline constexpr const char* motionEndedWithEvent = "motionEnded:withEvent:";
inline constexpr const char* viewWillAppear = "viewWillAppear:";
inline constexpr const char* viewDidAppear = "viewDidAppear:";
}  // namespace Selector

// An implementation: a callable of one signature, with a type encoding derived from it.
class Implementation {
  public:
    virtual ~Implementation() = default;
    virtual const std::string& typeEncoding() const = 0;
};

template <class Sig>
class TypedImplementation final : public Implementation {
  public:
    explicit TypedImplementation(std::function<Sig> fn) : fn_(std::move(fn)) {}
    const std::string& typeEncoding() const override { return encoding(); }
    const std::function<Sig>& function() const { return fn_; }
    static const std::string& encoding() {
        static const std::string e = typeid(Sig).name();
        return e;
    }

  private:
    std::function<Sig> fn_;
};

using IMP = std::shared_ptr<const Implementation>;

template <class Sig>
IMP makeImplementation(std::function<Sig> fn) {
    return std::make_shared<TypedImplementation<Sig>>(std::move(fn));
}

// One entry of a class's table. Its implementation can be swapped (exchange) while the entry
// itself stays in place, as in an object runtime.
class Method {
  public:
    Method(std::string selector, IMP imp);
    const std::string& selector() const { return selector_; }
    IMP implementation() const;
    // Returns the previous implementation.
    IMP setImplementation(IMP imp);
    std::string typeEncoding() const;

  private:
    const std::string selector_;
    mutable std::mutex mutex_;
    IMP imp_;
};

using MethodRef = std::shared_ptr<Method>;

class ObjClass {
  public:
    // The class of that name, or null. The toolkit's own classes ("NSObject", "UIResponder",
    // "UIView", "UIWindow", "UIScrollView", "UILabel", "UITextField", "UIImageView",
    // "UIWebView", "UIViewController", "UINavigationController", "UITabBarController") always
    // exist.
    static ObjClass* named(const std::string& name);
    // Defines a class (a host's subclass); returns the existing class when the name is taken
    // (and logs when it was defined with another superclass).
    static ObjClass* define(const std::string& name, ObjClass* superclass);

    const std::string& name() const { return name_; }
    ObjClass* superclass() const { return superclass_; }
    bool isSubclassOf(const ObjClass* other) const;  // true for the class itself

    // The method for the selector, searching superclasses (class_getInstanceMethod).
    MethodRef instanceMethod(const std::string& selector) const;
    // The method the class itself defines, or null.
    MethodRef ownMethod(const std::string& selector) const;
    // The implementation the selector resolves to for instances of this class, or null.
    IMP lookup(const std::string& selector) const;
    // Adds a method the class does not define itself (an inherited one may exist). Fails, and
    // changes nothing, when the class already defines the selector (class_addMethod).
    bool addMethod(const std::string& selector, IMP imp);
    // Sets the class's own implementation, adding the method when the class does not define
    // it; returns the previous own implementation or null (class_replaceMethod). Category-style
    // installation uses this.
    IMP replaceMethod(const std::string& selector, IMP imp);
    // Swaps the implementations of two methods (method_exchangeImplementations).
    static void exchangeImplementations(const MethodRef& a, const MethodRef& b);

    // Whether "hitTest:withEvent:" resolves to the toolkit's own UIView entry for instances of
    // this class: no hook or override along the class chain. Answered without a lock while no
    // method table has changed since it was last worked out, since a hit test asks it for
    // every subview it passes over.
    bool usesToolkitHitTest() const;
    // A number that changes whenever a method is added, replaced or exchanged anywhere.
    static uint64_t tablesGeneration();

  private:
    ObjClass(std::string name, ObjClass* superclass);
    const std::string name_;
    ObjClass* const superclass_;
    mutable std::mutex mutex_;
    std::map<std::string, MethodRef> methods_;
    // The tables' generation at which usesToolkitHitTest() was last found true (0: not known).
    mutable std::atomic<uint64_t> toolkitHitTestAt_{0};
};

namespace runtime_detail {
void logBadDispatch(const char* selector, const IMP& imp);
// The toolkit registers its own UIView "hitTest:withEvent:" entry (Toolkit.cpp).
void setToolkitHitTest(const IMP& imp);
// Called on every change of a method table.
void tablesChanged();

template <class Sig>
struct Invoker;
template <class R, class... Args>
struct Invoker<R(Args...)> {
    static R call(const IMP& imp, const char* selector, Args... args) {
        auto typed = std::dynamic_pointer_cast<const TypedImplementation<R(Args...)>>(imp);
        if (!typed || !typed->function()) {
            logBadDispatch(selector, imp);
            if constexpr (std::is_void_v<R>) {
                return;
            } else {
                return R{};
            }
        }
        return typed->function()(std::forward<Args>(args)...);
    }
};
}  // namespace runtime_detail

// Calls an implementation of signature Sig. Logs and answers a default value when the
// implementation is missing or of another signature:
//   invokeImplementation<View::HitTestFn>(imp, Selector::hitTestWithEvent, view, point, event)
template <class Sig, class... A>
decltype(auto) invokeImplementation(const IMP& imp, const char* selector, A&&... args) {
    return runtime_detail::Invoker<Sig>::call(imp, selector, std::forward<A>(args)...);
}

// The root of every dispatchable toolkit object: it knows its class.
class RuntimeObject {
  public:
    explicit RuntimeObject(ObjClass* cls) : class_(cls) {}
    virtual ~RuntimeObject() = default;
    ObjClass* objClass() const { return class_; }
    const std::string& className() const { return class_->name(); }
    bool isKindOfClass(const ObjClass* cls) const { return class_->isSubclassOf(cls); }
    bool isMemberOfClass(const ObjClass* cls) const { return class_ == cls; }

  private:
    ObjClass* const class_;
};

}  // namespace rivlo
