// The session data upload of the timeline owner, and its registration with the controller.

#include "core/RVSessionSteps.h"
#include "core/RVSetting.h"
#include "core/RVUtil.h"
#include "core/RivloHandler.h"
#include "foundation/Log.h"
#include "http/RVAFHTTPClient.h"
#include "http/RVAFHTTPRequestOperation.h"
#include "http/RVAFStreamingMultipartFormData.h"
#include "store/RVPlistHandler.h"
#include "timeline/RVHeatTimeHandler.h"

#include <sys/stat.h>

namespace rivlo {

namespace {
constexpr double kUploadTimeoutSeconds = 120;
}  // namespace

void RVHeatTimeHandler::postHeatTimeData() {
    RivloHandler* rivlo = RivloHandler::rivlo();
    postHeatTimeData(rivlo ? rivlo->httpClient() : nullptr);
}

void RVHeatTimeHandler::postHeatTimeData(const std::shared_ptr<RVAFHTTPClient>& client) {
    auto* store = RVPlistHandler::sharedHandler();
    const auto files = store->textFileList();
    // The record the allowance is counted in; made current first, so that the network check
    // below notes the status in it (a record made later would know no network status and
    // refuse every file after the first).
    const std::shared_ptr<RVSetting> setting = RVUtil::setting();
    if (!RVUtil::isNetworkAvailable() || files.empty()) return;
    if (!client) {
        RVLog("Rivlo: No connection to the service; %zu session data files stay stored",
              files.size());
        return;
    }

    for (const auto& file : files) {
        const std::string path =
            RVPlistHandler::pathInFolder(RVPlistHandler::kDataFolder, file->fileName);
        struct stat st;
        if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
            RVLog("Rivlo: HeatTimeData: missing file");
            store->removeTextFile(*file);
            continue;
        }
        const int64_t size = static_cast<int64_t>(st.st_size);
        // Over the allowance: this document and every later one wait for another pass.
        if (!RVUtil::canSendData(size)) break;
        setting->updateDataSent(size);

        const URL fileURL = URL::fileURL(path);
        bool appended = true;
        RVURLRequest request = client->multipartFormRequestWithMethod(
            "POST", std::string(kUploadDataPath), Value::object(),
            [&](RVAFStreamingMultipartFormData& formData) {
                Error error;
                if (!formData.appendPartWithFileURL(fileURL, "file", &error)) {
                    appended = false;
                    RVLog("Rivlo: HeatMap/Timeline: Error adding txt file: %s (file: %s)",
                          error.description().c_str(), path.c_str());
                }
            });
        if (!appended) continue;  // stays stored for the next pass
        request.timeoutInterval = kUploadTimeoutSeconds;

        auto operation = client->HTTPRequestOperationWithRequest(
            request,
            [record = *file](const std::shared_ptr<RVAFHTTPRequestOperation>&, const Value&) {
                RVPlistHandler::sharedHandler()->removeTextFile(record);
            },
            [name = file->fileName](const std::shared_ptr<RVAFHTTPRequestOperation>& op,
                                    const Error& error) {
                // The document stays stored and is offered again at the next stop, unless the
                // service keeps refusing it as such (then it is moved aside).
                RVLog("Rivlo: session data file %s not delivered, it stays stored: %s",
                      name.c_str(), error.localizedDescription().c_str());
                const auto response = op ? op->response() : std::nullopt;
                if (response)
                    RVPlistHandler::sharedHandler()->noteRefusal(RVPlistHandler::kTextFileKey, name,
                                                                 response->statusCode);
            });
        operation->setShouldExecuteAsBackgroundTaskWithExpirationHandler([] {});
        client->enqueueHTTPRequestOperation(operation);
    }
}

void RVHeatTimeHandler::tagScreenName(const std::string& name) {
    auto screen = sharedHandler()->vcDetailCreatingIfNeeded();
    screen->setWillAppearVCName(name);
    screen->setDidAppearVCName(name);
}

void RVHeatTimeHandler::registerSessionSteps() {
    RVTimelineSteps steps;
    steps.startTimer = [] { startTimer(); };
    steps.resetTimer = [] { resetTimer(); };
    steps.reset = [] { reset(); };
    steps.saveHeatMap = [] { saveHeatMap(); };
    steps.postHeatTimeData = [] { postHeatTimeData(); };
    steps.tagScreenName = [](const std::string& name) { tagScreenName(name); };
    RVSessionSteps::registerTimeline(std::move(steps));
}

}  // namespace rivlo
