#include "timeline/RVHeatTimeHandler.h"

#include "foundation/Clock.h"
#include "foundation/SharedInstance.h"
#include "store/RVJSONDataHandler.h"

#include <atomic>
#include <cmath>
#include <limits>

namespace rivlo {
namespace {
// Monotonic moment of startTimer; not a number while the clock is stopped. Constant-initialised,
// so it is valid before anything of the library has run.
constexpr double kStopped = std::numeric_limits<double>::quiet_NaN();
std::atomic<double> clockStart{kStopped};
}  // namespace

RVHeatTimeHandler::RVHeatTimeHandler() : vcDetail_(std::make_shared<RVVCDetail>()) {}

RVHeatTimeHandler* RVHeatTimeHandler::sharedHandler() {
    static SharedInstance<RVHeatTimeHandler> handler;
    return &handler.get([] { return new RVHeatTimeHandler; });
}

void RVHeatTimeHandler::startTimer() {
    clockStart.store(Clock::monotonic());
}

void RVHeatTimeHandler::startTimer(double alreadyElapsedSeconds) {
    clockStart.store(Clock::monotonic() - (alreadyElapsedSeconds > 0 ? alreadyElapsedSeconds : 0));
}

void RVHeatTimeHandler::resetTimer() {
    clockStart.store(kStopped);
}

std::string RVHeatTimeHandler::timeLineTimer() {
    double start = clockStart.load();
    if (std::isnan(start)) return "0";
    double elapsed = Clock::monotonic() - start;
    long seconds = elapsed > 0 ? static_cast<long>(std::floor(elapsed)) : 0;
    return std::to_string(seconds);
}

void RVHeatTimeHandler::addTimeLine(const std::shared_ptr<RVHeatTimeDetail>& detail) {
    if (!detail) return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (lastDetail_ && lastDetail_->vcName() == detail->vcName() && !timeLine_.empty()) {
        // Same screen as the previous gesture: its newest record joins the open entry.
        RVCoordinate record;
        auto& entryList = timeLine_.back().coordinates;
        if (detail->coordinateList() != entryList && detail->coordinateList()->last(record)) {
            entryList->append(record);
        }
    } else {
        timeLine_.push_back(Entry{detail->vcName(), detail->appearTime(), detail->coordinateList(),
                                  detail->isWebView()});
    }
    lastDetail_ = detail;
}

void RVHeatTimeHandler::reset() {
    auto* self = sharedHandler();
    std::shared_ptr<RVVCDetail> current;
    {
        std::lock_guard<std::mutex> lock(self->mutex_);
        self->lastDetail_.reset();
        self->timeLine_.clear();
        current = self->vcDetail_;
    }
    if (current) current->resetAppearTime();
}

Value RVHeatTimeHandler::timeLineList() const {
    std::vector<Entry> entries;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        entries = timeLine_;
    }
    Value list = Value::array();
    for (const auto& e : entries) {
        Value cor = Value::array();
        for (const auto& r : e.coordinates->snapshot()) {
            Value rec = Value::array();
            for (double n : r) {
                // Whole numbers are written as integers, as the platform's JSON writer does.
                if (std::floor(n) == n && std::fabs(n) < 1e15) {
                    rec.push_back(static_cast<int64_t>(n));
                } else {
                    rec.push_back(n);
                }
            }
            cor.push_back(std::move(rec));
        }
        list.push_back(Value{
            {"an", e.name}, {"at", e.appearTime}, {"cor", std::move(cor)}, {"wb", e.isWebView}});
    }
    return list;
}

std::size_t RVHeatTimeHandler::timeLineCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return timeLine_.size();
}

void RVHeatTimeHandler::saveHeatMap() {
    RVJSONDataHandler::sharedHandler()->setHeatTimeList(sharedHandler()->timeLineList());
}

Point RVHeatTimeHandler::heatMapPoint() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return heatMapPoint_;
}

void RVHeatTimeHandler::setHeatMapPoint(Point point) {
    std::lock_guard<std::mutex> lock(mutex_);
    heatMapPoint_ = point;
}

Point RVHeatTimeHandler::webViewHeatMapPoint() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return webViewHeatMapPoint_;
}

void RVHeatTimeHandler::setWebViewHeatMapPoint(Point point) {
    std::lock_guard<std::mutex> lock(mutex_);
    webViewHeatMapPoint_ = point;
}

std::shared_ptr<RVVCDetail> RVHeatTimeHandler::vcDetail() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return vcDetail_;
}

std::shared_ptr<RVVCDetail> RVHeatTimeHandler::vcDetailCreatingIfNeeded() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!vcDetail_) vcDetail_ = std::make_shared<RVVCDetail>();
    return vcDetail_;
}

void RVHeatTimeHandler::setVcDetail(std::shared_ptr<RVVCDetail> detail) {
    std::lock_guard<std::mutex> lock(mutex_);
    vcDetail_ = std::move(detail);
}

}  // namespace rivlo
