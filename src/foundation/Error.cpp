#include "foundation/Error.h"

#include "foundation/Log.h"

#include <algorithm>

namespace rivlo {

Error::Error(std::string d, long c, Value info) : domain(std::move(d)), code(c) {
    if (info.is_object()) {
        for (auto it = info.begin(); it != info.end(); ++it)
            setInfo(it.key(), it.value());
    }
}

void Error::setInfo(const std::string& key, Value value) {
    if (std::find(keyOrder.begin(), keyOrder.end(), key) == keyOrder.end()) keyOrder.push_back(key);
    userInfo[key] = std::move(value);
}

void Error::setObject(const std::string& key, std::any object) {
    if (std::find(keyOrder.begin(), keyOrder.end(), key) == keyOrder.end()) keyOrder.push_back(key);
    objects[key] = std::move(object);
}

std::string Error::localizedDescription() const {
    if (auto d = PropertyList::optionalText(userInfo, ErrorKey::LocalizedDescription)) return *d;
    return format("The operation couldn\u2019t be completed. (%s error %ld.)", domain.c_str(),
                  code);
}

std::optional<std::string> Error::localizedFailureReason() const {
    return PropertyList::optionalText(userInfo, ErrorKey::LocalizedFailureReason);
}

std::optional<std::string> Error::localizedRecoverySuggestion() const {
    return PropertyList::optionalText(userInfo, ErrorKey::LocalizedRecoverySuggestion);
}

std::string Error::description() const {
    return format("Error Domain=%s Code=%ld \"%s\" UserInfo=%s", domain.c_str(), code,
                  localizedDescription().c_str(), PropertyList::toJSON(userInfo).c_str());
}

}  // namespace rivlo
