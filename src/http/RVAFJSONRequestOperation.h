#pragma once

#include "http/RVAFHTTPRequestOperation.h"

#include <mutex>
#include <optional>
#include <set>
#include <string>

namespace rivlo {

// JSON reading options (the platform's values).
namespace JSONReading {
inline constexpr unsigned MutableContainers = 1;
inline constexpr unsigned MutableLeaves = 2;
inline constexpr unsigned AllowFragments = 4;
}  // namespace JSONReading

// Domain and code of a body that is not valid JSON.
inline constexpr const char* RVCocoaErrorDomain = "NSCocoaErrorDomain";
inline constexpr long RVPropertyListReadCorruptError = 3840;

// An HTTP request operation whose successful response body is decoded as JSON, on the
// class's processing queue, before the success callback gets the decoded value.
// Accepts application/json, text/json, text/javascript and text/html.
class RVAFJSONRequestOperation : public RVAFHTTPRequestOperation {
  public:
    using JSONSuccessBlock =
        std::function<void(const RVURLRequest& request,
                           const std::optional<RVHTTPURLResponse>& response, const Value& JSON)>;
    using JSONFailureBlock = std::function<void(const RVURLRequest& request,
                                                const std::optional<RVHTTPURLResponse>& response,
                                                const Error& error, const Value& JSON)>;

    explicit RVAFJSONRequestOperation(RVURLRequest request);

    static std::shared_ptr<RVAFJSONRequestOperation> JSONRequestOperationWithRequest(
        const RVURLRequest& request, JSONSuccessBlock success, JSONFailureBlock failure);

    std::string className() const override { return "RVAFJSONRequestOperation"; }

    // The decoded body: computed once, when the operation has finished and the body is not
    // empty. Null for a body of one space. nullopt before that, or when decoding failed.
    std::optional<Value> responseJSON();
    std::optional<Error> JSONError() const;
    // Decoding error first, then the checks of the base class.
    std::optional<Error> error() const override;

    void setJSONReadingOptions(unsigned options);
    unsigned JSONReadingOptions() const;

    // Success gets the decoded JSON (null when there is none).
    void setCompletionBlockWithSuccess(SuccessBlock success, FailureBlock failure) override;

    static std::optional<std::set<std::string>> acceptableContentTypes();
    static void addAcceptableContentTypes(const std::set<std::string>& types);
    // Requests for a ".json" path, or whose Accept header names one of the accepted types.
    static bool canProcessRequest(const RVURLRequest& request);
    // The serial queue "com.rivlo.networking.json-request.processing".
    static DispatchQueue& processingQueue();

    std::shared_ptr<RVAFURLConnectionOperation> copy() const override;

  protected:
    std::optional<std::set<std::string>> classAcceptableContentTypes() const override;

  private:
    bool decoded_ = false;
    std::optional<Value> responseJSON_;
    std::optional<Error> JSONError_;
    unsigned JSONReadingOptions_ = 0;
};

// True when the request's path extension is one of `extensions`, or its Accept header names
// a type in `types`. Shared by the decoding operations.
bool RVAFRequestMatches(const RVURLRequest& request, const std::set<std::string>& extensions,
                        const std::optional<std::set<std::string>>& types);

}  // namespace rivlo
