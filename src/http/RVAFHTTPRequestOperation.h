#pragma once

#include "foundation/DispatchQueue.h"
#include "http/RVAFURLConnectionOperation.h"

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>

namespace rivlo {

// The types named by a Content-Type or Accept value ("a/b; q=1, c/d" -> {a/b, c/d});
// nullopt for an absent header.
std::optional<std::set<std::string>> RVAFContentTypesFromHTTPHeader(
    const std::optional<std::string>& header);

// A connection operation for HTTP: decides from the status code and content type whether the
// response is acceptable, turns an unacceptable one into an error (-1011 status, -1016 content
// type) and delivers the outcome to a success or a failure callback, asynchronously on the
// main run loop unless a callback queue is set. Neither callback runs for a cancelled
// operation. Create with std::make_shared.
class RVAFHTTPRequestOperation : public RVAFURLConnectionOperation {
  public:
    // The response object of this class is the response body (as data, or null).
    using SuccessBlock = std::function<void(const std::shared_ptr<RVAFHTTPRequestOperation>& op,
                                            const Value& responseObject)>;
    using FailureBlock = std::function<void(const std::shared_ptr<RVAFHTTPRequestOperation>& op,
                                            const Error& error)>;

    explicit RVAFHTTPRequestOperation(RVURLRequest request);

    std::string className() const override { return "RVAFHTTPRequestOperation"; }

    bool hasAcceptableStatusCode() const;
    bool hasAcceptableContentType() const;
    // The validation error (made once) when there is one, else the transport error.
    std::optional<Error> error() const override;
    std::optional<std::string> responseString() override;
    // Rewrites the request to continue after the bytes received ("Range", "If-Range"), then
    // pauses.
    void pause() override;

    // Sets the completion routine. Any thread.
    virtual void setCompletionBlockWithSuccess(SuccessBlock success, FailureBlock failure);
    // Queues for the callbacks (nullptr: the main run loop). The caller keeps them alive.
    void setSuccessCallbackQueue(DispatchQueue* queue);
    void setFailureCallbackQueue(DispatchQueue* queue);
    DispatchQueue* successCallbackQueue() const;
    DispatchQueue* failureCallbackQueue() const;

    int64_t totalContentLength() const;
    int64_t offsetContentLength() const;

    // Class-level configuration. Status codes default to 200-299; no content-type set means
    // any type is accepted. Additions are process-wide and permanent.
    static std::optional<std::set<long>> acceptableStatusCodes();
    static void addAcceptableStatusCodes(const std::set<long>& codes);
    static std::optional<std::set<std::string>> acceptableContentTypes();
    static void addAcceptableContentTypes(const std::set<std::string>& types);
    static bool canProcessRequest(const RVURLRequest& request);

    // "200-202,204": single codes and runs of consecutive codes, comma-separated.
    static std::string describeStatusCodes(const std::set<long>& codes);
    static std::string describeContentTypes(const std::set<std::string>& types);

    std::shared_ptr<RVAFURLConnectionOperation> copy() const override;

    // Holds the operation from here until its callbacks have been delivered (when it has any).
    void start() override;

  protected:
    // The sets of the operation's own class (overridden by subclasses that have their own).
    virtual std::optional<std::set<long>> classAcceptableStatusCodes() const;
    virtual std::optional<std::set<std::string>> classAcceptableContentTypes() const;

    void connectionDidReceiveResponse(const RVHTTPURLResponse& response) override;

    // Posts a callback to a queue, or to the main run loop when the queue is null.
    static void dispatchTo(DispatchQueue* queue, std::function<void()> task);
    std::shared_ptr<RVAFHTTPRequestOperation> sharedSelf();

    // What a kind of operation makes of its finished response for the callbacks: the value
    // for the success block, or the error for the failure block.
    struct Decoded {
        Value value;
        std::optional<Error> error;
    };
    using Decoder = std::function<Decoded(RVAFHTTPRequestOperation& self)>;
    // Installs the completion routine every kind of operation shares. After a cancel nothing
    // is called. With `errorsFirst` a transport or validation error goes straight to the
    // failure block; otherwise (and then) `decode` runs, on `decodeQueue` or, when null, on
    // the completion thread, and its result goes to the success or the failure block, each on
    // its own callback queue. The routine runs once and then clears itself. The operation holds
    // itself from start() until the routine has run, so the callbacks arrive even when nobody
    // else keeps it, while an operation that is never started is freed with its callbacks.
    void setCallbackRoutine(SuccessBlock success, FailureBlock failure, bool errorsFirst,
                            DispatchQueue* decodeQueue, Decoder decode);

  private:
    // The operation itself while it runs with callbacks to deliver (see setCallbackRoutine).
    std::shared_ptr<RVAFHTTPRequestOperation> heldUntilCallbacks_;
    bool holdWhileRunning_ = false;
    mutable std::optional<Error> HTTPError_;
    std::optional<std::string> HTTPResponseString_;
    int64_t totalContentLength_ = -1;
    int64_t offsetContentLength_ = 0;
    DispatchQueue* successCallbackQueue_ = nullptr;
    DispatchQueue* failureCallbackQueue_ = nullptr;
};

// An operation class the client can choose for a request (see
// RVAFHTTPClient::registerHTTPOperationClass): its name, whether it is an HTTP request
// operation kind, its request test and its factory.
struct RVAFHTTPOperationClass {
    std::string name;
    bool isHTTPRequestOperationKind = false;
    std::function<bool(const RVURLRequest&)> canProcessRequest;
    std::function<std::shared_ptr<RVAFHTTPRequestOperation>(const RVURLRequest&)> make;

    template <class T>
    static RVAFHTTPOperationClass of(const std::string& name) {
        RVAFHTTPOperationClass cls;
        cls.name = name;
        cls.isHTTPRequestOperationKind = true;
        cls.canProcessRequest = [](const RVURLRequest& r) { return T::canProcessRequest(r); };
        cls.make = [](const RVURLRequest& r) { return std::make_shared<T>(r); };
        return cls;
    }

    // Process-wide lookup of classes by name (the built-in operations are always known;
    // registering a class with a client also records it here). Any thread.
    static void record(const RVAFHTTPOperationClass& cls);
    static std::optional<RVAFHTTPOperationClass> named(const std::string& name);
};

}  // namespace rivlo
