#pragma once

#include "foundation/Error.h"
#include "foundation/Operation.h"
#include "foundation/URL.h"
#include "foundation/Value.h"
#include "http/RVAFHTTPRequestOperation.h"
#include "http/RVAFStreamingMultipartFormData.h"
#include "http/RVURLRequest.h"

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace rivlo {

class ReachabilityTarget;

// How parameters of a request with a body are encoded.
enum RVAFHTTPClientParameterEncoding : int32_t {
    RVAFFormURLParameterEncoding = 0,
    RVAFJSONParameterEncoding = 1,
    RVAFPropertyListParameterEncoding = 2,
};

enum RVAFNetworkReachabilityStatus : int32_t {
    RVAFNetworkReachabilityStatusUnknown = -1,
    RVAFNetworkReachabilityStatusNotReachable = 0,
    RVAFNetworkReachabilityStatusReachableViaWWAN = 1,
    RVAFNetworkReachabilityStatusReachableViaWiFi = 2,
};

// The status for a set of platform reachability flags.
RVAFNetworkReachabilityStatus RVAFNetworkReachabilityStatusForFlags(uint32_t flags);

// The client for one service: base URL, default headers (Accept-Language and User-Agent from
// the platform's facts), parameter encoding, and the operation queue on which its requests
// run. Create with clientWithBaseURL(); keep the shared pointer for the client's life.
//
// Threads: request building and configuration may be called from any thread (configuration is
// guarded, but configure before sending requests from several threads). Reachability changes
// arrive on the main run loop.
class RVAFHTTPClient : public std::enable_shared_from_this<RVAFHTTPClient> {
  public:
    using ReachabilityStatusBlock = std::function<void(RVAFNetworkReachabilityStatus status)>;
    using BatchProgressBlock = std::function<void(size_t finished, size_t total)>;
    using BatchCompletionBlock =
        std::function<void(const std::vector<std::shared_ptr<RVAFHTTPRequestOperation>>& ops)>;
    using FormDataBlock = std::function<void(RVAFStreamingMultipartFormData& formData)>;

    static std::shared_ptr<RVAFHTTPClient> clientWithBaseURL(const URL& baseURL);
    virtual ~RVAFHTTPClient();

    virtual std::string className() const { return "RVAFHTTPClient"; }

    const URL& baseURL() const { return baseURL_; }
    unsigned stringEncoding() const;
    void setStringEncoding(unsigned encoding);
    int32_t parameterEncoding() const;
    void setParameterEncoding(int32_t encoding);
    const std::shared_ptr<OperationQueue>& operationQueue() const { return operationQueue_; }
    RVAFNetworkReachabilityStatus networkReachabilityStatus() const;
    std::vector<std::string> registeredHTTPOperationClassNames() const;
    RVHTTPHeaders defaultHeaders() const;

    // Sets (or, with nullopt, removes) a header sent with every request.
    void setDefaultHeader(const std::string& header, const std::optional<std::string>& value);
    std::optional<std::string> defaultValueForHeader(const std::string& header) const;
    void setAuthorizationHeaderWithUsername(const std::string& username,
                                            const std::string& password);
    void setAuthorizationHeaderWithToken(const std::string& token);
    void clearAuthorizationHeader();

    // Refuses (false) a class that is not an HTTP request operation kind; otherwise moves the
    // class to the front of the list.
    bool registerHTTPOperationClass(const RVAFHTTPOperationClass& operationClass);
    void unregisterHTTPOperationClass(const std::string& className);

    void setReachabilityStatusChangeBlock(ReachabilityStatusBlock block);

    // A request for `path` resolved against the base URL, with the default headers. A null
    // `parameters` means none; for GET, HEAD and DELETE they go into the query string,
    // otherwise into the body by parameterEncoding().
    RVURLRequest requestWithMethod(const std::string& method,
                                   const std::optional<std::string>& path,
                                   const Value& parameters = Value()) const;
    // A multipart/form-data request: one text part per parameter (sorted), then whatever the
    // block appends (the file part), streamed from disk when sent.
    RVURLRequest multipartFormRequestWithMethod(const std::string& method,
                                                const std::optional<std::string>& path,
                                                const Value& parameters,
                                                const FormDataBlock& block) const;

    // A new operation for the request (the first registered class that can process it, else
    // RVAFHTTPRequestOperation) with its callbacks set. Not started.
    std::shared_ptr<RVAFHTTPRequestOperation> HTTPRequestOperationWithRequest(
        const RVURLRequest& request, RVAFHTTPRequestOperation::SuccessBlock success,
        RVAFHTTPRequestOperation::FailureBlock failure) const;
    void enqueueHTTPRequestOperation(const std::shared_ptr<Operation>& operation);

    void getPath(const std::string& path, const Value& parameters,
                 RVAFHTTPRequestOperation::SuccessBlock success,
                 RVAFHTTPRequestOperation::FailureBlock failure);
    void postPath(const std::string& path, const Value& parameters,
                  RVAFHTTPRequestOperation::SuccessBlock success,
                  RVAFHTTPRequestOperation::FailureBlock failure);
    void putPath(const std::string& path, const Value& parameters,
                 RVAFHTTPRequestOperation::SuccessBlock success,
                 RVAFHTTPRequestOperation::FailureBlock failure);
    void deletePath(const std::string& path, const Value& parameters,
                    RVAFHTTPRequestOperation::SuccessBlock success,
                    RVAFHTTPRequestOperation::FailureBlock failure);
    void patchPath(const std::string& path, const Value& parameters,
                   RVAFHTTPRequestOperation::SuccessBlock success,
                   RVAFHTTPRequestOperation::FailureBlock failure);

    // Cancels the queued HTTP operations for this method (any method when nullopt) and path.
    void cancelAllHTTPOperationsWithMethod(const std::optional<std::string>& method,
                                           const std::string& path);

    // Runs the operations; after each finishes, progress(finished, total) on its callback
    // queue (main by default); after all, completion(operations) on the main run loop.
    void enqueueBatchOfHTTPRequestOperationsWithRequests(const std::vector<RVURLRequest>& requests,
                                                         BatchProgressBlock progress,
                                                         BatchCompletionBlock completion);
    void enqueueBatchOfHTTPRequestOperations(
        const std::vector<std::shared_ptr<RVAFHTTPRequestOperation>>& operations,
        BatchProgressBlock progress, BatchCompletionBlock completion);

    // Monitors the base URL's host through the platform's reachability seam.
    void startMonitoringNetworkReachability();
    void stopMonitoringNetworkReachability();

    // Archive: "baseURL", "stringEncoding", "parameterEncoding",
    // "registeredHTTPOperationClassNames", "defaultHeaders".
    Value archive() const;
    static std::shared_ptr<RVAFHTTPClient> fromArchive(const Value& archive);
    // A new client with the same base URL, encodings, class list, headers and reachability
    // callback.
    std::shared_ptr<RVAFHTTPClient> copy() const;

    std::string description() const;

  protected:
    explicit RVAFHTTPClient(const URL& baseURL);
    void initWithBaseURL();

  private:
    void reachabilityChanged(uint32_t flags);

    URL baseURL_;
    std::shared_ptr<OperationQueue> operationQueue_;
    mutable std::mutex mutex_;
    unsigned stringEncoding_;
    int32_t parameterEncoding_ = RVAFFormURLParameterEncoding;
    std::vector<std::string> registeredHTTPOperationClassNames_;
    RVHTTPHeaders defaultHeaders_;
    std::shared_ptr<ReachabilityTarget> networkReachability_;
    ReachabilityStatusBlock networkReachabilityStatusBlock_;
    std::atomic<int32_t> networkReachabilityStatus_{RVAFNetworkReachabilityStatusUnknown};
};

}  // namespace rivlo
