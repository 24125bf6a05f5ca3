// The upload pass of the camera recorder: every stored camera movie to the service, on the same
// path as the screen movies, told apart by "video_type" and the duration field's name.

#include "camera/RVCameraVideo.h"
#include "camera/RVCameraVideoHandler.h"
#include "core/RVMovieUpload.h"
#include "store/RVPlistHandler.h"

namespace rivlo {

void RVCameraVideoHandler::postCameraVideo() {
    // The movie of the session just stopped reaches the store when its recording ends.
    sharedHandler()->waitUntilRecordingIsFinished();

    std::vector<RVStoredMovie> movies;
    for (const auto& video : RVPlistHandler::sharedHandler()->cameraVideoList<RVCameraVideo>()) {
        movies.push_back(
            RVStoredMovie{video->videoName, video->postContents, video->isValidCameraData()});
    }
    RVMovieUpload::post(
        movies, RVMovieUploadKind{"camera", "/RVCameraVideos", [](const std::string& name) {
                                      RVPlistHandler::sharedHandler()->removeCameraVideo(name);
                                  }});
}

}  // namespace rivlo
