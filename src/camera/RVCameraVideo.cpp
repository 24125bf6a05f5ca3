#include "camera/RVCameraVideo.h"

#include "core/RVUtil.h"
#include "foundation/Log.h"
#include "platform/MovieDuration.h"
#include "platform/Platform.h"
#include "store/RVStoreFiles.h"

#include <vector>

namespace rivlo {
namespace {

constexpr const char* kCameraVideoFolder = "/RVCameraVideos";

// A stored value as text: texts as they are, numbers printed as whole numbers.
std::optional<std::string> storedText(const Value& dict, const char* key) {
    auto it = dict.find(key);
    if (it == dict.end()) return std::nullopt;
    if (it->is_string()) return it->get<std::string>();
    if (it->is_number_integer()) return std::to_string(it->get<int64_t>());
    if (it->is_number_float()) return std::to_string(static_cast<int64_t>(it->get<double>()));
    return std::nullopt;
}

std::optional<int32_t> storedInteger(const Value& dict, const char* key) {
    auto it = dict.find(key);
    if (it == dict.end()) return std::nullopt;
    if (it->is_number_integer()) return static_cast<int32_t>(it->get<int64_t>());
    if (it->is_number_float()) return static_cast<int32_t>(it->get<double>());
    if (it->is_string()) {
        try {
            return static_cast<int32_t>(std::stol(it->get<std::string>()));
        } catch (const std::exception&) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

}  // namespace

std::string RVCameraVideo::durationText(const std::optional<MediaTime>& duration) {
    if (!duration || duration->timescale == 0) return "0";
    return format("%lld", static_cast<long long>(duration->value / duration->timescale));
}

std::shared_ptr<RVCameraVideo> RVCameraVideo::init() {
    auto video = std::make_shared<RVCameraVideo>();
    video->appDeviceId = RVUtil::appDeviceId();
    const std::string prefix = video->appDeviceId + "_";
    video->videoName = prefix + RVUtil::dateForFile(kCameraVideoFolder, prefix, ".mp4") + ".mp4";
    video->updateOrientation();
    video->rebuildPostContents(false);
    return video;
}

std::shared_ptr<RVCameraVideo> RVCameraVideo::initWithVideoUrl(const URL& videoURL) {
    auto video = init();
    video->updateWithVideoURL(videoURL);
    return video;
}

void RVCameraVideo::updateWithVideoURL(const URL& url) {
    videoURL = url;
    std::optional<MediaTime> duration;
    auto reader = Platform::current().service<MovieDurationReader>();
    if (reader && url.isFileURL()) duration = reader->duration(url.decodedPath());
    videoDuration = durationText(duration);
    rebuildPostContents(true);
}

void RVCameraVideo::updateOrientation() {
    orientation = RVUtil::orientation();
}

void RVCameraVideo::rebuildPostContents(bool withDuration) {
    postContents = Value{{"app_device_id", appDeviceId},
                         {"video_type", videoType},
                         {"orientation", static_cast<uint32_t>(orientation)}};
    if (withDuration) postContents["cv_duration"] = videoDuration;
}

std::shared_ptr<RVCameraVideo> RVCameraVideo::initFromSavedDictionary(const Value& saved) {
    if (!saved.is_object()) return nullptr;
    auto it = saved.find("videoName");
    if (it == saved.end() || !it->is_string()) return nullptr;
    const std::string name = it->get<std::string>();
    if (!RVStoreFiles::isSafeName(name)) return nullptr;

    auto video = std::make_shared<RVCameraVideo>();
    video->videoName = name;
    std::vector<std::string> missing;
    auto type = storedText(saved, "videoType");
    auto device = storedText(saved, "appDeviceId");
    auto duration = storedText(saved, "videoDuration");
    auto orientation = storedInteger(saved, "videoOrientation");
    if (!type) missing.push_back("videoType");
    if (!device) missing.push_back("appDeviceId");
    if (!duration) missing.push_back("videoDuration");
    if (!orientation) missing.push_back("videoOrientation");
    video->videoType = type.value_or("camera");
    video->appDeviceId = device ? *device : RVUtil::appDeviceId();
    video->videoDuration = duration.value_or("0");
    video->orientation = orientation.value_or(1);
    if (!missing.empty()) {
        std::string list;
        for (const auto& key : missing)
            list += (list.empty() ? "" : ", ") + key;
        RVLog("Rivlo: Stored camera video %s lacks %s; sending it with default values",
              video->videoName.c_str(), list.c_str());
    }
    video->rebuildPostContents(true);
    return video;
}

Value RVCameraVideo::savedDictionary() const {
    return Value{{"videoType", videoType},
                 {"appDeviceId", appDeviceId},
                 {"videoName", videoName},
                 {"videoDuration", videoDuration},
                 {"videoOrientation", static_cast<uint32_t>(orientation)}};
}

std::string RVCameraVideo::description() const {
    return format(
        "Content:%s, Video Type:%s, App DeviceId:%s, Video Name:%s, Video Duration:%s, Video "
        "URL:%s Orientation: %d",
        content.c_str(), videoType.c_str(), appDeviceId.c_str(), videoName.c_str(),
        videoDuration.c_str(), videoURL ? videoURL->absoluteString().c_str() : "(null)",
        orientation);
}

}  // namespace rivlo
