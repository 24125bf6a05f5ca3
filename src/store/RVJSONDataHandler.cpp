#include "store/RVJSONDataHandler.h"

#include "foundation/Log.h"
#include "foundation/SharedInstance.h"
#include "store/RVPlistHandler.h"
#include "store/RVStoreSession.h"

namespace rivlo {

RVJSONDataHandler* RVJSONDataHandler::sharedHandler() {
    static SharedInstance<RVJSONDataHandler> instance;
    return &instance.get([] { return new RVJSONDataHandler; });
}

RVJSONDataHandler::RVJSONDataHandler() {
    resetLocked();
}

Value RVJSONDataHandler::infoDictionary(const RVDeviceInfo& info) {
    return Value{
        {"dan", info.aliasName},
        {"apd", info.appDeviceId},
        {"did", info.vendorIdentifier},
        {"dr", info.deviceRunNo},
        {"osn", info.systemVersion},
        {"dvt", info.deviceType},
        {"wd", info.screenWidth},
        {"ht", info.screenHeight},
        {"rl", info.resolution},
        {"dmn", info.devicePlatform},
        {"eml", ""},
        {"cv", kLibraryVersion},
        {"cn", "apple"},
        {"platform", "ios"},
        {"appname", info.appName},
    };
}

void RVJSONDataHandler::resetLocked() {
    locationDic_ = Value::object();
    infoDic_ = Value::object();
    gyroList_ = Value::array();
    heatTimeList_ = Value::array();
    isCrash_ = false;
    markAsFavorite_ = 0;
    tags_ = std::make_shared<RVGeneralTags>();
}

void RVJSONDataHandler::reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    resetLocked();
}

Value RVJSONDataHandler::documentLocked(const std::string& totalTime) const {
    Value document = infoDic_.is_object() ? infoDic_ : Value::object();
    document["cr"] = isCrash_;
    document["isF"] = markAsFavorite_;
    document["lc"] = locationDic_.is_object() ? locationDic_ : Value::object();
    document["tt"] = totalTime;
    document["ut"] = heatTimeList_.is_array() ? heatTimeList_ : Value::array();
    document["gy"] = gyroList_.is_array() ? gyroList_ : Value::array();
    document["tags"] = tags_ ? tags_->tags() : Value::array();
    document["rvsdk"] = kLibraryVersion;
    return document;
}

Value RVJSONDataHandler::document() const {
    const std::string totalTime = RVStoreSession::applicationTotalTime();
    std::lock_guard<std::mutex> lock(mutex_);
    return documentLocked(totalTime);
}

std::shared_ptr<RVTextFile> RVJSONDataHandler::saveDataToFile() {
    RVJSONDataHandler* handler = sharedHandler();
    if (!RVStoreSession::isInfoPostSuccess()) {
        handler->setMarkAsFavorite(0);
        return nullptr;
    }
    const std::string totalTime = RVStoreSession::applicationTotalTime();
    Value document;
    {
        std::lock_guard<std::mutex> lock(handler->mutex_);
        document = handler->documentLocked(totalTime);
        handler->resetLocked();
    }
    const auto data = serialize(document);
    if (!data) return nullptr;
    return RVPlistHandler::sharedHandler()->saveDataToTextFile(*data);
}

std::optional<std::string> RVJSONDataHandler::serialize(const Value& document) {
    try {
        // Text that is not valid UTF-8 (a host's tag, say) is replaced rather than costing
        // the whole document.
        return document.dump(4, ' ', false, Value::error_handler_t::replace);
    } catch (const std::exception& error) {
        RVLog("Rivlo: saveDataToFile: Error converting JSON: %s", error.what());
        return std::nullopt;
    }
}

Value RVJSONDataHandler::locationDic() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return locationDic_;
}

void RVJSONDataHandler::setLocationDic(Value location) {
    std::lock_guard<std::mutex> lock(mutex_);
    locationDic_ = location.is_object() ? std::move(location) : Value::object();
}

void RVJSONDataHandler::setPreciseLocation(double latitude, double longitude) {
    setLocationDic(Value{{"lt", latitude}, {"lg", longitude}});
}

Value RVJSONDataHandler::infoDic() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return infoDic_;
}

void RVJSONDataHandler::setInfoDic(Value info) {
    std::lock_guard<std::mutex> lock(mutex_);
    infoDic_ = info.is_object() ? std::move(info) : Value::object();
}

Value RVJSONDataHandler::gyroList() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return gyroList_;
}

Value RVJSONDataHandler::heatTimeList() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return heatTimeList_;
}

void RVJSONDataHandler::setHeatTimeList(Value entries) {
    std::lock_guard<std::mutex> lock(mutex_);
    heatTimeList_ = entries.is_array() ? std::move(entries) : Value::array();
}

void RVJSONDataHandler::addHeatTimeEntry(Value entry) {
    std::lock_guard<std::mutex> lock(mutex_);
    heatTimeList_.push_back(std::move(entry));
}

bool RVJSONDataHandler::isCrash() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return isCrash_;
}

void RVJSONDataHandler::setIsCrash(bool crashed) {
    std::lock_guard<std::mutex> lock(mutex_);
    isCrash_ = crashed;
}

int32_t RVJSONDataHandler::markAsFavorite() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return markAsFavorite_;
}

void RVJSONDataHandler::setMarkAsFavorite(int32_t mark) {
    std::lock_guard<std::mutex> lock(mutex_);
    markAsFavorite_ = mark;
}

std::shared_ptr<RVGeneralTags> RVJSONDataHandler::tags() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return tags_;
}

void RVJSONDataHandler::addTag(const std::string& tag) {
    std::lock_guard<std::mutex> lock(mutex_);
    tags_->addTag(tag);
}

}  // namespace rivlo
