// The tile upload pass of the web view registry: every achieved tile of the stored records to
// the service, one request at a time.

#include "core/RVSetting.h"
#include "core/RVUtil.h"
#include "core/RivloHandler.h"
#include "foundation/Log.h"
#include "http/RVAFHTTPClient.h"
#include "http/RVAFHTTPRequestOperation.h"
#include "http/RVAFStreamingMultipartFormData.h"
#include "store/RVPlistHandler.h"
#include "webview/RVWebView.h"
#include "webview/RVWebViewHandler.h"

#include <sys/stat.h>

#include <functional>
#include <mutex>
#include <set>
#include <vector>

namespace rivlo {

// The state a pass carries from one request's completion to the next step. The first step runs
// on the stopping thread, later ones on the main queue; the mutex makes the hand-over explicit.
class RVWebViewHandler::Pass {
  public:
    Pass(std::shared_ptr<RVAFHTTPClient> client, std::function<void()> ended)
        : client_(std::move(client)) {
        if (ended) ended_.push_back(std::move(ended));
    }
    // A pass whose request was cancelled is carried no further: it ends when it is let go.
    ~Pass() { end(); }
    const std::shared_ptr<RVAFHTTPClient>& client() const { return client_; }

    // The pass ends here: tells whoever asked, once.
    void end() {
        std::vector<std::function<void()>> ended;
        {
            std::lock_guard lock(mutex_);
            hasEnded_ = true;
            ended.swap(ended_);
        }
        for (const auto& fn : ended)
            if (fn) fn();
    }
    // Another caller joins this pass (told when it ends); false once it has ended.
    bool join(std::function<void()> ended) {
        std::lock_guard lock(mutex_);
        if (hasEnded_) return false;
        if (ended) ended_.push_back(std::move(ended));
        return true;
    }

    void finish(const std::string& key) {
        std::lock_guard lock(mutex_);
        finished_.insert(key);
    }
    bool isFinished(const std::string& key) const {
        std::lock_guard lock(mutex_);
        return finished_.count(key) > 0;
    }

  private:
    const std::shared_ptr<RVAFHTTPClient> client_;
    mutable std::mutex mutex_;
    std::set<std::string> finished_;
    std::vector<std::function<void()>> ended_;
    bool hasEnded_ = false;
};

namespace {

// The record's name split at every "__": the page address, then the orientation digit.
std::vector<std::string> splitName(const std::string& name) {
    std::vector<std::string> pieces;
    size_t start = 0;
    for (;;) {
        const size_t at = name.find("__", start);
        if (at == std::string::npos) {
            pieces.push_back(name.substr(start));
            return pieces;
        }
        pieces.push_back(name.substr(start, at - start));
        start = at + 2;
    }
}

// The ten text fields of one tile upload.
Value formFields(const RVWebView& record, const RVWebViewGrid& tile) {
    const std::string name = record.webViewName();
    const std::vector<std::string> pieces = splitName(name);
    if (pieces.size() < 2) {
        RVLog("Rivlo: WebViewHandler: web view name without an orientation: %s", name.c_str());
    }
    Value fields = Value::object();
    fields["app_device_id"] = record.appDeviceID();
    fields["orientation"] = pieces.size() >= 2 ? pieces[1] : std::string();
    fields["activity_name"] = pieces[0];
    fields["key"] = record.key();
    fields["total_rows"] = format("%d", record.totalRow());
    fields["total_columns"] = format("%d", record.totalColumn());
    fields["gridImg_width"] = format("%d", record.elementImageWidth());
    fields["gridImg_height"] = format("%d", record.elementImageHeight());
    fields["dist_x"] = format("%f", tile.rect.minX());
    fields["dist_y"] = format("%f", tile.rect.minY());
    return fields;
}

// The pass now running, if any. Its chain re-reads the store before every record, so records
// saved while it runs are taken up by it; a second chain would upload the same tiles again.
std::mutex gPassMutex;
std::weak_ptr<RVWebViewHandler::Pass> gRunningPass;  // guarded by gPassMutex

bool isRegularFile(const std::string& path, int64_t& size) {
    struct stat st;
    if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    size = static_cast<int64_t>(st.st_size);
    return true;
}

}  // namespace

void RVWebViewHandler::postWebViewData() {
    RivloHandler* rivlo = RivloHandler::rivlo();
    postWebViewData(rivlo ? rivlo->httpClient() : nullptr);
}

void RVWebViewHandler::postWebViewData(const std::shared_ptr<RVAFHTTPClient>& client,
                                       std::function<void()> passEnded) {
    auto pass = std::make_shared<Pass>(client, nullptr);
    bool joined = false;
    // Released after the lock: the last reference to a pass ends it, which calls out.
    std::shared_ptr<Pass> running;
    {
        std::lock_guard lock(gPassMutex);
        running = gRunningPass.lock();
        joined = running && running->join(passEnded);
        if (!joined) gRunningPass = pass;
    }
    if (joined) {
        RVLog("Rivlo: WebViewHandler: an upload pass is running; it takes up the new web views");
        return;
    }
    pass->join(std::move(passEnded));
    if (auto record = nextRecord(pass)) {
        postWebViewGrid(record, pass);
    } else {
        pass->end();
    }
}

std::shared_ptr<RVWebView> RVWebViewHandler::nextRecord(const std::shared_ptr<Pass>& pass) {
    // The record the allowance is counted in; made current before the network check notes the
    // status in it.
    (void)RVUtil::setting();
    const auto records = RVPlistHandler::sharedHandler()->webViewList<RVWebView>();
    std::shared_ptr<RVWebView> next;
    for (auto it = records.rbegin(); it != records.rend(); ++it) {
        if (!pass->isFinished((*it)->key())) {
            next = *it;
            break;
        }
    }
    if (!next || !RVUtil::isNetworkAvailable() || !RVUtil::canSendData(0)) return nullptr;
    if (!pass->client()) {
        RVLog("Rivlo: No connection to the service; %zu web views stay stored", records.size());
        return nullptr;
    }
    return next;
}

void RVWebViewHandler::postWebViewGrid(const std::shared_ptr<RVWebView>& first,
                                       const std::shared_ptr<Pass>& pass) {
    if (!pass) return;
    auto* store = RVPlistHandler::sharedHandler();
    std::shared_ptr<RVWebView> record = first;
    // Steps that need no request (a finished record, a missing image) go on at once; the loop
    // ends when a request is queued or the pass ends.
    while (record) {
        if (!RVUtil::isNetworkAvailable()) break;

        const std::optional<RVWebViewGrid> tile = record->lastAchievedGrid();
        if (!tile) {
            // Every tile of this record is done with in this pass: the store drops the record
            // when none of its tiles is left there, and the pass does not take it up again.
            const std::string key = record->key();
            pass->finish(key);
            store->removeWebView(key);
            record = nextRecord(pass);
            continue;
        }

        const std::string path =
            RVPlistHandler::pathInFolder(RVPlistHandler::kWebViewImageFolder, tile->imageName);
        int64_t size = 0;
        if (!isRegularFile(path, size)) {
            store->removeWebViewGrid(tile->imageName);
            record->removeAchievedGrid();
            continue;
        }
        // Over the allowance: the pass ends and everything stays pending.
        if (!RVUtil::canSendData(size)) break;
        if (auto setting = RVUtil::setting()) setting->updateDataSent(size);

        const Value fields = formFields(*record, *tile);
        const URL fileURL = URL::fileURL(path);
        bool appended = true;
        RVURLRequest request = pass->client()->multipartFormRequestWithMethod(
            "POST", std::string(kUploadPath), fields,
            [&](RVAFStreamingMultipartFormData& formData) {
                Error error;
                if (!formData.appendPartWithFileURL(fileURL, "file", &error)) {
                    appended = false;
                    RVLog("Rivlo: WebViewHandler: Error adding image file to upload: %s (file: %s)",
                          error.description().c_str(), path.c_str());
                }
            });
        if (!appended) break;  // the tile stays pending
        request.timeoutInterval = kUploadTimeoutSeconds;

        const std::string imageName = tile->imageName;
        auto operation = pass->client()->HTTPRequestOperationWithRequest(
            request,
            [record, pass, imageName](const std::shared_ptr<RVAFHTTPRequestOperation>&,
                                      const Value&) {
                RVPlistHandler::sharedHandler()->removeWebViewGrid(imageName);
                record->removeAchievedGrid();
                postWebViewGrid(record, pass);
            },
            [record, pass, imageName](const std::shared_ptr<RVAFHTTPRequestOperation>& op,
                                      const Error& error) {
                const std::optional<std::string> response =
                    op ? op->responseString() : std::nullopt;
                RVLog("Web Image Post Failure: Error: %s, Response: %s",
                      error.description().c_str(), response ? response->c_str() : "(null)");
                // The tile stays stored for a later pass, unless the service keeps refusing
                // it as such (then it is moved aside).
                if (const auto head = op ? op->response() : std::nullopt)
                    RVPlistHandler::sharedHandler()->noteRefusal(RVPlistHandler::kWebViewKey,
                                                                 imageName, head->statusCode);
                record->removeAchievedGrid();
                postWebViewGrid(record, pass);
            });
        operation->setShouldExecuteAsBackgroundTaskWithExpirationHandler([] {});
        pass->client()->enqueueHTTPRequestOperation(operation);
        return;
    }
    pass->end();
}

}  // namespace rivlo
