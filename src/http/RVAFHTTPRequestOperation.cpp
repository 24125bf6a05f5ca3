#include "http/RVAFHTTPRequestOperation.h"

#include "foundation/Log.h"
#include "foundation/RunLoop.h"
#include "foundation/SharedInstance.h"
#include "http/RVAFNetworking.h"
#include "http/RVAFStringEncoding.h"

#include <cstdlib>
#include <map>
#include <mutex>
#include <sstream>

namespace rivlo {

namespace {

std::string trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return "";
    return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

std::mutex& classMutex() {
    static std::mutex m;
    return m;
}

// The class-wide settings below go back to their defaults when the library closes.
std::set<long>& statusCodes() {
    static SharedInstance<std::set<long>> codes;
    return codes.get([] {
        auto* s = new std::set<long>;
        for (long c = 200; c < 300; ++c)
            s->insert(c);
        return s;
    });
}

std::optional<std::set<std::string>>& contentTypes() {
    static SharedInstance<std::optional<std::set<std::string>>> types;
    return types.get([] { return new std::optional<std::set<std::string>>(); });
}

std::map<std::string, RVAFHTTPOperationClass>& classRegistry() {
    static SharedInstance<std::map<std::string, RVAFHTTPOperationClass>> registry;
    return registry.get([] { return new std::map<std::string, RVAFHTTPOperationClass>; });
}

}  // namespace

std::optional<std::set<std::string>> RVAFContentTypesFromHTTPHeader(
    const std::optional<std::string>& header) {
    if (!header) return std::nullopt;
    std::set<std::string> types;
    std::stringstream stream(*header);
    std::string piece;
    while (std::getline(stream, piece, ',')) {
        const std::string type = trim(piece.substr(0, piece.find(';')));
        if (!type.empty()) types.insert(type);
    }
    return types;
}

RVAFHTTPRequestOperation::RVAFHTTPRequestOperation(RVURLRequest request)
    : RVAFURLConnectionOperation(std::move(request)) {}

// ---- class-level configuration ----------------------------------------------------------

std::optional<std::set<long>> RVAFHTTPRequestOperation::acceptableStatusCodes() {
    std::lock_guard<std::mutex> lock(classMutex());
    return statusCodes();
}

void RVAFHTTPRequestOperation::addAcceptableStatusCodes(const std::set<long>& codes) {
    std::lock_guard<std::mutex> lock(classMutex());
    statusCodes().insert(codes.begin(), codes.end());
}

std::optional<std::set<std::string>> RVAFHTTPRequestOperation::acceptableContentTypes() {
    std::lock_guard<std::mutex> lock(classMutex());
    return contentTypes();
}

void RVAFHTTPRequestOperation::addAcceptableContentTypes(const std::set<std::string>& types) {
    std::lock_guard<std::mutex> lock(classMutex());
    auto& current = contentTypes();
    if (!current) current = std::set<std::string>();
    current->insert(types.begin(), types.end());
}

bool RVAFHTTPRequestOperation::canProcessRequest(const RVURLRequest&) {
    return true;
}

std::optional<std::set<long>> RVAFHTTPRequestOperation::classAcceptableStatusCodes() const {
    return acceptableStatusCodes();
}

std::optional<std::set<std::string>> RVAFHTTPRequestOperation::classAcceptableContentTypes() const {
    return acceptableContentTypes();
}

std::string RVAFHTTPRequestOperation::describeStatusCodes(const std::set<long>& codes) {
    std::string out;
    auto it = codes.begin();
    while (it != codes.end()) {
        const long first = *it;
        long last = first;
        auto next = std::next(it);
        while (next != codes.end() && *next == last + 1) {
            last = *next;
            ++next;
        }
        if (!out.empty()) out += ",";
        out += first == last ? std::to_string(first)
                             : std::to_string(first) + "-" + std::to_string(last);
        it = next;
    }
    return out;
}

std::string RVAFHTTPRequestOperation::describeContentTypes(const std::set<std::string>& types) {
    std::string out = "{(";
    bool first = true;
    for (const auto& type : types) {
        if (!first) out += ", ";
        first = false;
        out += "\"" + type + "\"";
    }
    return out + ")}";
}

// ---- checks -----------------------------------------------------------------------------

bool RVAFHTTPRequestOperation::hasAcceptableStatusCode() const {
    const auto resp = response();
    if (!resp) return false;
    const long code = resp->statusCode > 0 ? resp->statusCode : 200;
    const auto codes = classAcceptableStatusCodes();
    return !codes || codes->count(code) > 0;
}

bool RVAFHTTPRequestOperation::hasAcceptableContentType() const {
    const auto resp = response();
    if (!resp) return false;
    const std::string type = resp->MIMEType().value_or("application/octet-stream");
    const auto types = classAcceptableContentTypes();
    return !types || types->count(type) > 0;
}

std::optional<Error> RVAFHTTPRequestOperation::error() const {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    const auto resp = response();
    if (!HTTPError_ && resp) {
        const bool statusOK = hasAcceptableStatusCode();
        const bool typeOK = hasAcceptableContentType();
        const auto data = responseData();
        const bool hasBody = data && !data->empty();
        if (!statusOK || (!typeOK && hasBody)) {
            Error error(RVAFNetworkingErrorDomain, 0);
            const auto text = const_cast<RVAFHTTPRequestOperation*>(this)->responseString();
            if (text) error.setInfo(ErrorKey::LocalizedRecoverySuggestion, *text);
            const RVURLRequest req = request();
            if (req.url) error.setInfo(ErrorKey::URLErrorFailingURL, req.url->absoluteString());
            error.setObject(RVAFNetworkingOperationFailingURLRequestErrorKey, req);
            error.setObject(RVAFNetworkingOperationFailingURLResponseErrorKey, *resp);
            if (!statusOK) {
                const long code = resp->statusCode > 0 ? resp->statusCode : 200;
                const auto codes = classAcceptableStatusCodes();
                error.code = URLErrorCode::BadServerResponse;
                error.setInfo(
                    ErrorKey::LocalizedDescription,
                    format("Expected status code in (%s), got %ld",
                           describeStatusCodes(codes.value_or(std::set<long>())).c_str(), code));
            } else {
                const auto types = classAcceptableContentTypes();
                error.code = URLErrorCode::CannotDecodeContentData;
                error.setInfo(
                    ErrorKey::LocalizedDescription,
                    format("Expected content type %s, got %s",
                           describeContentTypes(types.value_or(std::set<std::string>())).c_str(),
                           resp->MIMEType().value_or("application/octet-stream").c_str()));
            }
            HTTPError_ = error;
        }
    }
    if (HTTPError_) return HTTPError_;
    return RVAFURLConnectionOperation::error();
}

std::optional<std::string> RVAFHTTPRequestOperation::responseString() {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    const auto resp = response();
    const auto data = responseData();
    if (!HTTPResponseString_ && resp && !resp->textEncodingName() && data) {
        const auto type = resp->valueForHTTPHeaderField("Content-Type");
        if (type) {
            const std::string value = trim(*type);
            const auto slash = value.find('/');
            if (slash != std::string::npos && trim(value.substr(0, slash)) == "text") {
                HTTPResponseString_ = RVAFDecodeString(*data, StringEncoding::ISOLatin1);
            }
        }
    }
    if (HTTPResponseString_) return HTTPResponseString_;
    return RVAFURLConnectionOperation::responseString();
}

// ---- response head ----------------------------------------------------------------------

void RVAFHTTPRequestOperation::connectionDidReceiveResponse(const RVHTTPURLResponse& resp) {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    RVAFURLConnectionOperation::connectionDidReceiveResponse(resp);
    totalContentLength_ = resp.expectedContentLength();
    int64_t offset = 0;
    const auto range = resp.valueForHTTPHeaderField("Content-Range");
    if (resp.statusCode == 206 && range && range->rfind("bytes", 0) == 0) {
        std::vector<std::string> parts;
        std::string current;
        for (const char ch : *range) {
            if (ch == ' ' || ch == '-' || ch == '/') {
                parts.push_back(current);
                current.clear();
            } else {
                current.push_back(ch);
            }
        }
        parts.push_back(current);
        if (parts.size() == 4) {
            offset = std::strtoll(parts[1].c_str(), nullptr, 10);
            char* end = nullptr;
            const long long total = std::strtoll(parts[3].c_str(), &end, 10);
            totalContentLength_ = (parts[3].empty() || (end && *end != '\0')) ? -1 : total;
        }
    } else if (receivedDataLength() > 0) {
        // A full response replaces whatever an earlier, interrupted attempt received.
        replaceReceivedData(std::string());
    }
    offsetContentLength_ = std::max<int64_t>(offset, 0);
}

int64_t RVAFHTTPRequestOperation::totalContentLength() const {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    return totalContentLength_;
}

int64_t RVAFHTTPRequestOperation::offsetContentLength() const {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    return offsetContentLength_;
}

void RVAFHTTPRequestOperation::pause() {
    {
        std::lock_guard<std::recursive_mutex> lock(lock_);
        RVURLRequest req = request();
        req.setValue("bytes=" + std::to_string(receivedDataLength()) + "-", "Range");
        const auto resp = response();
        if (resp) {
            if (const auto etag = resp->valueForHTTPHeaderField("ETag")) {
                req.setValue(*etag, "If-Range");
            }
        }
        setRequest(std::move(req));
    }
    RVAFURLConnectionOperation::pause();
}

// ---- completion -------------------------------------------------------------------------

void RVAFHTTPRequestOperation::dispatchTo(DispatchQueue* queue, std::function<void()> task) {
    if (queue) {
        queue->async(std::move(task));
    } else {
        RunLoop::main().post(std::move(task));
    }
}

std::shared_ptr<RVAFHTTPRequestOperation> RVAFHTTPRequestOperation::sharedSelf() {
    return std::static_pointer_cast<RVAFHTTPRequestOperation>(shared_from_this());
}

void RVAFHTTPRequestOperation::setSuccessCallbackQueue(DispatchQueue* queue) {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    successCallbackQueue_ = queue;
}
void RVAFHTTPRequestOperation::setFailureCallbackQueue(DispatchQueue* queue) {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    failureCallbackQueue_ = queue;
}
DispatchQueue* RVAFHTTPRequestOperation::successCallbackQueue() const {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    return successCallbackQueue_;
}
DispatchQueue* RVAFHTTPRequestOperation::failureCallbackQueue() const {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    return failureCallbackQueue_;
}

void RVAFHTTPRequestOperation::setCompletionBlockWithSuccess(SuccessBlock success,
                                                             FailureBlock failure) {
    setCallbackRoutine(std::move(success), std::move(failure), true, nullptr,
                       [](RVAFHTTPRequestOperation& self) {
                           const auto data = self.responseData();
                           return Decoded{data ? PropertyList::data(*data) : Value(), {}};
                       });
}

void RVAFHTTPRequestOperation::setCallbackRoutine(SuccessBlock success, FailureBlock failure,
                                                  bool errorsFirst, DispatchQueue* decodeQueue,
                                                  Decoder decode) {
    const std::weak_ptr<RVAFHTTPRequestOperation> weak = sharedSelf();
    {
        std::lock_guard<std::recursive_mutex> lock(lock_);
        holdWhileRunning_ = true;
        if (isExecuting() && !heldUntilCallbacks_) heldUntilCallbacks_ = sharedSelf();
    }
    setCompletionBlock([weak, success, failure, errorsFirst, decodeQueue, decode] {
        const auto self = weak.lock();
        if (!self) return;
        self->setCompletionBlock({});
        {
            // From here the routine's own reference keeps the operation.
            std::lock_guard<std::recursive_mutex> lock(self->lock_);
            self->heldUntilCallbacks_.reset();
            self->holdWhileRunning_ = false;
        }
        if (self->isCancelled()) return;
        if (errorsFirst) {
            if (const auto error = self->error()) {
                if (failure) {
                    dispatchTo(self->failureCallbackQueue(),
                               [self, failure, e = *error] { failure(self, e); });
                }
                return;
            }
        }
        auto deliver = [self, success, failure, decode] {
            Decoded result = decode(*self);
            if (result.error) {
                if (failure) {
                    dispatchTo(self->failureCallbackQueue(),
                               [self, failure, e = *result.error] { failure(self, e); });
                }
            } else if (success) {
                dispatchTo(self->successCallbackQueue(),
                           [self, success, v = std::move(result.value)] { success(self, v); });
            }
        };
        if (decodeQueue) {
            decodeQueue->async(std::move(deliver));
        } else {
            deliver();
        }
    });
}

void RVAFHTTPRequestOperation::start() {
    {
        std::lock_guard<std::recursive_mutex> lock(lock_);
        if (holdWhileRunning_ && !heldUntilCallbacks_) heldUntilCallbacks_ = sharedSelf();
    }
    RVAFURLConnectionOperation::start();
    std::shared_ptr<RVAFHTTPRequestOperation> release;
    {
        // Not started after all (not ready yet): nothing to hold for.
        std::lock_guard<std::recursive_mutex> lock(lock_);
        if (!isExecuting() && !isFinished()) release = std::move(heldUntilCallbacks_);
    }
}

std::shared_ptr<RVAFURLConnectionOperation> RVAFHTTPRequestOperation::copy() const {
    auto op = std::make_shared<RVAFHTTPRequestOperation>(request());
    copyCallbacksTo(*op);
    return op;
}

// ---- operation classes ------------------------------------------------------------------

void RVAFHTTPOperationClass::record(const RVAFHTTPOperationClass& cls) {
    std::lock_guard<std::mutex> lock(classMutex());
    classRegistry()[cls.name] = cls;
}

std::optional<RVAFHTTPOperationClass> RVAFHTTPOperationClass::named(const std::string& name) {
    std::lock_guard<std::mutex> lock(classMutex());
    const auto it = classRegistry().find(name);
    if (it == classRegistry().end()) return std::nullopt;
    return it->second;
}

}  // namespace rivlo
