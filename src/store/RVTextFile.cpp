#include "store/RVTextFile.h"

#include "foundation/Log.h"
#include "store/RVStoreFiles.h"

namespace rivlo {

std::shared_ptr<RVTextFile> RVTextFile::initFromSavedDictionary(const Value& saved) {
    if (!saved.is_object()) return nullptr;
    auto name = PropertyList::optionalText(saved, "fileName");
    if (!name || !RVStoreFiles::isSafeName(*name)) return nullptr;
    return std::make_shared<RVTextFile>(*name, PropertyList::text(saved, "appDeviceId"));
}

Value RVTextFile::savedDictionary() const {
    return Value{{"fileName", fileName}, {"appDeviceId", appDeviceID}};
}

std::string RVTextFile::description() const {
    return format("Text File Name:%s, App Device ID:%s", fileName.c_str(), appDeviceID.c_str());
}

}  // namespace rivlo
