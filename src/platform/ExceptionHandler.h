#pragma once

#include <string>
#include <vector>

namespace rivlo {

// What is known about an uncaught exception: the exception's type name, its message and the
// call stack at the throw where available.
struct ExceptionInfo {
    std::string name;
    std::string reason;
    std::vector<std::string> callStackSymbols;
};

using UncaughtExceptionHandler = void (*)(const ExceptionInfo& exception);

// The process's uncaught-exception handler slot. The handler runs on the thread where the
// exception escaped, just before the process ends. Any thread.
class ExceptionHandlerSlot {
  public:
    virtual ~ExceptionHandlerSlot() = default;
    virtual UncaughtExceptionHandler handler() const = 0;
    virtual void setHandler(UncaughtExceptionHandler handler) = 0;
};

}  // namespace rivlo
