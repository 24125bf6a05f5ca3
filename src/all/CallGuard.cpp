#include "all/CallGuard.h"

namespace rivlo {

void CallGuard::report(const char* function, const char* what) noexcept {
    try {
        RVLog("Rivlo: %s failed: %s", function, what);
    } catch (...) {
    }
}

}  // namespace rivlo
