#pragma once

#include "foundation/Value.h"

#include <memory>

namespace rivlo {

// How the store turns a list entry back into a record of type T, and a record into its entry.
// By default through the record's own saved-dictionary conversions:
//   static std::shared_ptr<T> T::initFromSavedDictionary(const Value& saved); // nullptr:
//   unreadable Value T::savedDictionary() const;
// A record whose members are named otherwise specialises this template next to its class.
template <class T>
struct RVStoredRecord {
    static std::shared_ptr<T> fromSaved(const Value& saved) {
        return T::initFromSavedDictionary(saved);
    }
    static Value toSaved(const T& record) { return record.savedDictionary(); }
};

}  // namespace rivlo
