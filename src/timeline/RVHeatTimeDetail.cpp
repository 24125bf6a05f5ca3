#include "timeline/RVHeatTimeDetail.h"

#include "foundation/Value.h"

namespace rivlo {

void RVCoordinateList::append(const RVCoordinate& record) {
    std::lock_guard<std::mutex> lock(mutex_);
    records_.push_back(record);
}

std::vector<RVCoordinate> RVCoordinateList::snapshot() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return records_;
}

std::size_t RVCoordinateList::size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return records_.size();
}

bool RVCoordinateList::last(RVCoordinate& out) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (records_.empty()) return false;
    out = records_.back();
    return true;
}

RVHeatTimeDetail::RVHeatTimeDetail(std::string viewName, std::string viewAppearTime, bool isWebView)
    : vcName_(std::move(viewName)),
      appearTime_(std::move(viewAppearTime)),
      isWebView_(isWebView ? 1 : 0),
      coordinateList_(std::make_shared<RVCoordinateList>()) {}

std::string RVHeatTimeDetail::description() const {
    Value list = Value::array();
    for (const auto& r : coordinateList_->snapshot())
        list.push_back(Value(r));
    return "View Name:" + vcName_ + " Appear Time:" + appearTime_ +
           ", isWebView:" + std::to_string(isWebView_) + ", coordinate:" + list.dump();
}

}  // namespace rivlo
