#include "core/RVCrash.h"

#include "core/RVUtil.h"
#include "foundation/Log.h"

namespace rivlo {

RVCrash::RVCrash()
    : deviceRunNo(RVUtil::deviceRunNo()),
      appDeviceId(RVUtil::appDeviceId()),
      currentDate(RVUtil::sharedHandler()->currentDate()) {}

std::shared_ptr<RVCrash> RVCrash::initFromSavedDictionary(const Value& saved) {
    if (!saved.is_object()) return nullptr;
    auto crash = std::make_shared<RVCrash>();
    crash->appDeviceId = PropertyList::text(saved, "appDeviceId");
    crash->deviceRunNo = PropertyList::text(saved, "deviceRunNo");
    crash->currentDate = PropertyList::text(saved, "currentDate");
    return crash;
}

Value RVCrash::savedDictionary() const {
    return Value{
        {"appDeviceId", appDeviceId}, {"deviceRunNo", deviceRunNo}, {"currentDate", currentDate}};
}

std::string RVCrash::description() const {
    return format("DeviceRunNO:%s, AppDevieceId:%s, isCrashed:%d, Date:%s", deviceRunNo.c_str(),
                  appDeviceId.c_str(), isCrashed ? 1 : 0, currentDate.c_str());
}

}  // namespace rivlo
