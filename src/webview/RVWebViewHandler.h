#pragma once

#include "foundation/NotificationCenter.h"
#include "protocol/RVWireProtocol.h"

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

namespace rivlo {

class RVAFHTTPClient;
class RVWebView;

// The web view registry and the tile upload.
//
// Registry: the capture records of this session's web pages, one per registry key (page
// address, "__", orientation digit), from the first touch on a page until the session is
// stopped (saveWebViewData hands them to the pending-upload store) or the application becomes
// active again (records not yet saved are dropped). Touches use it on the main thread; the
// stopping thread saves it; a mutex guards the dictionary.
//
// Upload: every achieved tile of the stored records goes to "/webservices/v2/uploadheatcordsweb",
// one request at a time, each finished request starting the next (records from the end of the
// stored list, tiles from the last captured to the first). A tile leaves the store when the
// service accepted it; a failed tile stays stored for a later pass. A pass remembers the records
// it has finished and does not take them up again, so failed tiles are not retried within the
// pass.
class RVWebViewHandler {
  public:
    using WebViewDict = std::map<std::string, std::shared_ptr<RVWebView>>;
    static constexpr const char* kUploadPath = RVWire::kUploadWebTilesPath;
    static constexpr double kUploadTimeoutSeconds = 120;

    // The shared registry, created on first use (it then observes application activation) and
    // freed when the library closes. Any thread.
    static RVWebViewHandler* sharedHandler();

    // A copy of the registry. Any thread.
    WebViewDict webViewDict() const;
    // True when the registry has no record for the key. Any thread.
    static bool isNewWebView(const std::string& key);
    // The record for the key, created (initWithWebViewName) and stored when absent. Any thread.
    std::shared_ptr<RVWebView> webViewForKey(const std::string& key);
    // Activation: the registry starts empty again. Main thread (any thread is safe).
    void applicationDidBecomeActive();

    // Hands a non-empty registry to the pending-upload store and empties it. The thread that
    // stops the session.
    static void saveWebViewData();

    // Starts an upload pass through the session controller's client. Returns once the first
    // request is queued (or there is nothing to send); later steps run on the main queue as each
    // request finishes. While a pass runs, a further call starts no second chain over the same
    // tiles: the running pass reads the store before each record and so takes up whatever was
    // saved meanwhile. The stop-and-post thread (never the main thread, which the requests call
    // back on).
    static void postWebViewData();
    // The same through a given client (nothing without one). passEnded, when given, is called
    // once when the pass (or the running pass this call joined) ends: nothing left, no network,
    // no allowance, a file that cannot be attached, or a cancelled request (when the pass is let
    // go). Called on the thread that ends it.
    static void postWebViewData(const std::shared_ptr<RVAFHTTPClient>& client,
                                std::function<void()> passEnded = nullptr);

    // One upload pass: its client and the keys of the records it has finished.
    class Pass;
    // Continues a pass with a record: uploads its last achieved tile, or finishes the record
    // and takes the next one. Any thread but the main one for a pass's first step; the main
    // queue afterwards.
    static void postWebViewGrid(const std::shared_ptr<RVWebView>& record,
                                const std::shared_ptr<Pass>& pass);

    // Registers saveWebViewData and postWebViewData with the session controller. Called when
    // the library starts (rivlo_init).
    static void registerSessionSteps();

    // Freed when the library closes.
    ~RVWebViewHandler();

  private:
    RVWebViewHandler();

    // The next record of the pass (the last stored one it has not finished), or null when the
    // pass ends here: nothing left, no network, or no allowance.
    static std::shared_ptr<RVWebView> nextRecord(const std::shared_ptr<Pass>& pass);

    mutable std::mutex mutex_;
    WebViewDict webViewDict_;
    NotificationCenter::Token activationObserver_{};
};

}  // namespace rivlo
