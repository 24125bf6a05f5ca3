#include "platform/linux/LinuxExceptionHandlerSlot.h"

#include <cstdlib>
#include <cxxabi.h>
#include <execinfo.h>
#include <typeinfo>

namespace rivlo {
namespace {

std::string demangle(const char* name) {
    int status = 0;
    char* readable = abi::__cxa_demangle(name, nullptr, nullptr, &status);
    std::string result = status == 0 && readable != nullptr ? readable : name;
    std::free(readable);
    return result;
}

}  // namespace

std::shared_ptr<LinuxExceptionHandlerSlot> LinuxExceptionHandlerSlot::shared() {
    // Never destroyed: the terminate handler may run while the process exits.
    static auto* const slot =
        new std::shared_ptr<LinuxExceptionHandlerSlot>(new LinuxExceptionHandlerSlot);
    return *slot;
}

UncaughtExceptionHandler LinuxExceptionHandlerSlot::handler() const {
    return handler_.load();
}

void LinuxExceptionHandlerSlot::setHandler(UncaughtExceptionHandler handler) {
    handler_.store(handler);
    if (handler == nullptr) return;
    std::call_once(hooked_, [this] {
        std::terminate_handler previous = std::set_terminate(onTerminate);
        if (previous != onTerminate) previousTerminate_.store(previous);
    });
}

ExceptionInfo LinuxExceptionHandlerSlot::currentExceptionInfo() {
    ExceptionInfo info;
    const std::type_info* type = abi::__cxa_current_exception_type();
    if (type == nullptr) {
        info.name = "unknown exception";
    } else {
        info.name = demangle(type->name());
        try {
            std::rethrow_exception(std::current_exception());
        } catch (const std::exception& error) {
            info.reason = error.what();
        } catch (...) {
        }
    }
    void* frames[64];
    int count = backtrace(frames, 64);
    char** symbols = backtrace_symbols(frames, count);
    if (symbols != nullptr) {
        for (int i = 0; i < count; ++i)
            info.callStackSymbols.emplace_back(symbols[i]);
        std::free(symbols);
    }
    return info;
}

void LinuxExceptionHandlerSlot::onTerminate() {
    auto slot = shared();
    if (UncaughtExceptionHandler handler = slot->handler()) {
        handler(currentExceptionInfo());
    }
    if (std::terminate_handler previous = slot->previousTerminate_.load()) previous();
    std::abort();
}

}  // namespace rivlo
