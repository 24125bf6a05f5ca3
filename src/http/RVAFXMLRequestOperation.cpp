#include "http/RVAFXMLRequestOperation.h"

#include "foundation/SharedInstance.h"
#include "http/RVAFJSONRequestOperation.h"

namespace rivlo {

namespace {

std::mutex& typesMutex() {
    static std::mutex m;
    return m;
}
std::set<std::string>& types() {
    static SharedInstance<std::set<std::string>> t;
    return t.get([] {
        return new std::set<std::string>{"application/xml", "text/xml", "text/html"};
    });
}

}  // namespace

RVAFXMLRequestOperation::RVAFXMLRequestOperation(RVURLRequest request)
    : RVAFHTTPRequestOperation(std::move(request)) {}

std::shared_ptr<RVAFXMLRequestOperation>
RVAFXMLRequestOperation::XMLParserRequestOperationWithRequest(const RVURLRequest& request,
                                                              XMLSuccessBlock success,
                                                              XMLFailureBlock failure) {
    auto op = std::make_shared<RVAFXMLRequestOperation>(request);
    op->setCompletionBlockWithSuccess(
        [success](const std::shared_ptr<RVAFHTTPRequestOperation>& o, const Value&) {
            auto* x = static_cast<RVAFXMLRequestOperation*>(o.get());
            if (success) success(o->request(), o->response(), x->responseXMLParser());
        },
        [failure](const std::shared_ptr<RVAFHTTPRequestOperation>& o, const Error& error) {
            auto* x = static_cast<RVAFXMLRequestOperation*>(o.get());
            if (failure) failure(o->request(), o->response(), error, x->responseXMLParser());
        });
    return op;
}

DispatchQueue& RVAFXMLRequestOperation::processingQueue() {
    static SharedInstance<DispatchQueue> queue;
    return sharedQueue(queue, "com.rivlo.networking.xml-request.processing");
}

std::optional<std::set<std::string>> RVAFXMLRequestOperation::acceptableContentTypes() {
    std::lock_guard<std::mutex> lock(typesMutex());
    return types();
}

void RVAFXMLRequestOperation::addAcceptableContentTypes(const std::set<std::string>& added) {
    std::lock_guard<std::mutex> lock(typesMutex());
    types().insert(added.begin(), added.end());
}

std::optional<std::set<std::string>> RVAFXMLRequestOperation::classAcceptableContentTypes() const {
    return acceptableContentTypes();
}

bool RVAFXMLRequestOperation::canProcessRequest(const RVURLRequest& request) {
    return RVAFRequestMatches(request, {"xml"}, acceptableContentTypes());
}

std::shared_ptr<RVXMLParser> RVAFXMLRequestOperation::responseXMLParser() {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    if (!parser_ && isFinished()) {
        const auto data = responseData();
        if (data && !data->empty()) parser_ = std::make_shared<RVXMLParser>(*data);
    }
    return parser_;
}

std::optional<Error> RVAFXMLRequestOperation::XMLError() const {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    if (XMLError_) return XMLError_;
    return parser_ ? parser_->parserError() : std::nullopt;
}

std::optional<Error> RVAFXMLRequestOperation::error() const {
    if (auto e = XMLError()) return e;
    return RVAFHTTPRequestOperation::error();
}

void RVAFXMLRequestOperation::cancel() {
    RVAFHTTPRequestOperation::cancel();
    std::shared_ptr<RVXMLParser> parser;
    {
        std::lock_guard<std::recursive_mutex> lock(lock_);
        parser = parser_;
    }
    if (parser) parser->setDelegate({});
}

void RVAFXMLRequestOperation::setCompletionBlockWithSuccess(SuccessBlock success,
                                                            FailureBlock failure) {
    // The parser is made on the processing queue; a parse failure shows in error().
    setCallbackRoutine(std::move(success), std::move(failure), false, &processingQueue(),
                       [](RVAFHTTPRequestOperation& op) {
                           auto& self = static_cast<RVAFXMLRequestOperation&>(op);
                           self.responseXMLParser();
                           return Decoded{Value(), self.error()};
                       });
}

}  // namespace rivlo
