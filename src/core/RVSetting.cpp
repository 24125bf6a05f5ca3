#include "core/RVSetting.h"

#include "core/RVUtil.h"
#include "foundation/Log.h"
#include "foundation/RunLoop.h"
#include "platform/Platform.h"
#include "platform/Window.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace rivlo {

namespace {

// Width and height of the key window in points. Windows belong to the main thread; elsewhere
// the main screen's bounds stand in (the key window fills the screen on a phone).
Size keyWindowSize() {
    auto& platform = Platform::current();
    if (RunLoop::isMainThread()) {
        if (auto application = platform.application()) {
            if (auto window = application->keyWindow()) return window->bounds().size;
        }
    }
    if (auto device = platform.device()) return device->screenBounds().size;
    return {};
}

// The leading decimal number of a text after blanks ("12abc" → 12); 0 when there is none.
double leadingNumber(const std::string& text) {
    const char* begin = text.c_str();
    while (*begin == ' ' || *begin == '\t' || *begin == '\n')
        ++begin;
    char* end = nullptr;
    const double value = std::strtod(begin, &end);
    // strtod also reads "inf" and "nan"; the answer's texts are plain decimals.
    if (end == begin || !std::isfinite(value)) return 0;
    return value;
}

// Removes every occurrence of what from text.
void removeAll(std::string& text, const std::string& what) {
    std::string result;
    result.reserve(text.size());
    size_t from = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, from)) {
        result.append(text, from, at - from);
        from = at + what.size();
    }
    result.append(text, from, std::string::npos);
    text = std::move(result);
}

// A value taken as received: a text or a number; anything else is treated as missing.
Value asReceived(const Value& value) {
    if (value.is_string() || value.is_number()) return value;
    return nullptr;
}

}  // namespace

RVSetting::RVSetting() {
    const Size size = keyWindowSize();
    videoWidthKey_ = size.width;
    videoHeightKey_ = size.height;
    cachesDirectory_ = RVUtil::cachesDirectory();
}

RVSetting::RVSetting(const Value& settings) : RVSetting() {
    if (!settings.is_object() && !settings.is_null()) {
        RVLog("Rivlo: settings in the verification answer are not an object; using defaults.");
    }
    fill(settings.is_object() ? settings : Value::object());
}

void RVSetting::fill(const Value& settings) {
    const bool cameraOn = truthValue(entry(settings, "camera_record"));
    const bool screenOn = truthValue(entry(settings, "screen_record"));
    const Value cameraQuality = asReceived(entry(settings, "camera_quality"));
    const Value cameraStart = asReceived(entry(settings, "camera_rec_start"));
    const Value cameraStop = asReceived(entry(settings, "camera_rec_duration"));

    // "screen_quality" is in frames per second; the record keeps the interval between frames.
    // A quality that would give a negative, infinite or vanishing interval keeps the default.
    const Value qualityValue = entry(settings, "screen_quality");
    const float quality = floatValue(qualityValue);
    float interval = kDefaultFrameInterval;
    if (quality == 0.0f) {
        interval = kDefaultFrameInterval;
    } else if (!std::isfinite(quality) || quality < 0.0f || quality > kMaxScreenQuality) {
        Log::line("Rivlo: screen_quality " + valueText(qualityValue) +
                  " is not a usable frame rate; capturing a frame every 0.5 seconds.");
    } else {
        interval = 1.0f / quality;
    }

    const Value screenStart = asReceived(entry(settings, "screen_rec_start"));
    const Value screenStop = asReceived(entry(settings, "screen_rec_duration"));
    const bool wifiOn = truthValue(entry(settings, "wifi_status"));
    const bool cellularOn = truthValue(entry(settings, "g_status"));
    const Value wifiSize = asReceived(entry(settings, "wifi_data_size"));

    std::string url = "http://";
    const Value urlValue = entry(settings, "url");
    if (urlValue.is_string()) {
        url = urlValue.get<std::string>();
        removeAll(url, "http://");
        removeAll(url, "https://");
        removeAll(url, "www.");
    } else if (!urlValue.is_null()) {
        RVLog("Rivlo: url in the settings is not a text; ignoring it.");
    }

    // Megabytes per session over cellular. Computed in 64 bits (2048 MB and more would overflow
    // 32); a negative figure allows nothing.
    const int32_t megabytes = int32Value(entry(settings, "g_data_size"));
    int64_t cellularBytes = 0;
    if (cellularOn && megabytes > 0) cellularBytes = static_cast<int64_t>(megabytes) << 20;

    std::lock_guard lock(mutex_);
    isCameraVideoOn_ = cameraOn;
    isScreenVideoOn_ = screenOn;
    cameraVideoQuality_ = cameraQuality;
    cameraVideoStartTime_ = cameraStart;
    cameraVidoeStopTime_ = cameraStop;
    videoFrameRate_ = interval;
    screenVideoStartTime_ = screenStart;
    screenVideoStopTime_ = screenStop;
    isWifiOn_ = wifiOn;
    is3GOn_ = cellularOn;
    wifiDataSize_ = wifiSize;
    validUrl_ = url;
    threeGDataSize_ = cellularBytes;
}

void RVSetting::updateDataSent(int64_t bytes) {
    std::lock_guard lock(mutex_);
    totalDataSent_ += bytes;
}

bool RVSetting::isValidUrl(const std::string& text) const {
    std::lock_guard lock(mutex_);
    return !validUrl_.empty() && text.find(validUrl_) != std::string::npos;
}

std::string RVSetting::description() const {
    std::lock_guard lock(mutex_);
    return format(
        "Setting:\nisCameraVideoOn:%d\ncameraVideoQuality:%s\nisScreenVideoOn:%d\n"
        "screenVideoFrameRate:%f\ncameraVideoStartTime:%s\ncameraVidoeStopTime:%s\n"
        "screenVideoStartTime:%s\nscreenVideoStopTime:%s\nisWifiOn:%d\nis3GOn:%d\n"
        "wifiDataSize:%s\nthreeGDataSize:%lld\nValidUrl:%s\n",
        isCameraVideoOn_ ? 1 : 0, valueText(cameraVideoQuality_).c_str(), isScreenVideoOn_ ? 1 : 0,
        static_cast<double>(videoFrameRate_), valueText(cameraVideoStartTime_).c_str(),
        valueText(cameraVidoeStopTime_).c_str(), valueText(screenVideoStartTime_).c_str(),
        valueText(screenVideoStopTime_).c_str(), isWifiOn_ ? 1 : 0, is3GOn_ ? 1 : 0,
        valueText(wifiDataSize_).c_str(), static_cast<long long>(threeGDataSize_),
        validUrl_.c_str());
}

// ---- Reading answer values ----------------------------------------------------------------

bool RVSetting::truthValue(const Value& value) {
    if (value.is_boolean()) return value.get<bool>();
    if (value.is_number_integer()) return value.get<int64_t>() != 0;
    if (value.is_number_unsigned()) return value.get<uint64_t>() != 0;
    if (value.is_number_float()) return value.get<double>() != 0.0;
    if (!value.is_string()) return false;
    const std::string& text = value.get_ref<const std::string&>();
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n'))
        ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    while (i < text.size() && text[i] == '0')
        ++i;
    if (i >= text.size()) return false;
    const char c = text[i];
    return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

int32_t RVSetting::int32Value(const Value& value) {
    double number = 0;
    if (value.is_number_integer()) {
        const int64_t n = value.get<int64_t>();
        if (n > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
        if (n < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
        return static_cast<int32_t>(n);
    }
    if (value.is_number_unsigned()) {
        const uint64_t n = value.get<uint64_t>();
        return n > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())
                   ? std::numeric_limits<int32_t>::max()
                   : static_cast<int32_t>(n);
    }
    if (value.is_number_float()) {
        number = value.get<double>();
    } else if (value.is_string()) {
        number = leadingNumber(value.get_ref<const std::string&>());
    } else if (value.is_boolean()) {
        return value.get<bool>() ? 1 : 0;
    } else {
        return 0;
    }
    if (std::isnan(number)) return 0;
    if (number >= static_cast<double>(std::numeric_limits<int32_t>::max())) {
        return std::numeric_limits<int32_t>::max();
    }
    if (number <= static_cast<double>(std::numeric_limits<int32_t>::min())) {
        return std::numeric_limits<int32_t>::min();
    }
    return static_cast<int32_t>(std::trunc(number));
}

float RVSetting::floatValue(const Value& value) {
    if (value.is_number()) return static_cast<float>(value.get<double>());
    if (value.is_string()) return static_cast<float>(leadingNumber(value.get<std::string>()));
    if (value.is_boolean()) return value.get<bool>() ? 1.0f : 0.0f;
    return 0.0f;
}

Value RVSetting::entry(const Value& object, const char* key) {
    if (!object.is_object()) return nullptr;
    auto it = object.find(key);
    return it == object.end() ? Value(nullptr) : *it;
}

std::string RVSetting::valueText(const Value& value) {
    if (value.is_string()) return value.get<std::string>();
    if (value.is_null()) return "(null)";
    if (value.is_number_float()) {
        const double d = value.get<double>();
        if (std::isfinite(d) && d == std::trunc(d) && std::fabs(d) < 1e15) {
            return format("%lld", static_cast<long long>(d));
        }
        return format("%g", d);
    }
    return value.dump();
}

// ---- Accessors ----------------------------------------------------------------------------

#define RV_SETTING_ACCESSORS(Type, getter, setter, member) \
    Type RVSetting::getter() const {                       \
        std::lock_guard lock(mutex_);                      \
        return member;                                     \
    }                                                      \
    void RVSetting::setter(Type value) {                   \
        std::lock_guard lock(mutex_);                      \
        member = std::move(value);                         \
    }

RV_SETTING_ACCESSORS(bool, isCameraVideoOn, setIsCameraVideoOn, isCameraVideoOn_)
RV_SETTING_ACCESSORS(Value, cameraVideoQuality, setCameraVideoQuality, cameraVideoQuality_)
RV_SETTING_ACCESSORS(bool, isScreenVideoOn, setIsScreenVideoOn, isScreenVideoOn_)
RV_SETTING_ACCESSORS(std::string, screenVideoQuality, setScreenVideoQuality, screenVideoQuality_)
RV_SETTING_ACCESSORS(bool, isUnresponsiveGestureEnabled, setIsUnresponsiveGestureEnabled,
                     isUnresponsiveGestureEnabled_)
RV_SETTING_ACCESSORS(bool, isRecentlyNetworkAvailable, setIsRecentlyNetworkAvailable,
                     isRecentlyNetworkAvailable_)
RV_SETTING_ACCESSORS(Value, cameraVideoStartTime, setCameraVideoStartTime, cameraVideoStartTime_)
RV_SETTING_ACCESSORS(Value, cameraVidoeStopTime, setCameraVidoeStopTime, cameraVidoeStopTime_)
RV_SETTING_ACCESSORS(Value, screenVideoStartTime, setScreenVideoStartTime, screenVideoStartTime_)
RV_SETTING_ACCESSORS(Value, screenVideoStopTime, setScreenVideoStopTime, screenVideoStopTime_)
RV_SETTING_ACCESSORS(double, videoWidthKey, setVideoWidthKey, videoWidthKey_)
RV_SETTING_ACCESSORS(double, videoHeightKey, setVideoHeightKey, videoHeightKey_)
RV_SETTING_ACCESSORS(double, videoMaxKeyFrameIntervalKey, setVideoMaxKeyFrameIntervalKey,
                     videoMaxKeyFrameIntervalKey_)
RV_SETTING_ACCESSORS(double, videoAverageBitRateKey, setVideoAverageBitRateKey,
                     videoAverageBitRateKey_)
RV_SETTING_ACCESSORS(float, videoFrameRate, setVideoFrameRate, videoFrameRate_)
RV_SETTING_ACCESSORS(bool, isWifiOn, setIsWifiOn, isWifiOn_)
RV_SETTING_ACCESSORS(bool, is3GOn, setIs3GOn, is3GOn_)
RV_SETTING_ACCESSORS(Value, wifiDataSize, setWifiDataSize, wifiDataSize_)
RV_SETTING_ACCESSORS(std::string, validUrl, setValidUrl, validUrl_)
RV_SETTING_ACCESSORS(int64_t, threeGDataSize, setThreeGDataSize, threeGDataSize_)
RV_SETTING_ACCESSORS(int32_t, remoteHostStatus, setRemoteHostStatus, remoteHostStatus_)
RV_SETTING_ACCESSORS(int64_t, totalDataSent, setTotalDataSent, totalDataSent_)
RV_SETTING_ACCESSORS(std::string, cachesDirectory, setCachesDirectory, cachesDirectory_)

#undef RV_SETTING_ACCESSORS

}  // namespace rivlo
