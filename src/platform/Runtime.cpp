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
    {
        std::lock_guard lock(mutex_);
        std::swap(imp_, imp);
    }
    runtime_detail::tablesChanged();
    return imp;
}

std::string Method::typeEncoding() const {
    IMP imp = implementation();
    return imp ? imp->typeEncoding() : std::string();
}

namespace {

// Starts at 1: 0 marks an answer not worked out.
std::atomic<uint64_t> gTablesGeneration{1};
std::atomic<const Implementation*> gToolkitHitTest{nullptr};

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

namespace runtime_detail {
void setToolkitHitTest(const IMP& imp) {
    // Held for the process, so that no other implementation can ever have its address.
    static const IMP* const held = new IMP(imp);
    gToolkitHitTest.store(held->get(), std::memory_order_release);
    tablesChanged();
}

void tablesChanged() {
    gTablesGeneration.fetch_add(1, std::memory_order_acq_rel);
}
}  // namespace runtime_detail

uint64_t ObjClass::tablesGeneration() {
    return gTablesGeneration.load(std::memory_order_acquire);
}

bool ObjClass::usesToolkitHitTest() const {
    // The generation is read before the tables: a change made while they are read moves it on,
    // so the answer remembered below is never taken for a later state of the tables.
    const uint64_t generation = tablesGeneration();
    if (toolkitHitTestAt_.load(std::memory_order_acquire) == generation) return true;
    const IMP imp = lookup(Selector::hitTestWithEvent);
    const Implementation* toolkit = gToolkitHitTest.load(std::memory_order_acquire);
    if (!imp || imp.get() != toolkit) return false;
    toolkitHitTestAt_.store(generation, std::memory_order_release);
    return true;
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
    {
        std::lock_guard lock(mutex_);
        if (methods_.count(selector)) return false;
        methods_.emplace(selector, std::make_shared<Method>(selector, std::move(imp)));
    }
    runtime_detail::tablesChanged();
    return true;
}

IMP ObjClass::replaceMethod(const std::string& selector, IMP imp) {
    std::lock_guard lock(mutex_);
    auto it = methods_.find(selector);
    if (it == methods_.end()) {
        methods_.emplace(selector, std::make_shared<Method>(selector, std::move(imp)));
        runtime_detail::tablesChanged();
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
