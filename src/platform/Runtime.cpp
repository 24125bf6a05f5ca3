#include "platform/Runtime.h"

#include "foundation/Log.h"

namespace rivlo {

Method::Method(std::string selector, IMP imp)
    : selector_(std::move(selector)), imp_(std::move(imp)) {}

IMP Method::implementation() const {
    std::lock_guard lock(mutex_);
    return imp_;
}

IMP Method::setImplementation(IMP imp) {
    std::lock_guard lock(mutex_);
    std::swap(imp_, imp);
    return imp;
}

std::string Method::typeEncoding() const {
    IMP imp = implementation();
    return imp ? imp->typeEncoding() : std::string();
}

namespace {

struct ClassRegistry {
    std::mutex mutex;
    std::map<std::string, ObjClass*> classes;
};

ClassRegistry& registry() {
    static ClassRegistry* const r = new ClassRegistry;
    return *r;
}

}  // namespace

void registerToolkitClasses();  // Toolkit.cpp: the built-in classes and their own methods

ObjClass::ObjClass(std::string name, ObjClass* superclass)
    : name_(std::move(name)), superclass_(superclass) {}

ObjClass* ObjClass::named(const std::string& name) {
    static std::once_flag once;
    std::call_once(once, registerToolkitClasses);
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    auto it = r.classes.find(name);
    return it == r.classes.end() ? nullptr : it->second;
}

ObjClass* ObjClass::define(const std::string& name, ObjClass* superclass) {
    auto& r = registry();
    ObjClass* existing = nullptr;
    {
        std::lock_guard lock(r.mutex);
        auto it = r.classes.find(name);
        if (it == r.classes.end()) {
            // Classes are never destroyed: objects and hooks hold plain pointers to them.
            auto* cls = new ObjClass(name, superclass);
            r.classes.emplace(name, cls);
            return cls;
        }
        existing = it->second;
    }
    if (existing->superclass() != superclass) {
        RVLog("Runtime: class %s is already defined with another superclass", name.c_str());
    }
    return existing;
}

bool ObjClass::isSubclassOf(const ObjClass* other) const {
    for (const ObjClass* c = this; c; c = c->superclass_) {
        if (c == other) return true;
    }
    return false;
}

MethodRef ObjClass::ownMethod(const std::string& selector) const {
    std::lock_guard lock(mutex_);
    auto it = methods_.find(selector);
    return it == methods_.end() ? nullptr : it->second;
}

MethodRef ObjClass::instanceMethod(const std::string& selector) const {
    for (const ObjClass* c = this; c; c = c->superclass_) {
        if (auto m = c->ownMethod(selector)) return m;
    }
    return nullptr;
}

IMP ObjClass::lookup(const std::string& selector) const {
    MethodRef m = instanceMethod(selector);
    return m ? m->implementation() : nullptr;
}

bool ObjClass::addMethod(const std::string& selector, IMP imp) {
    std::lock_guard lock(mutex_);
    if (methods_.count(selector)) return false;
    methods_.emplace(selector, std::make_shared<Method>(selector, std::move(imp)));
    return true;
}

IMP ObjClass::replaceMethod(const std::string& selector, IMP imp) {
    std::lock_guard lock(mutex_);
    auto it = methods_.find(selector);
    if (it == methods_.end()) {
        methods_.emplace(selector, std::make_shared<Method>(selector, std::move(imp)));
        return nullptr;
    }
    return it->second->setImplementation(std::move(imp));
}

void ObjClass::exchangeImplementations(const MethodRef& a, const MethodRef& b) {
    if (!a || !b || a == b) return;
    IMP ia = a->implementation();
    IMP ib = b->setImplementation(ia);
    a->setImplementation(ib);
}

namespace runtime_detail {
void logBadDispatch(const char* selector, const IMP& imp) {
    if (!imp) {
        RVLog("Runtime: no implementation for %s", selector);
    } else {
        RVLog("Runtime: implementation of %s has another signature", selector);
    }
}
}  // namespace runtime_detail

}  // namespace rivlo
