#include "http/RVAFPropertyListRequestOperation.h"

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
    return t.get([] { return new std::set<std::string>{"application/x-plist"}; });
}

}  // namespace

RVAFPropertyListRequestOperation::RVAFPropertyListRequestOperation(RVURLRequest request)
    : RVAFHTTPRequestOperation(std::move(request)) {}

std::shared_ptr<RVAFPropertyListRequestOperation>
RVAFPropertyListRequestOperation::propertyListRequestOperationWithRequest(
    const RVURLRequest& request, PropertyListSuccessBlock success,
    PropertyListFailureBlock failure) {
    auto op = std::make_shared<RVAFPropertyListRequestOperation>(request);
    op->setCompletionBlockWithSuccess(
        [success](const std::shared_ptr<RVAFHTTPRequestOperation>& o, const Value& plist) {
            if (success) success(o->request(), o->response(), plist);
        },
        [failure](const std::shared_ptr<RVAFHTTPRequestOperation>& o, const Error& error) {
            if (!failure) return;
            auto* p = static_cast<RVAFPropertyListRequestOperation*>(o.get());
            failure(o->request(), o->response(), error,
                    p->responsePropertyList().value_or(Value()));
        });
    return op;
}

DispatchQueue& RVAFPropertyListRequestOperation::processingQueue() {
    static SharedInstance<DispatchQueue> queue;
    return sharedQueue(queue, "com.rivlo.networking.property-list-request.processing");
}

std::optional<std::set<std::string>> RVAFPropertyListRequestOperation::acceptableContentTypes() {
    std::lock_guard<std::mutex> lock(typesMutex());
    return types();
}

void RVAFPropertyListRequestOperation::addAcceptableContentTypes(
    const std::set<std::string>& added) {
    std::lock_guard<std::mutex> lock(typesMutex());
    types().insert(added.begin(), added.end());
}

std::optional<std::set<std::string>> RVAFPropertyListRequestOperation::classAcceptableContentTypes()
    const {
    return acceptableContentTypes();
}

bool RVAFPropertyListRequestOperation::canProcessRequest(const RVURLRequest& request) {
    return RVAFRequestMatches(request, {"plist"}, acceptableContentTypes());
}

std::optional<Value> RVAFPropertyListRequestOperation::responsePropertyList() {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    if (decoded_ || !isFinished()) return responsePropertyList_;
    const auto data = responseData();
    if (!data || data->empty()) return responsePropertyList_;
    decoded_ = true;
    propertyListFormat_ =
        data->rfind("bplist", 0) == 0 ? PropertyListFormat::Binary : PropertyListFormat::XML;
    responsePropertyList_ = PropertyList::read(*data);
    if (!responsePropertyList_) {
        Error error(RVCocoaErrorDomain, RVPropertyListReadCorruptError);
        error.setInfo(ErrorKey::LocalizedDescription,
                      "The data couldn\xE2\x80\x99t be read because it isn\xE2\x80\x99t in the "
                      "correct format.");
        propertyListError_ = error;
        propertyListFormat_ = 0;
    }
    return responsePropertyList_;
}

unsigned RVAFPropertyListRequestOperation::propertyListFormat() const {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    return propertyListFormat_;
}

std::optional<Error> RVAFPropertyListRequestOperation::propertyListError() const {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    return propertyListError_;
}

std::optional<Error> RVAFPropertyListRequestOperation::error() const {
    if (auto e = propertyListError()) return e;
    return RVAFHTTPRequestOperation::error();
}

void RVAFPropertyListRequestOperation::setCompletionBlockWithSuccess(SuccessBlock success,
                                                                     FailureBlock failure) {
    setCallbackRoutine(std::move(success), std::move(failure), true, &processingQueue(),
                       [](RVAFHTTPRequestOperation& op) {
                           auto& self = static_cast<RVAFPropertyListRequestOperation&>(op);
                           Value plist = self.responsePropertyList().value_or(Value());
                           return Decoded{std::move(plist), self.propertyListError()};
                       });
}

}  // namespace rivlo
