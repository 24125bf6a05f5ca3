#pragma once

#include "foundation/Error.h"
#include "foundation/Operation.h"
#include "foundation/Value.h"
#include "http/RVURLRequest.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace rivlo {

// Runs one URL request as an asynchronous operation. All connection work happens on the one
// network thread (RVAFNetworkThread); the request body is pulled from its body stream there.
// Created with std::make_shared and added to an OperationQueue (or started directly).
//
// Threads: public methods may be called on any thread. Progress callbacks run on the main run
// loop; the completion callback runs on a background thread after the operation finished.
class RVAFURLConnectionOperation : public Operation {
  public:
    enum class State : int16_t { Paused = -1, Initial = 0, Ready = 1, Executing = 2, Finished = 3 };

    using ProgressBlock =
        std::function<void(uint64_t bytes, int64_t totalBytes, int64_t totalBytesExpected)>;
    // Given the request about to be sent for a redirect and the redirect response; returns
    // the request to send, or nullopt to stop at the redirect response.
    using RedirectResponseBlock = std::function<std::optional<RVURLRequest>(
        const RVURLRequest& request, const std::optional<RVHTTPURLResponse>& redirectResponse)>;
    // Kept for the platform's authentication and caching hooks; the transport answers
    // challenges itself (credentials in the URL) and keeps no response cache.
    using AuthenticationAgainstProtectionSpaceBlock =
        std::function<bool(const std::string& authenticationMethod)>;
    using AuthenticationChallengeBlock = std::function<void(const std::string& challenge)>;
    using CacheResponseBlock = std::function<bool(const RVHTTPURLResponse& response)>;

    explicit RVAFURLConnectionOperation(RVURLRequest request);
    ~RVAFURLConnectionOperation() override;

    virtual std::string className() const { return "RVAFURLConnectionOperation"; }

    // Operation.
    void start() override;
    void cancel() override;
    bool isReady() const override;
    bool isExecuting() const override;
    bool isFinished() const override;
    bool isConcurrent() const override { return true; }

    virtual void pause();
    bool isPaused() const;
    void resume();

    State state() const;
    static const char* stateName(State state);

    // Internal, for the library's own tools and tests only (not part of the public API, not
    // exported): caps every request's time-out at `seconds` (0 or less: no cap), so that a
    // soak can drive the time-out path in seconds rather than minutes. Any thread; applies to
    // transfers started afterwards.
    static void setTimeoutCap(double seconds);
    static double timeoutCap();

    // The extra certificate bundle every TLS connection trusts besides the system's: set by the
    // library's start from its options (nullopt: none); until then, and after close
    // (forgetCertificateFile), RIVLO_CA_FILE names it. Any thread; applies to transfers started
    // afterwards.
    static void setCertificateFile(std::optional<std::string> path);
    static void forgetCertificateFile();
    static std::optional<std::string> certificateFile();

    RVURLRequest request() const;
    std::optional<RVHTTPURLResponse> response() const;
    // The transport error (subclasses add their own checks).
    virtual std::optional<Error> error() const;
    // The response body, set when loading ends.
    std::optional<std::string> responseData() const;
    // The body decoded with responseStringEncoding(); nullopt without a response or body, or
    // when the bytes do not decode.
    virtual std::optional<std::string> responseString();
    unsigned responseStringEncoding();
    int64_t totalBytesRead() const;

    // The request's body stream; setting one replaces the request by a copy with that stream.
    std::shared_ptr<RVInputStream> inputStream() const;
    void setInputStream(std::shared_ptr<RVInputStream> stream);

    void setUploadProgressBlock(ProgressBlock block);
    void setDownloadProgressBlock(ProgressBlock block);
    void setRedirectResponseBlock(RedirectResponseBlock block);
    void setAuthenticationAgainstProtectionSpaceBlock(AuthenticationAgainstProtectionSpaceBlock b);
    void setAuthenticationChallengeBlock(AuthenticationChallengeBlock block);
    void setCacheResponseBlock(CacheResponseBlock block);

    // Keeps the operation running in the background through a platform background task;
    // when the platform expires the task, the handler runs and the operation is cancelled.
    void setShouldExecuteAsBackgroundTaskWithExpirationHandler(std::function<void()> handler);

    // "<Class: 0x..., state: isReady, cancelled: NO request: ..., response: ...>"
    std::string description() const;

    // Archive as property-list values: pauses the operation first; executing and paused are
    // recorded as ready.
    Value archive();
    // Restores state, cancelled flag, response, error, data and byte count from an archive.
    void restoreFromArchive(const Value& archive);
    template <class T>
    static std::shared_ptr<T> fromArchive(const Value& archive) {
        auto op = std::make_shared<T>(RVURLRequest::fromArchive(
            archive.is_object() && archive.contains("request") ? archive.at("request")
                                                               : Value::object()));
        op->restoreFromArchive(archive);
        return op;
    }
    // A new operation of the same class with the same request and callbacks, nothing else.
    virtual std::shared_ptr<RVAFURLConnectionOperation> copy() const;

    // The shared network thread's task runner (for tests and diagnostics).
    static bool isNetworkThread();

  protected:
    // Network thread. Called when the final response head has arrived (before its body).
    virtual void connectionDidReceiveResponse(const RVHTTPURLResponse& response);
    // Body bytes received so far (network thread, or any thread once finished).
    void replaceReceivedData(std::string data);
    size_t receivedDataLength() const;
    void copyCallbacksTo(RVAFURLConnectionOperation& other) const;
    void setRequest(RVURLRequest request);

    mutable std::recursive_mutex lock_;

  private:
    struct Connection;
    friend struct Connection;

    void setState(State state);
    void operationDidStart();
    void cancelConnection();
    void finish();
    void startTransfer(const RVURLRequest& request);
    void transferDone(int curlCode);
    void connectionDidFinishLoading();
    void connectionDidFailWithError(const Error& error);
    void deliverPendingResponse();
    void didReceiveData(const char* data, size_t length);
    void didSendBodyData(uint64_t bytes, int64_t total, int64_t expected);
    void endBackgroundTask();

    std::atomic<State> state_{State::Initial};
    RVURLRequest request_;
    std::optional<RVHTTPURLResponse> response_;
    std::optional<Error> error_;
    std::string received_;  // the in-memory output stream
    std::optional<std::string> responseData_;
    std::optional<std::string> responseString_;
    unsigned responseStringEncoding_ = 0;
    std::atomic<int64_t> totalBytesRead_{0};
    uint64_t backgroundTaskIdentifier_ = 0;

    ProgressBlock uploadProgress_;
    ProgressBlock downloadProgress_;
    RedirectResponseBlock redirectResponse_;
    AuthenticationAgainstProtectionSpaceBlock authenticationAgainstProtectionSpace_;
    AuthenticationChallengeBlock authenticationChallenge_;
    CacheResponseBlock cacheResponse_;

    std::unique_ptr<Connection> connection_;  // network thread only
};

}  // namespace rivlo
