#pragma once

#include "foundation/Value.h"

#include <cstdint>
#include <mutex>
#include <string>

namespace rivlo {

// The recording settings of one session, as the service handed them out in its verification
// answer (or the defaults when it did not). RVUtil::setting() keeps the current record; every
// recorder and uploader reads it there.
//
// Threads: any thread. Every field is guarded by the record's mutex, so a reader on a background
// queue never sees a half-written value while the main thread records the network status.
class RVSetting {
  public:
    // The defaults: nothing recorded, a frame every 0.5 s, no cellular allowance. Reads the key
    // window's bounds (main screen bounds off the main thread) and the store root now.
    RVSetting();
    // The defaults, then the fields filled from the "settings" object of the answer. A value of
    // the wrong JSON type counts as missing; a dictionary that is not an object fills nothing
    // but "url" ("http://") and the frame interval (0.5).
    explicit RVSetting(const Value& settings);

    RVSetting(const RVSetting&) = delete;
    RVSetting& operator=(const RVSetting&) = delete;

    // Adds bytes handed to an upload to totalDataSent (the per-session cellular allowance).
    void updateDataSent(int64_t bytes);
    // True when validUrl occurs in text (case-sensitive). An empty validUrl never occurs.
    bool isValidUrl(const std::string& text) const;
    // The fixed multi-line form the log shows.
    std::string description() const;

    // ---- Accessors ------------------------------------------------------------------------
    // Fields taken "as received" hold the answer's text or number unchanged (null when the
    // answer lacked them); see valueText() for their printed form.

    bool isCameraVideoOn() const;
    void setIsCameraVideoOn(bool on);
    Value cameraVideoQuality() const;
    void setCameraVideoQuality(Value quality);
    bool isScreenVideoOn() const;
    void setIsScreenVideoOn(bool on);
    std::string screenVideoQuality() const;
    void setScreenVideoQuality(std::string quality);
    bool isUnresponsiveGestureEnabled() const;
    void setIsUnresponsiveGestureEnabled(bool enabled);
    bool isRecentlyNetworkAvailable() const;
    void setIsRecentlyNetworkAvailable(bool available);
    Value cameraVideoStartTime() const;
    void setCameraVideoStartTime(Value value);
    Value cameraVidoeStopTime() const;
    void setCameraVidoeStopTime(Value value);
    Value screenVideoStartTime() const;
    void setScreenVideoStartTime(Value value);
    Value screenVideoStopTime() const;
    void setScreenVideoStopTime(Value value);
    double videoWidthKey() const;
    void setVideoWidthKey(double width);
    double videoHeightKey() const;
    void setVideoHeightKey(double height);
    double videoMaxKeyFrameIntervalKey() const;
    void setVideoMaxKeyFrameIntervalKey(double interval);
    double videoAverageBitRateKey() const;
    void setVideoAverageBitRateKey(double bitRate);
    // Seconds between two screen frames (the inverse of "screen_quality" in frames per second).
    float videoFrameRate() const;
    void setVideoFrameRate(float interval);
    bool isWifiOn() const;
    void setIsWifiOn(bool on);
    bool is3GOn() const;
    void setIs3GOn(bool on);
    Value wifiDataSize() const;
    void setWifiDataSize(Value size);
    std::string validUrl() const;
    void setValidUrl(std::string url);
    int64_t threeGDataSize() const;
    void setThreeGDataSize(int64_t bytes);
    int32_t remoteHostStatus() const;
    void setRemoteHostStatus(int32_t status);
    int64_t totalDataSent() const;
    void setTotalDataSent(int64_t bytes);
    std::string cachesDirectory() const;
    void setCachesDirectory(std::string directory);

    // ---- Reading answer values -------------------------------------------------------------
    // Shared with the verification answer handling.

    // A truth value: booleans, numbers (non-zero), texts beginning (after blanks, a sign and
    // leading zeros) with Y, y, T, t or a digit 1-9. Anything else is false.
    static bool truthValue(const Value& value);
    // A 32-bit integer: numbers (truncated, limited to the 32-bit range) and texts with a
    // leading decimal number. Anything else is 0.
    static int32_t int32Value(const Value& value);
    // A 32-bit float: numbers and texts with a leading decimal number. Anything else is 0.
    static float floatValue(const Value& value);
    // The entry for key when value is an object, else null.
    static Value entry(const Value& object, const char* key);
    // The printed form of a value taken as received: a text as is, a number in decimal,
    // null as "(null)".
    static std::string valueText(const Value& value);

    // Default frame interval, and the highest "screen_quality" (frames per second) accepted.
    static constexpr float kDefaultFrameInterval = 0.5f;
    static constexpr float kMaxScreenQuality = 30.0f;

  private:
    void fill(const Value& settings);

    mutable std::mutex mutex_;
    bool isCameraVideoOn_ = false;
    Value cameraVideoQuality_ = "";
    bool isScreenVideoOn_ = false;
    std::string screenVideoQuality_;
    bool isUnresponsiveGestureEnabled_ = false;
    bool isRecentlyNetworkAvailable_ = false;
    Value cameraVideoStartTime_ = "";
    Value cameraVidoeStopTime_ = "";
    Value screenVideoStartTime_ = "";
    Value screenVideoStopTime_ = "";
    double videoWidthKey_ = 0;
    double videoHeightKey_ = 0;
    double videoMaxKeyFrameIntervalKey_ = 1;
    double videoAverageBitRateKey_ = 307200.0;
    float videoFrameRate_ = kDefaultFrameInterval;
    bool isWifiOn_ = false;
    bool is3GOn_ = false;
    Value wifiDataSize_ = "";
    std::string validUrl_;
    int64_t threeGDataSize_ = 0;
    int32_t remoteHostStatus_ = 0;
    int64_t totalDataSent_ = 0;
    std::string cachesDirectory_;
};

}  // namespace rivlo
