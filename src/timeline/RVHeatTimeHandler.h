#pragma once

#include "foundation/Value.h"
#include "platform/Geometry.h"
#include "protocol/RVWireProtocol.h"
#include "timeline/RVHeatTimeDetail.h"
#include "timeline/RVVCDetail.h"

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace rivlo {

class RVAFHTTPClient;

// Owner of the session's screen timeline, the timeline clock, the heat-map touch points and
// the current-screen record. The hooks and recognisers use it on the main thread; the session
// controller reads it on the stopping thread. Every piece of state is guarded, and the session
// document receives a consistent copy of the timeline.
class RVHeatTimeHandler {
  public:
    // The shared instance, created on first use and freed when the library closes. Any thread.
    static RVHeatTimeHandler* sharedHandler();

    // Timeline clock. Any thread.
    static void startTimer();
    // Starts the clock as if it had started that many seconds ago (tests and benchmarks).
    static void startTimer(double alreadyElapsedSeconds);
    static void resetTimer();
    // Whole seconds since startTimer as decimal text; "0" while the clock is stopped.
    static std::string timeLineTimer();

    // Merges one visit record: a gesture on the same screen name as the previous record joins
    // that entry; any other name opens a new entry. Main thread.
    void addTimeLine(const std::shared_ptr<RVHeatTimeDetail>& detail);
    // A new session: forget the last record, empty the timeline, reset the appear time.
    static void reset();
    // Hands the timeline to the session document. Any thread (the stopping thread).
    static void saveHeatMap();

    // Uploads the pending session data documents (POST "/webservices/v2/uploaddata", one file
    // part "file" each) through the session controller's client: a missing file is logged and
    // dropped; a file over the upload allowance ends the pass (it and later ones stay
    // pending); each accepted upload removes its document. Returns without waiting for the
    // uploads. The stop-and-post thread (any thread but the main one, which the uploads call
    // back on).
    static void postHeatTimeData();
    // The same pass through a given client (nothing without one).
    static void postHeatTimeData(const std::shared_ptr<RVAFHTTPClient>& client);
    static constexpr const char* kUploadDataPath = RVWire::kUploadDataPath;

    // The host names the current screen: the record is created when there is none, then
    // renamed as a will-appear and a did-appear of that name would. Any thread.
    static void tagScreenName(const std::string& name);

    // Registers the timeline's steps with the session controller. Called when the library
    // starts (rivlo_init).
    static void registerSessionSteps();

    // The timeline as the session document writes it: [{"an","at","cor","wb"}, ...].
    Value timeLineList() const;
    std::size_t timeLineCount() const;

    Point heatMapPoint() const;
    void setHeatMapPoint(Point point);
    Point webViewHeatMapPoint() const;
    void setWebViewHeatMapPoint(Point point);

    // The current screen; created on demand, replaced (never cleared) by the web view hook and
    // by activation after launch.
    std::shared_ptr<RVVCDetail> vcDetail() const;
    // Returns the current record, creating one first when there is none.
    std::shared_ptr<RVVCDetail> vcDetailCreatingIfNeeded();
    void setVcDetail(std::shared_ptr<RVVCDetail> detail);

  private:
    RVHeatTimeHandler();

    struct Entry {
        std::string name;
        std::string appearTime;
        std::shared_ptr<RVCoordinateList> coordinates;
        int32_t isWebView;
    };

    mutable std::mutex mutex_;
    std::vector<Entry> timeLine_;
    std::shared_ptr<RVHeatTimeDetail> lastDetail_;
    std::shared_ptr<RVVCDetail> vcDetail_;
    Point heatMapPoint_{};
    Point webViewHeatMapPoint_{};
};

}  // namespace rivlo
