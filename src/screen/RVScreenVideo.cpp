#include "screen/RVScreenVideo.h"

#include "core/RVUtil.h"
#include "foundation/Log.h"
#include "platform/Device.h"
#include "platform/MovieDuration.h"
#include "platform/Platform.h"

#include <vector>

namespace rivlo {
namespace {

constexpr const char* kScreenVideoFolder = "/RVScreenVideos";

// A stored value as text: texts as they are, whole numbers printed as integers.
std::optional<std::string> storedText(const Value& dict, const char* key) {
    auto it = dict.find(key);
    if (it == dict.end()) return std::nullopt;
    if (it->is_string()) return it->get<std::string>();
    if (it->is_number_integer()) return std::to_string(it->get<int64_t>());
    if (it->is_number_float()) return std::to_string(static_cast<int64_t>(it->get<double>()));
    return std::nullopt;
}

bool isPlainFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

}  // namespace

std::string RVScreenVideo::durationText(const std::optional<MediaTime>& duration) {
    if (!duration || duration->timescale == 0) return "0";
    const long long seconds = static_cast<long long>(duration->value / duration->timescale);
    return format("%lld", seconds);
}

std::shared_ptr<RVScreenVideo> RVScreenVideo::initWithVideoUrl(const URL& videoURL) {
    auto video = std::make_shared<RVScreenVideo>();
    video->videoType = "screen";
    video->videoURL = videoURL;
    video->appDeviceId = RVUtil::appDeviceId();

    std::string vendor;
    if (auto device = Platform::current().device()) {
        vendor = device->identifierForVendor();
    } else {
        RVLog("Rivlo: No device to name the screen video; using an empty vendor identifier");
    }
    const std::string prefix = vendor + "_";
    video->videoName = prefix + RVUtil::dateForFile(kScreenVideoFolder, prefix, ".mp4") + ".mp4";

    std::optional<MediaTime> duration;
    auto reader = Platform::current().service<MovieDurationReader>();
    if (reader && videoURL.isFileURL()) duration = reader->duration(videoURL.decodedPath());
    video->videoDuration = durationText(duration);
    return video;
}

std::shared_ptr<RVScreenVideo> RVScreenVideo::initFromSavedDictionary(const Value& saved) {
    if (!saved.is_object()) return nullptr;
    // The name is the file's: only a plain file name in text will do.
    auto it = saved.find("videoName");
    if (it == saved.end() || !it->is_string()) return nullptr;
    const std::optional<std::string> name = it->get<std::string>();
    if (!isPlainFileName(*name)) return nullptr;

    auto video = std::make_shared<RVScreenVideo>();
    video->videoName = *name;
    std::vector<std::string> missing;
    auto type = storedText(saved, "videoType");
    auto device = storedText(saved, "appDeviceId");
    auto duration = storedText(saved, "videoDuration");
    if (!type) missing.push_back("videoType");
    if (!device) missing.push_back("appDeviceId");
    if (!duration) missing.push_back("videoDuration");
    video->videoType = type.value_or("screen");
    video->appDeviceId = device ? *device : RVUtil::appDeviceId();
    video->videoDuration = duration.value_or("0");
    if (!missing.empty()) {
        std::string list;
        for (const auto& key : missing)
            list += (list.empty() ? "" : ", ") + key;
        RVLog("Rivlo: Stored screen video %s lacks %s; sending it with default values",
              video->videoName.c_str(), list.c_str());
    }
    video->postContents = Value{{"app_device_id", video->appDeviceId},
                                {"video_type", video->videoType},
                                {"sv_duration", video->videoDuration}};
    return video;
}

Value RVScreenVideo::savedDictionary() const {
    return Value{{"videoType", videoType},
                 {"appDeviceId", appDeviceId},
                 {"videoName", videoName},
                 {"videoDuration", videoDuration}};
}

std::string RVScreenVideo::description() const {
    return format("Video Type:%s, App DeviceId:%s, Video Name:%s, Video Duration:%s",
                  videoType.c_str(), appDeviceId.c_str(), videoName.c_str(), videoDuration.c_str());
}

}  // namespace rivlo
