// The upload pass of the screen recorder: every stored screen movie to the service.

#include "core/RVMovieUpload.h"
#include "screen/RVScreenVideo.h"
#include "screen/RVViewVideoHandler.h"
#include "store/RVPlistHandler.h"

namespace rivlo {

void RVViewVideoHandler::postScreenVideo() {
    // The movie of the session just stopped reaches the store when its recording ends.
    sharedHandler()->waitUntilRecordingIsFinished();

    std::vector<RVStoredMovie> movies;
    for (const auto& video : RVPlistHandler::sharedHandler()->screenVideoList<RVScreenVideo>()) {
        movies.push_back(RVStoredMovie{video->videoName,
                                       video->postContents.value_or(Value::object()),
                                       video->isValidScreenData()});
    }
    RVMovieUpload::post(
        movies, RVMovieUploadKind{"screen", "/RVScreenVideos", [](const std::string& name) {
                                      RVPlistHandler::sharedHandler()->removeScreenVideo(name);
                                  }});
}

}  // namespace rivlo
