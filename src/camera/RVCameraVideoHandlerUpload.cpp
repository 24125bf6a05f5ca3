// The upload pass of the camera recorder: every stored camera movie to the service, on the same
// path as the screen movies, told apart by "video_type" and the duration field's name.

#include "camera/RVCameraVideo.h"
#include "camera/RVCameraVideoHandler.h"
#include "core/RVSetting.h"
#include "core/RVUtil.h"
#include "core/RivloHandler.h"
#include "foundation/Log.h"
#include "http/RVAFHTTPClient.h"
#include "http/RVAFHTTPRequestOperation.h"
#include "http/RVAFStreamingMultipartFormData.h"
#include "store/RVPlistHandler.h"

#include <sys/stat.h>

namespace rivlo {
namespace {

constexpr const char* kUploadPath = "/webservices/v2/uploadvideo";
constexpr double kUploadTimeoutSeconds = 120;

}  // namespace

void RVCameraVideoHandler::postCameraVideo() {
    // The movie of the session just stopped reaches the store when its recording ends.
    sharedHandler()->waitUntilRecordingIsFinished();

    auto* store = RVPlistHandler::sharedHandler();
    const auto videos = store->cameraVideoList<RVCameraVideo>();
    if (!RVUtil::isNetworkAvailable() || videos.empty()) return;

    auto* rivlo = RivloHandler::rivlo();
    auto client = rivlo ? rivlo->httpClient() : nullptr;
    if (!client) {
        RVLog("Rivlo: No connection to the service; %zu camera videos stay stored", videos.size());
        return;
    }

    for (const auto& video : videos) {
        if (!video->isValidCameraData()) {
            store->removeCameraVideo(video->videoName);
            continue;
        }
        const std::string path = RVPlistHandler::pathInFolder("/RVCameraVideos", video->videoName);
        struct stat st;
        if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
            store->removeCameraVideo(video->videoName);
            continue;
        }
        const int64_t size = static_cast<int64_t>(st.st_size);
        // Over the allowance: this movie and every later one wait for another pass.
        if (!RVUtil::canSendData(size)) break;
        if (auto setting = RVUtil::setting()) setting->updateDataSent(size);

        const URL fileURL = URL::fileURL(path);
        bool fileAppended = true;
        RVURLRequest request = client->multipartFormRequestWithMethod(
            "POST", std::string(kUploadPath), video->postContents,
            [&](RVAFStreamingMultipartFormData& formData) {
                Error error;
                if (!formData.appendPartWithFileURL(fileURL, "file", &error)) {
                    fileAppended = false;
                    RVLog("Rivlo: Camera video %s cannot be attached: %s", video->videoName.c_str(),
                          error.localizedDescription().c_str());
                }
            });
        if (!fileAppended) continue;  // stays stored for the next pass
        request.timeoutInterval = kUploadTimeoutSeconds;

        auto operation = std::make_shared<RVAFHTTPRequestOperation>(request);
        operation->setShouldExecuteAsBackgroundTaskWithExpirationHandler([] {});
        const std::string name = video->videoName;
        operation->setCompletionBlockWithSuccess(
            [name](const std::shared_ptr<RVAFHTTPRequestOperation>&, const Value&) {
                RVPlistHandler::sharedHandler()->removeCameraVideo(name);
            },
            [](const std::shared_ptr<RVAFHTTPRequestOperation>&, const Error&) {
                // The movie stays stored and is offered again at the next stop.
            });
        client->enqueueHTTPRequestOperation(operation);
    }
}

}  // namespace rivlo
