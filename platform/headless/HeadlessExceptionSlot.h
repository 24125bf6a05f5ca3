#pragma once

#include "platform/ExceptionHandler.h"

#include <atomic>

namespace rivlo {

// The uncaught-exception slot of the headless device. Nothing ends the process here:
// raise() hands an exception to the installed handler as the platform would just before the
// process ends, so crash capture can be exercised in tests. Any thread.
class HeadlessExceptionSlot : public ExceptionHandlerSlot {
  public:
    UncaughtExceptionHandler handler() const override { return handler_.load(); }
    void setHandler(UncaughtExceptionHandler handler) override { handler_ = handler; }
    // Answers whether a handler ran.
    bool raise(const ExceptionInfo& exception) const;

  private:
    std::atomic<UncaughtExceptionHandler> handler_{nullptr};
};

}  // namespace rivlo
