#include "core/RVMovieUpload.h"

#include "core/RVSetting.h"
#include "core/RVUtil.h"
#include "core/RivloHandler.h"
#include "foundation/Log.h"
#include "http/RVAFHTTPClient.h"
#include "http/RVAFHTTPRequestOperation.h"
#include "http/RVAFStreamingMultipartFormData.h"
#include "protocol/RVWireProtocol.h"
#include "store/RVPlistHandler.h"

#include <sys/stat.h>

namespace rivlo {
namespace {

constexpr const char* kUploadPath = RVWire::kUploadVideoPath;
constexpr double kUploadTimeoutSeconds = 120;

std::string capitalised(std::string text) {
    if (!text.empty() && text[0] >= 'a' && text[0] <= 'z')
        text[0] = static_cast<char>(text[0] - 32);
    return text;
}

}  // namespace

void RVMovieUpload::post(const std::vector<RVStoredMovie>& movies, const RVMovieUploadKind& kind) {
    // The record the allowance is counted in, made current before the network check notes the
    // status in it: without one (no verification answer yet) every size would pass, also on
    // a cellular network the service never allowed.
    (void)RVUtil::setting();
    if (!RVUtil::isNetworkAvailable() || movies.empty()) return;

    auto* rivlo = RivloHandler::rivlo();
    auto client = rivlo ? rivlo->httpClient() : nullptr;
    if (!client) {
        RVLog("Rivlo: No connection to the service; %zu %s videos stay stored", movies.size(),
              kind.label.c_str());
        return;
    }

    for (const auto& movie : movies) {
        if (!movie.valid) {
            kind.remove(movie.videoName);
            continue;
        }
        const std::string path = RVPlistHandler::pathInFolder(kind.folder, movie.videoName);
        struct stat st;
        if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
            kind.remove(movie.videoName);
            continue;
        }
        const int64_t size = static_cast<int64_t>(st.st_size);
        // Over the allowance: this movie and every later one wait for another pass.
        if (!RVUtil::canSendData(size)) break;
        if (auto setting = RVUtil::setting()) setting->updateDataSent(size);

        const URL fileURL = URL::fileURL(path);
        bool fileAppended = true;
        RVURLRequest request = client->multipartFormRequestWithMethod(
            "POST", std::string(kUploadPath), movie.fields,
            [&](RVAFStreamingMultipartFormData& formData) {
                Error error;
                if (!formData.appendPartWithFileURL(fileURL, "file", &error)) {
                    fileAppended = false;
                    RVLog("Rivlo: %s video %s cannot be attached: %s",
                          capitalised(kind.label).c_str(), movie.videoName.c_str(),
                          error.localizedDescription().c_str());
                }
            });
        if (!fileAppended) continue;  // stays stored for the next pass
        request.timeoutInterval = kUploadTimeoutSeconds;

        auto operation = std::make_shared<RVAFHTTPRequestOperation>(request);
        operation->setShouldExecuteAsBackgroundTaskWithExpirationHandler([] {});
        const std::string name = movie.videoName;
        const auto remove = kind.remove;
        const std::string listKey =
            kind.folder == RVPlistHandler::kScreenVideoFolder   ? RVPlistHandler::kScreenVideoKey
            : kind.folder == RVPlistHandler::kCameraVideoFolder ? RVPlistHandler::kCameraVideoKey
                                                                : "";
        operation->setCompletionBlockWithSuccess(
            [name, remove](const std::shared_ptr<RVAFHTTPRequestOperation>&, const Value&) {
                remove(name);
            },
            [name, listKey, label = capitalised(kind.label)](
                const std::shared_ptr<RVAFHTTPRequestOperation>& op, const Error& error) {
                // The movie stays stored and is offered again at the next stop, unless the
                // service keeps refusing it as such (then it is moved aside).
                RVLog("Rivlo: %s video %s not delivered, it stays stored: %s", label.c_str(),
                      name.c_str(), error.localizedDescription().c_str());
                const auto response = op ? op->response() : std::nullopt;
                if (response && !listKey.empty())
                    RVPlistHandler::sharedHandler()->noteRefusal(listKey, name,
                                                                 response->statusCode);
            });
        client->enqueueHTTPRequestOperation(operation);
    }
}

}  // namespace rivlo
