#pragma once

#include "foundation/Value.h"

#include <memory>
#include <string>

namespace rivlo {

// The record of one crashed session, kept in the store's crash list ("RvCrash").
// A plain value: not shared between threads.
class RVCrash {
  public:
    // Filled from the current values: run number, application device identifier, now.
    RVCrash();

    // Rebuilds a record from a crash list entry. Missing or non-text fields read as "".
    static std::shared_ptr<RVCrash> initFromSavedDictionary(const Value& saved);

    // The crash list entry: {"appDeviceId", "deviceRunNo", "currentDate"}.
    Value savedDictionary() const;

    std::string description() const;

    std::string deviceRunNo;
    std::string appDeviceId;
    std::string currentDate;
    bool isCrashed = true;
};

}  // namespace rivlo
