#pragma once

#include "rivlo/Error.h"

#include "foundation/Log.h"

#include <exception>
#include <new>

namespace rivlo {

// The boundary between a host and the library: nothing thrown inside a public call reaches the
// host. An exception becomes a log line naming the call and an error code.
class CallGuard {
  public:
    // Runs work (which returns an int result) and returns its result, or
    // RIVLO_ERROR_OUT_OF_MEMORY / RIVLO_ERROR_INTERNAL for what it threw. Any thread.
    template <class Work>
    static int run(const char* function, Work&& work) noexcept {
        try {
            return work();
        } catch (const std::bad_alloc&) {
            report(function, "out of memory");
            return RIVLO_ERROR_OUT_OF_MEMORY;
        } catch (const std::exception& e) {
            report(function, e.what());
            return RIVLO_ERROR_INTERNAL;
        } catch (...) {
            report(function, "an unknown exception");
            return RIVLO_ERROR_INTERNAL;
        }
    }

  private:
    // Writes "Rivlo: <function> failed: <what>"; a failure of the log itself is swallowed.
    static void report(const char* function, const char* what) noexcept;
};

}  // namespace rivlo
