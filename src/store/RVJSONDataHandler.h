#pragma once

#include "foundation/Value.h"
#include "rivlo/Version.h"
#include "store/RVGeneralTags.h"
#include "store/RVTextFile.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace rivlo {

// Device and application facts of a session, filled by the session controller (from RVUtil
// and the platform) after a positive verification.
struct RVDeviceInfo {
    std::string aliasName;         // "dan": the user's alias, else the device name
    std::string appDeviceId;       // "apd"
    std::string vendorIdentifier;  // "did": upper-case UUID text
    std::string deviceRunNo;       // "dr"
    std::string systemVersion;     // "osn"
    std::string deviceType;        // "dvt": "iPad" or "iPhone"
    double screenWidth = 0;        // "wd": main screen width in points
    double screenHeight = 0;       // "ht": main screen height in points
    std::string resolution;        // "rl": pixel density as text
    std::string devicePlatform;    // "dmn": marketing name of the model
    std::string appName;           // "appname"
};

// Collects one session's data document — device facts, crash flag, favourite mark, precise
// location, timeline and tags — and writes it into the pending-upload store when the session
// stops. Every member is safe on any thread: the facade's thread, the main thread and the
// stopping (or crashing) thread all reach it.
class RVJSONDataHandler {
  public:
    // The service's number for this library ("rvsdk", "cv").
    static constexpr const char* kLibraryVersion = RIVLO_SERVICE_LIBRARY_VERSION;

    // The shared instance, created on first use and freed when the library closes.
    static RVJSONDataHandler* sharedHandler();

    // The fifteen information entries for these facts.
    static Value infoDictionary(const RVDeviceInfo& info);

    // Empties everything: new containers, a new tag list started now, no crash, no mark.
    void reset();

    // Writes the ending session's document when its verification succeeded: the collected
    // data go into "/RVData" through the store and are reset, in one step, so nothing added
    // meanwhile is lost or written twice. Without a verified session nothing is written and
    // the data stay for the next one. The favourite mark is cleared in every case. Returns
    // the stored document's record, or nullptr when none was written.
    static std::shared_ptr<RVTextFile> saveDataToFile();

    // The bytes saveDataToFile writes for a document (pretty-printed JSON; text that is not
    // valid UTF-8 replaced). nullopt, logged, when it cannot be written.
    static std::optional<std::string> serialize(const Value& document);
    // The document as saveDataToFile would write it now (without resetting anything).
    Value document() const;

    Value locationDic() const;
    void setLocationDic(Value location);
    // {"lt": latitude, "lg": longitude}.
    void setPreciseLocation(double latitude, double longitude);

    Value infoDic() const;
    void setInfoDic(Value info);
    void saveInfo(const RVDeviceInfo& info) { setInfoDic(infoDictionary(info)); }

    Value gyroList() const;

    Value heatTimeList() const;
    void setHeatTimeList(Value entries);
    void addHeatTimeEntry(Value entry);

    bool isCrash() const;
    void setIsCrash(bool crashed);

    int32_t markAsFavorite() const;
    void setMarkAsFavorite(int32_t mark);

    // The current tag list (replaced by every reset). Add tags through addTag so that a tag
    // racing with the end of a session lands in one document or the next, never in none.
    std::shared_ptr<RVGeneralTags> tags() const;
    void addTag(const std::string& tag);

  private:
    RVJSONDataHandler();
    void resetLocked();
    Value documentLocked(const std::string& totalTime) const;

    mutable std::mutex mutex_;
    Value locationDic_;
    Value infoDic_;
    Value gyroList_;
    Value heatTimeList_;
    bool isCrash_ = false;
    int32_t markAsFavorite_ = 0;
    std::shared_ptr<RVGeneralTags> tags_;
};

}  // namespace rivlo
