#pragma once

#include <string>

namespace rivlo {

// The facts of the running session that the store writes into its files and documents: the
// identifier the service gave this installation, whether this session's device facts were
// posted, and the session clock. The session controller sets them (through RVUtil, which
// answers with these same values). Every member is safe to call from any thread.
class RVStoreSession {
  public:
    // The identifier the service assigned to this installation ("" until it answered).
    static void appDeviceId(const std::string& identifier);
    static std::string appDeviceId();

    // True once this session's verification succeeded and its device facts were collected.
    static void isInfoPostSuccess(bool posted);
    static bool isInfoPostSuccess();

    // Notes now as the session start.
    static void startApplicationTimer();
    // Forgets the identifier, the flag and the session clock (the library closing). Any thread.
    static void forget();
    // Whole seconds since the session start, "%ld" ("0" before any start).
    static std::string applicationTotalTime();
};

}  // namespace rivlo
