#pragma once

#include "foundation/URL.h"
#include "foundation/Value.h"
#include "platform/MovieWriter.h"

#include <memory>
#include <optional>
#include <string>

namespace rivlo {

// One finished screen movie waiting for upload: the name the store keeps its file under (and
// the service receives it as), its duration in whole seconds, its type and the application
// device identifier when it was made. The recorder makes one from the movie it finished; the
// store saves it as a dictionary and every upload pass rebuilds it from that dictionary.
// A plain value; any thread.
class RVScreenVideo {
  public:
    // A blank record: duration "-1", no movie, no form.
    RVScreenVideo() = default;

    // A record for a finished movie: type "screen", the current application device identifier,
    // a fresh upload name "<vendor identifier>_<file stamp>.mp4" and the movie's duration read
    // from the file ("0" when it cannot be read). Reads the file, so not on the main thread.
    static std::shared_ptr<RVScreenVideo> initWithVideoUrl(const URL& videoURL);

    // Rebuilds a stored record, with its upload form. nullptr when the entry is not a
    // dictionary or has no usable "videoName" (then nothing could be uploaded or deleted by
    // name). Other missing keys are filled so the form always carries its three fields: type
    // "screen", the current application device identifier, duration "0" (one log line).
    static std::shared_ptr<RVScreenVideo> initFromSavedDictionary(const Value& saved);

    // The stored entry {"videoType", "appDeviceId", "videoName", "videoDuration"}.
    Value savedDictionary() const;

    // "Video Type:%@, App DeviceId:%@, Video Name:%@, Video Duration:%@"
    std::string description() const;

    // True when the record names a file.
    bool isValidScreenData() const { return !videoName.empty(); }

    // Whole seconds of a duration (value / timescale, truncated toward zero) as text; "0" when
    // there is no duration or its timescale is 0.
    static std::string durationText(const std::optional<MediaTime>& duration);

    std::string videoType;
    std::string appDeviceId;
    std::string videoName;
    std::string videoDuration = "-1";
    std::optional<URL> videoURL;        // only in a record made from a movie
    std::optional<Value> postContents;  // only in a record rebuilt from the store
};

}  // namespace rivlo
