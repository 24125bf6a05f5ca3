#pragma once

#include "foundation/Value.h"

#include <memory>
#include <string>

namespace rivlo {

// The record of one pending session data document: its file in "/RVData" and the
// application device identifier when it was saved. A plain value.
class RVTextFile {
  public:
    RVTextFile() = default;
    RVTextFile(std::string fileName, std::string appDeviceID)
        : fileName(std::move(fileName)), appDeviceID(std::move(appDeviceID)) {}

    // Rebuilds a record from a "RvTextFile" entry; nullptr when the entry has no usable
    // "fileName" (not a dictionary, missing, not text, or not a plain file name).
    static std::shared_ptr<RVTextFile> initFromSavedDictionary(const Value& saved);

    // The list entry: {"fileName", "appDeviceId"}.
    Value savedDictionary() const;

    std::string description() const;

    std::string fileName;
    std::string appDeviceID;
};

}  // namespace rivlo
