#pragma once

#include "foundation/URL.h"
#include "foundation/Value.h"
#include "platform/MovieWriter.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace rivlo {

// One camera movie waiting for upload: its upload name, duration, type, the application device
// identifier and the interface orientation when its recording began, and the form fields sent
// with it. The camera recorder makes one when a recording starts (name, identifier and
// orientation are fixed then) and completes it with the finished movie at the stop; the store
// saves it as a dictionary and every upload pass rebuilds it from that dictionary.
// A plain value; any thread.
class RVCameraVideo {
  public:
    // A blank record (no name).
    RVCameraVideo() = default;

    // A record for a recording that starts now: type "camera", the current application device
    // identifier, a fresh upload name "<app device id>_<file stamp>.mp4", the orientation code of
    // the status bar, duration "-1" and the form without a duration.
    static std::shared_ptr<RVCameraVideo> init();
    // init, then updateWithVideoURL. Reads the file, so not on the main thread.
    static std::shared_ptr<RVCameraVideo> initWithVideoUrl(const URL& videoURL);

    // Rebuilds a stored record with its four form fields. nullptr when the entry is not a
    // dictionary or has no plain file name under "videoName". Other missing keys are filled
    // (type "camera", the current application device identifier, duration "0", orientation 1)
    // with one log line.
    static std::shared_ptr<RVCameraVideo> initFromSavedDictionary(const Value& saved);

    // Sets the movie, reads its duration ("0" when it cannot be read) and rebuilds the form with
    // all four fields. Reads the file, so not on the main thread.
    void updateWithVideoURL(const URL& videoURL);
    // The orientation code for the status bar orientation now.
    void updateOrientation();

    // The stored entry {"videoType", "appDeviceId", "videoName", "videoDuration",
    // "videoOrientation"}.
    Value savedDictionary() const;

    // "Content:%@, Video Type:%@, App DeviceId:%@, Video Name:%@, Video Duration:%@, Video
    // URL:%@ Orientation: %d"
    std::string description() const;

    bool isValidCameraData() const { return !videoName.empty(); }

    // Whole seconds of a duration (value / timescale, truncated toward zero) as text; "0" when
    // there is no duration or its timescale is 0.
    static std::string durationText(const std::optional<MediaTime>& duration);

    std::string content;
    std::string videoType = "camera";
    std::string appDeviceId;
    std::string videoName;
    std::string videoDuration = "-1";
    std::optional<URL> videoURL;
    int32_t orientation = 1;
    Value postContents = Value::object();

  private:
    void rebuildPostContents(bool withDuration);
};

}  // namespace rivlo
