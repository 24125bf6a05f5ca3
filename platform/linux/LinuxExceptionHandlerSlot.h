#pragma once

#include "platform/ExceptionHandler.h"

#include <atomic>
#include <exception>
#include <memory>
#include <mutex>

namespace rivlo {

// The uncaught-exception handler slot of a Linux process, built on the std::terminate chain.
// The first handler set installs a terminate handler that describes the exception in flight,
// calls the slot's handler (when there is one) on the thread where the exception escaped, and
// then goes on to the terminate handler that was there before (by default the runtime's, which
// prints the exception and aborts). The process has one terminate chain, so there is one slot.
class LinuxExceptionHandlerSlot : public ExceptionHandlerSlot {
  public:
    static std::shared_ptr<LinuxExceptionHandlerSlot> shared();

    // Any thread.
    UncaughtExceptionHandler handler() const override;
    void setHandler(UncaughtExceptionHandler handler) override;

    // The exception in flight: its demangled type name, what() for a std::exception (else an
    // empty reason) and the call stack. Call only inside a terminate handler or a catch block;
    // with no exception in flight the name is "unknown exception".
    static ExceptionInfo currentExceptionInfo();

  private:
    LinuxExceptionHandlerSlot() = default;
    [[noreturn]] static void onTerminate();

    std::atomic<UncaughtExceptionHandler> handler_{nullptr};
    std::once_flag hooked_;
    std::atomic<std::terminate_handler> previousTerminate_{nullptr};
};

}  // namespace rivlo
