#include "platform/headless/HeadlessExceptionSlot.h"

namespace rivlo {

bool HeadlessExceptionSlot::raise(const ExceptionInfo& exception) const {
    UncaughtExceptionHandler h = handler_.load();
    if (!h) return false;
    h(exception);
    return true;
}

}  // namespace rivlo
