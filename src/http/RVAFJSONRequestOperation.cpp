#include "http/RVAFJSONRequestOperation.h"

#include "foundation/Log.h"
#include "foundation/SharedInstance.h"
#include "http/RVAFStringEncoding.h"

namespace rivlo {

namespace {

std::mutex& typesMutex() {
    static std::mutex m;
    return m;
}

std::set<std::string>& types() {
    static SharedInstance<std::set<std::string>> t;
    return t.get([] {
        return new std::set<std::string>{"application/json", "text/json", "text/javascript",
                                         "text/html"};
    });
}

Error parseError(const std::string& detail) {
    Error error(RVCocoaErrorDomain, RVPropertyListReadCorruptError);
    error.setInfo(ErrorKey::LocalizedDescription,
                  "The data couldn\xE2\x80\x99t be read because it isn\xE2\x80\x99t in the correct "
                  "format.");
    if (!detail.empty()) error.setInfo("NSDebugDescription", detail);
    return error;
}

}  // namespace

bool RVAFRequestMatches(const RVURLRequest& request, const std::set<std::string>& extensions,
                        const std::optional<std::set<std::string>>& acceptable) {
    if (request.url && extensions.count(request.url->pathExtension()) > 0) return true;
    const auto accepted = RVAFContentTypesFromHTTPHeader(request.valueForHTTPHeaderField("Accept"));
    if (!accepted || !acceptable) return false;
    for (const auto& type : *accepted) {
        if (acceptable->count(type) > 0) return true;
    }
    return false;
}

RVAFJSONRequestOperation::RVAFJSONRequestOperation(RVURLRequest request)
    : RVAFHTTPRequestOperation(std::move(request)) {}

std::shared_ptr<RVAFJSONRequestOperation> RVAFJSONRequestOperation::JSONRequestOperationWithRequest(
    const RVURLRequest& request, JSONSuccessBlock success, JSONFailureBlock failure) {
    auto op = std::make_shared<RVAFJSONRequestOperation>(request);
    op->setCompletionBlockWithSuccess(
        [success](const std::shared_ptr<RVAFHTTPRequestOperation>& o, const Value& json) {
            if (success) success(o->request(), o->response(), json);
        },
        [failure](const std::shared_ptr<RVAFHTTPRequestOperation>& o, const Error& error) {
            if (!failure) return;
            auto* jsonOp = static_cast<RVAFJSONRequestOperation*>(o.get());
            failure(o->request(), o->response(), error, jsonOp->responseJSON().value_or(Value()));
        });
    return op;
}

DispatchQueue& RVAFJSONRequestOperation::processingQueue() {
    static SharedInstance<DispatchQueue> queue;
    return sharedQueue(queue, "com.rivlo.networking.json-request.processing");
}

std::optional<std::set<std::string>> RVAFJSONRequestOperation::acceptableContentTypes() {
    std::lock_guard<std::mutex> lock(typesMutex());
    return types();
}

void RVAFJSONRequestOperation::addAcceptableContentTypes(const std::set<std::string>& added) {
    std::lock_guard<std::mutex> lock(typesMutex());
    types().insert(added.begin(), added.end());
}

std::optional<std::set<std::string>> RVAFJSONRequestOperation::classAcceptableContentTypes() const {
    return acceptableContentTypes();
}

bool RVAFJSONRequestOperation::canProcessRequest(const RVURLRequest& request) {
    return RVAFRequestMatches(request, {"json"}, acceptableContentTypes());
}

void RVAFJSONRequestOperation::setJSONReadingOptions(unsigned options) {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    JSONReadingOptions_ = options;
}

unsigned RVAFJSONRequestOperation::JSONReadingOptions() const {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    return JSONReadingOptions_;
}

std::optional<Value> RVAFJSONRequestOperation::responseJSON() {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    if (decoded_ || !isFinished()) return responseJSON_;
    const auto data = responseData();
    if (!data || data->empty()) return responseJSON_;
    decoded_ = true;
    if (JSONError_) return responseJSON_;
    if (*data == " ") {
        responseJSON_ = Value();  // a single space: no object and no error
        return responseJSON_;
    }
    const auto text = responseString();
    if (!text) {
        JSONError_ = parseError("the body is not text in its declared encoding");
        return responseJSON_;
    }
    Value parsed = Value::parse(*text, nullptr, false);
    if (parsed.is_discarded()) {
        JSONError_ = parseError("the body is not valid JSON");
    } else if (!(JSONReadingOptions_ & JSONReading::AllowFragments) && !parsed.is_object() &&
               !parsed.is_array()) {
        JSONError_ = parseError("JSON text did not start with array or object");
    } else {
        responseJSON_ = std::move(parsed);
    }
    return responseJSON_;
}

std::optional<Error> RVAFJSONRequestOperation::JSONError() const {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    return JSONError_;
}

std::optional<Error> RVAFJSONRequestOperation::error() const {
    if (auto e = JSONError()) return e;
    return RVAFHTTPRequestOperation::error();
}

void RVAFJSONRequestOperation::setCompletionBlockWithSuccess(SuccessBlock success,
                                                             FailureBlock failure) {
    setCallbackRoutine(std::move(success), std::move(failure), true, &processingQueue(),
                       [](RVAFHTTPRequestOperation& op) {
                           auto& self = static_cast<RVAFJSONRequestOperation&>(op);
                           Value json = self.responseJSON().value_or(Value());
                           return Decoded{std::move(json), self.JSONError()};
                       });
}

std::shared_ptr<RVAFURLConnectionOperation> RVAFJSONRequestOperation::copy() const {
    auto op = std::make_shared<RVAFJSONRequestOperation>(request());
    copyCallbacksTo(*op);
    op->setJSONReadingOptions(JSONReadingOptions());
    return op;
}

}  // namespace rivlo
