#pragma once

#include <array>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace rivlo {

// One gesture's coordinate record: eight numbers (position, gesture code, orientation code,
// timeline second, and the content or repeated position), as the gesture recorder fills them.
using RVCoordinate = std::array<double, 8>;

// A list of coordinate records shared by a visit record and the timeline entry it opened, so
// records appended later appear in the entry. Guarded: appended on the main thread, copied by
// the stopping thread.
class RVCoordinateList {
  public:
    void append(const RVCoordinate& record);
    std::vector<RVCoordinate> snapshot() const;
    std::size_t size() const;
    bool last(RVCoordinate& out) const;

  private:
    mutable std::mutex mutex_;
    std::vector<RVCoordinate> records_;
};

// One screen visit carrying coordinate records to the timeline.
class RVHeatTimeDetail {
  public:
    RVHeatTimeDetail(std::string viewName, std::string viewAppearTime, bool isWebView);

    const std::string& vcName() const { return vcName_; }
    const std::string& appearTime() const { return appearTime_; }
    int32_t isWebView() const { return isWebView_; }
    const std::shared_ptr<RVCoordinateList>& coordinateList() const { return coordinateList_; }

    // "View Name:<name> Appear Time:<time>, isWebView:<0|1>, coordinate:<records>"
    std::string description() const;

  private:
    std::string vcName_;
    std::string appearTime_;
    int32_t isWebView_;
    std::shared_ptr<RVCoordinateList> coordinateList_;
};

}  // namespace rivlo
