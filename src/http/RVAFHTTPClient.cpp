#include "http/RVAFHTTPClient.h"

#include "foundation/Log.h"
#include "foundation/NotificationCenter.h"
#include "foundation/RunLoop.h"
#include "http/RVAFJSONRequestOperation.h"
#include "http/RVAFNetworking.h"
#include "http/RVAFQueryStringPair.h"
#include "http/RVAFStringEncoding.h"
#include "platform/Platform.h"

#include <arpa/inet.h>
#include <condition_variable>
#include <fstream>

namespace rivlo {

namespace {

std::string base64(const std::string& in) {
    static constexpr char table[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((in.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 2 < in.size(); i += 3) {
        const uint32_t n = (static_cast<uint8_t>(in[i]) << 16) |
                           (static_cast<uint8_t>(in[i + 1]) << 8) | static_cast<uint8_t>(in[i + 2]);
        out += table[(n >> 18) & 63];
        out += table[(n >> 12) & 63];
        out += table[(n >> 6) & 63];
        out += table[n & 63];
    }
    if (i + 1 == in.size()) {
        const uint32_t n = static_cast<uint8_t>(in[i]) << 16;
        out += table[(n >> 18) & 63];
        out += table[(n >> 12) & 63];
        out += "==";
    } else if (i + 2 == in.size()) {
        const uint32_t n =
            (static_cast<uint8_t>(in[i]) << 16) | (static_cast<uint8_t>(in[i + 1]) << 8);
        out += table[(n >> 18) & 63];
        out += table[(n >> 12) & 63];
        out += table[(n >> 6) & 63];
        out += '=';
    }
    return out;
}

std::string processName() {
    std::ifstream comm("/proc/self/comm");
    std::string name;
    std::getline(comm, name);
    return name.empty() ? "rivlo" : name;
}

bool isNumericHost(const std::string& host) {
    in_addr v4{};
    in6_addr v6{};
    std::string h = host;
    if (h.size() > 2 && h.front() == '[' && h.back() == ']') h = h.substr(1, h.size() - 2);
    return inet_pton(AF_INET, h.c_str(), &v4) == 1 || inet_pton(AF_INET6, h.c_str(), &v6) == 1;
}

}  // namespace

RVAFNetworkReachabilityStatus RVAFNetworkReachabilityStatusForFlags(uint32_t flags) {
    const bool reachable = (flags & ReachabilityFlag::Reachable) != 0;
    const bool needsConnection = (flags & ReachabilityFlag::ConnectionRequired) != 0;
    if (reachable && !needsConnection) {
        return (flags & ReachabilityFlag::IsWWAN) ? RVAFNetworkReachabilityStatusReachableViaWWAN
                                                  : RVAFNetworkReachabilityStatusReachableViaWiFi;
    }
    return RVAFNetworkReachabilityStatusNotReachable;
}

// ---- creation ---------------------------------------------------------------------------

std::shared_ptr<RVAFHTTPClient> RVAFHTTPClient::clientWithBaseURL(const URL& baseURL) {
    std::shared_ptr<RVAFHTTPClient> client(new RVAFHTTPClient(baseURL));
    client->initWithBaseURL();
    return client;
}

RVAFHTTPClient::RVAFHTTPClient(const URL& baseURL)
    : baseURL_(baseURL), stringEncoding_(StringEncoding::UTF8) {
    // Relative paths resolve below a base path only when it ends with a slash.
    if (baseURL_.isValid() && !baseURL_.path().empty() && baseURL_.absoluteString().back() != '/') {
        baseURL_ = baseURL_.withPath(baseURL_.path() + "/");
    }
    operationQueue_ = std::make_shared<OperationQueue>("com.rivlo.networking.client");
    operationQueue_->setMaxConcurrentOperationCount(
        OperationQueue::DefaultMaxConcurrentOperationCount);
}

void RVAFHTTPClient::initWithBaseURL() {
    const auto device = Platform::current().device();
    std::vector<std::string> languages;
    std::string executable, version, model, systemVersion;
    double scale = 1.0;
    if (device) {
        languages = device->preferredLanguages();
        const BundleInfo bundle = device->mainBundle();
        executable = bundle.executable ? *bundle.executable : bundle.identifier.value_or("");
        version = bundle.version.value_or("");
        model = device->model();
        systemVersion = device->systemVersion();
        scale = device->screenScale() > 0 ? device->screenScale() : 1.0;
    } else {
        RVLog("Rivlo: no device installed; the HTTP client uses default User-Agent facts");
        executable = processName();
        version = "1.0";
        model = "Linux";
        systemVersion = "0";
    }
    std::string joined;
    for (const auto& language : languages) {
        if (!joined.empty()) joined += ", ";
        joined += language;
    }
    if (joined.empty()) joined = "en";
    setDefaultHeader("Accept-Language", joined + ", en-us;q=0.8");
    setDefaultHeader("User-Agent",
                     format("%s/%s (%s; iOS %s; Scale/%0.2f)", executable.c_str(), version.c_str(),
                            model.c_str(), systemVersion.c_str(), scale));
    startMonitoringNetworkReachability();
}

RVAFHTTPClient::~RVAFHTTPClient() {
    stopMonitoringNetworkReachability();
    RVLog("HTTP Client dealloc");
}

// ---- configuration ----------------------------------------------------------------------

unsigned RVAFHTTPClient::stringEncoding() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return stringEncoding_;
}
void RVAFHTTPClient::setStringEncoding(unsigned encoding) {
    std::lock_guard<std::mutex> lock(mutex_);
    stringEncoding_ = encoding;
}
int32_t RVAFHTTPClient::parameterEncoding() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return parameterEncoding_;
}
void RVAFHTTPClient::setParameterEncoding(int32_t encoding) {
    std::lock_guard<std::mutex> lock(mutex_);
    parameterEncoding_ = encoding;
}
RVAFNetworkReachabilityStatus RVAFHTTPClient::networkReachabilityStatus() const {
    return static_cast<RVAFNetworkReachabilityStatus>(networkReachabilityStatus_.load());
}
std::vector<std::string> RVAFHTTPClient::registeredHTTPOperationClassNames() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return registeredHTTPOperationClassNames_;
}
RVHTTPHeaders RVAFHTTPClient::defaultHeaders() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return defaultHeaders_;
}

void RVAFHTTPClient::setDefaultHeader(const std::string& header,
                                      const std::optional<std::string>& value) {
    std::lock_guard<std::mutex> lock(mutex_);
    defaultHeaders_.erase(header);
    if (value) defaultHeaders_.emplace(header, *value);
}

std::optional<std::string> RVAFHTTPClient::defaultValueForHeader(const std::string& header) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = defaultHeaders_.find(header);
    if (it == defaultHeaders_.end()) return std::nullopt;
    return it->second;
}

void RVAFHTTPClient::setAuthorizationHeaderWithUsername(const std::string& username,
                                                        const std::string& password) {
    setDefaultHeader("Authorization", "Basic " + base64(username + ":" + password));
}

void RVAFHTTPClient::setAuthorizationHeaderWithToken(const std::string& token) {
    setDefaultHeader("Authorization", "Token token=\"" + token + "\"");
}

void RVAFHTTPClient::clearAuthorizationHeader() {
    setDefaultHeader("Authorization", std::nullopt);
}

bool RVAFHTTPClient::registerHTTPOperationClass(const RVAFHTTPOperationClass& operationClass) {
    if (!operationClass.isHTTPRequestOperationKind) return false;
    RVAFHTTPOperationClass::record(operationClass);
    std::lock_guard<std::mutex> lock(mutex_);
    auto& names = registeredHTTPOperationClassNames_;
    names.erase(std::remove(names.begin(), names.end(), operationClass.name), names.end());
    names.insert(names.begin(), operationClass.name);
    return true;
}

void RVAFHTTPClient::unregisterHTTPOperationClass(const std::string& className) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto& names = registeredHTTPOperationClassNames_;
    names.erase(std::remove(names.begin(), names.end(), className), names.end());
}

void RVAFHTTPClient::setReachabilityStatusChangeBlock(ReachabilityStatusBlock block) {
    std::lock_guard<std::mutex> lock(mutex_);
    networkReachabilityStatusBlock_ = std::move(block);
}

// ---- request building -------------------------------------------------------------------

RVURLRequest RVAFHTTPClient::requestWithMethod(const std::string& method,
                                               const std::optional<std::string>& path,
                                               const Value& parameters) const {
    const std::string relative = path.value_or("");
    RVURLRequest request(URL::resolve(relative, baseURL_));
    if (!request.url) {
        RVLog("Rivlo: request path \"%s\" is not a valid URL reference", relative.c_str());
    }
    request.HTTPMethod = method;
    request.allHTTPHeaderFields = defaultHeaders();
    if (parameters.is_null()) return request;

    const unsigned encoding = stringEncoding();
    if (method == "GET" || method == "HEAD" || method == "DELETE") {
        if (request.url) {
            const std::string separator = relative.find('?') == std::string::npos ? "?" : "&";
            request.url =
                URL::parse(request.url->absoluteString() + separator +
                           RVAFQueryStringFromParametersWithEncoding(parameters, encoding));
        }
        return request;
    }
    const std::string charset = RVAFCharsetNameForEncoding(encoding);
    switch (parameterEncoding()) {
        case RVAFFormURLParameterEncoding:
            request.setValue("application/x-www-form-urlencoded; charset=" + charset,
                             "Content-Type");
            request.setHTTPBody(RVAFQueryStringFromParametersWithEncoding(parameters, encoding));
            break;
        case RVAFJSONParameterEncoding: {
            request.setValue("application/json; charset=" + charset, "Content-Type");
            std::string body;
            try {
                body = parameters.dump();
            } catch (const std::exception& e) {
                RVLog("%s %s: %s", className().c_str(),
                      "requestWithMethod:path:parameters:", e.what());
            }
            request.setHTTPBody(body);
            break;
        }
        case RVAFPropertyListParameterEncoding: {
            request.setValue("application/x-plist; charset=" + charset, "Content-Type");
            const std::string body = PropertyList::write(parameters, PropertyList::Format::XML);
            if (body.empty()) {
                RVLog("%s %s: %s", className().c_str(), "requestWithMethod:path:parameters:",
                      "the parameters cannot be written as a property list");
            }
            request.setHTTPBody(body);
            break;
        }
        default:
            break;
    }
    return request;
}

RVURLRequest RVAFHTTPClient::multipartFormRequestWithMethod(const std::string& method,
                                                            const std::optional<std::string>& path,
                                                            const Value& parameters,
                                                            const FormDataBlock& block) const {
    const RVURLRequest request = requestWithMethod(method, path, Value());
    const unsigned encoding = stringEncoding();
    RVAFStreamingMultipartFormData formData(request, encoding);
    if (!parameters.is_null()) {
        for (const auto& pair : RVAFQueryStringPairsFromDictionary(parameters)) {
            std::optional<std::string> data;
            if (PropertyList::isData(pair.value)) {
                const Data bytes = PropertyList::dataBytes(pair.value);
                data = std::string(bytes.begin(), bytes.end());
            } else if (pair.value.is_null()) {
                data = std::string();
            } else {
                data = RVAFEncodeString(RVAFDescriptionOfValue(pair.value), encoding);
            }
            if (data) formData.appendPartWithFormData(*data, pair.field);
        }
    }
    if (block) block(formData);
    return formData.requestByFinalizingMultipartFormData();
}

// ---- operations -------------------------------------------------------------------------

std::shared_ptr<RVAFHTTPRequestOperation> RVAFHTTPClient::HTTPRequestOperationWithRequest(
    const RVURLRequest& request, RVAFHTTPRequestOperation::SuccessBlock success,
    RVAFHTTPRequestOperation::FailureBlock failure) const {
    std::shared_ptr<RVAFHTTPRequestOperation> operation;
    const auto names = registeredHTTPOperationClassNames();
    for (auto it = names.rbegin(); it != names.rend() && !operation; ++it) {
        const auto cls = RVAFHTTPOperationClass::named(*it);
        if (!cls || !cls->canProcessRequest || !cls->make) continue;
        if (cls->canProcessRequest(request)) operation = cls->make(request);
    }
    if (!operation) operation = std::make_shared<RVAFHTTPRequestOperation>(request);
    operation->setCompletionBlockWithSuccess(std::move(success), std::move(failure));
    return operation;
}

void RVAFHTTPClient::enqueueHTTPRequestOperation(const std::shared_ptr<Operation>& operation) {
    operationQueue_->addOperation(operation);
}

void RVAFHTTPClient::getPath(const std::string& path, const Value& parameters,
                             RVAFHTTPRequestOperation::SuccessBlock success,
                             RVAFHTTPRequestOperation::FailureBlock failure) {
    enqueueHTTPRequestOperation(HTTPRequestOperationWithRequest(
        requestWithMethod("GET", path, parameters), std::move(success), std::move(failure)));
}
void RVAFHTTPClient::postPath(const std::string& path, const Value& parameters,
                              RVAFHTTPRequestOperation::SuccessBlock success,
                              RVAFHTTPRequestOperation::FailureBlock failure) {
    enqueueHTTPRequestOperation(HTTPRequestOperationWithRequest(
        requestWithMethod("POST", path, parameters), std::move(success), std::move(failure)));
}
void RVAFHTTPClient::putPath(const std::string& path, const Value& parameters,
                             RVAFHTTPRequestOperation::SuccessBlock success,
                             RVAFHTTPRequestOperation::FailureBlock failure) {
    enqueueHTTPRequestOperation(HTTPRequestOperationWithRequest(
        requestWithMethod("PUT", path, parameters), std::move(success), std::move(failure)));
}
void RVAFHTTPClient::deletePath(const std::string& path, const Value& parameters,
                                RVAFHTTPRequestOperation::SuccessBlock success,
                                RVAFHTTPRequestOperation::FailureBlock failure) {
    enqueueHTTPRequestOperation(HTTPRequestOperationWithRequest(
        requestWithMethod("DELETE", path, parameters), std::move(success), std::move(failure)));
}
void RVAFHTTPClient::patchPath(const std::string& path, const Value& parameters,
                               RVAFHTTPRequestOperation::SuccessBlock success,
                               RVAFHTTPRequestOperation::FailureBlock failure) {
    enqueueHTTPRequestOperation(HTTPRequestOperationWithRequest(
        requestWithMethod("PATCH", path, parameters), std::move(success), std::move(failure)));
}

void RVAFHTTPClient::cancelAllHTTPOperationsWithMethod(const std::optional<std::string>& method,
                                                       const std::string& path) {
    const std::string target =
        requestWithMethod(method.value_or("GET"), path, Value()).absoluteURLString();
    for (const auto& op : operationQueue_->operations()) {
        auto http = std::dynamic_pointer_cast<RVAFHTTPRequestOperation>(op);
        if (!http) continue;
        const RVURLRequest request = http->request();
        if (request.absoluteURLString() != target) continue;
        if (method && request.HTTPMethod != *method) continue;
        http->cancel();
    }
}

void RVAFHTTPClient::enqueueBatchOfHTTPRequestOperationsWithRequests(
    const std::vector<RVURLRequest>& requests, BatchProgressBlock progress,
    BatchCompletionBlock completion) {
    std::vector<std::shared_ptr<RVAFHTTPRequestOperation>> operations;
    operations.reserve(requests.size());
    for (const auto& request : requests) {
        operations.push_back(HTTPRequestOperationWithRequest(request, nullptr, nullptr));
    }
    enqueueBatchOfHTTPRequestOperations(operations, std::move(progress), std::move(completion));
}

void RVAFHTTPClient::enqueueBatchOfHTTPRequestOperations(
    const std::vector<std::shared_ptr<RVAFHTTPRequestOperation>>& operations,
    BatchProgressBlock progress, BatchCompletionBlock completion) {
    // A dispatch group: entered once per operation, left after its progress report.
    struct Group {
        std::mutex mutex;
        std::condition_variable cv;
        size_t pending = 0;
    };
    auto group = std::make_shared<Group>();
    group->pending = operations.size();

    auto batchCompletion = std::make_shared<BlockOperation>([group, operations, completion] {
        {
            std::unique_lock<std::mutex> lock(group->mutex);
            group->cv.wait(lock, [&] { return group->pending == 0; });
        }
        if (completion) RunLoop::main().post([operations, completion] { completion(operations); });
    });

    const size_t total = operations.size();
    for (const auto& op : operations) {
        std::function<void()> original = op->completionBlock();
        std::weak_ptr<RVAFHTTPRequestOperation> weak = op;
        op->setCompletionBlock([weak, original, operations, progress, group, total] {
            auto self = weak.lock();
            // Runs once: dropping the stored routine releases the batch it holds.
            if (self) self->setCompletionBlock({});
            DispatchQueue* queue = self ? self->successCallbackQueue() : nullptr;
            auto report = [original, operations, progress, group, total] {
                if (original) original();
                size_t finished = 0;
                for (const auto& o : operations) {
                    if (o->isFinished()) ++finished;
                }
                if (progress) progress(finished, total);
                {
                    std::lock_guard<std::mutex> lock(group->mutex);
                    --group->pending;
                }
                group->cv.notify_all();
            };
            if (queue) {
                queue->async(report);
            } else {
                RunLoop::main().post(report);
            }
        });
        batchCompletion->addDependency(op);
    }
    std::vector<std::shared_ptr<Operation>> all(operations.begin(), operations.end());
    operationQueue_->addOperations(all, false);
    operationQueue_->addOperation(batchCompletion);
}

// ---- reachability -----------------------------------------------------------------------

void RVAFHTTPClient::reachabilityChanged(uint32_t flags) {
    const RVAFNetworkReachabilityStatus status = RVAFNetworkReachabilityStatusForFlags(flags);
    networkReachabilityStatus_ = status;
    ReachabilityStatusBlock block;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        block = networkReachabilityStatusBlock_;
    }
    if (block) block(status);
    NotificationCenter::defaultCenter().post(
        RVAFNetworkingReachabilityDidChangeNotification, nullptr,
        Value{{RVAFNetworkingReachabilityNotificationStatusItem, static_cast<int>(status)}});
}

void RVAFHTTPClient::startMonitoringNetworkReachability() {
    stopMonitoringNetworkReachability();
    if (!baseURL_.isValid() || baseURL_.host().empty()) return;
    const auto source = Platform::current().reachability();
    if (!source) return;
    const std::string host = baseURL_.host();
    const bool numeric = isNumericHost(host);
    std::shared_ptr<ReachabilityTarget> target = numeric && host.find(':') == std::string::npos
                                                     ? source->targetForAddress(host)
                                                     : source->targetForHostName(host);
    if (!target) return;
    std::weak_ptr<RVAFHTTPClient> weak = weak_from_this();
    const bool started = target->start([weak](uint32_t flags) {
        if (auto client = weak.lock()) client->reachabilityChanged(flags);
    });
    if (!started) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        networkReachability_ = target;
    }
    if (numeric) {
        // A numeric host never changes by name resolution: deliver its state at once.
        const auto flags = target->flags();
        if (flags) {
            RunLoop::main().post([weak, f = *flags] {
                if (auto client = weak.lock()) client->reachabilityChanged(f);
            });
        }
    }
}

void RVAFHTTPClient::stopMonitoringNetworkReachability() {
    std::shared_ptr<ReachabilityTarget> target;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        target.swap(networkReachability_);
    }
    if (target) target->stop();
}

// ---- archiving, copying, description ----------------------------------------------------

Value RVAFHTTPClient::archive() const {
    std::lock_guard<std::mutex> lock(mutex_);
    Value out = Value::object();
    out["baseURL"] = baseURL_.absoluteString();
    out["stringEncoding"] = stringEncoding_;
    out["parameterEncoding"] = parameterEncoding_;
    out["registeredHTTPOperationClassNames"] = registeredHTTPOperationClassNames_;
    Value headers = Value::object();
    for (const auto& [k, v] : defaultHeaders_)
        headers[k] = v;
    out["defaultHeaders"] = headers;
    return out;
}

std::shared_ptr<RVAFHTTPClient> RVAFHTTPClient::fromArchive(const Value& archive) {
    const std::string text = PropertyList::text(archive, "baseURL");
    const auto url = URL::parse(text);
    if (!url) {
        RVLog("Rivlo: HTTP client archive has no valid base URL (\"%s\")", text.c_str());
        return nullptr;
    }
    auto client = clientWithBaseURL(*url);
    std::lock_guard<std::mutex> lock(client->mutex_);
    client->stringEncoding_ = static_cast<unsigned>(
        PropertyList::integer(archive, "stringEncoding", StringEncoding::UTF8));
    client->parameterEncoding_ =
        static_cast<int32_t>(PropertyList::integer(archive, "parameterEncoding", 0));
    client->registeredHTTPOperationClassNames_.clear();
    if (archive.contains("registeredHTTPOperationClassNames") &&
        archive.at("registeredHTTPOperationClassNames").is_array()) {
        for (const auto& name : archive.at("registeredHTTPOperationClassNames")) {
            if (name.is_string()) {
                client->registeredHTTPOperationClassNames_.push_back(name.get<std::string>());
            }
        }
    }
    if (archive.contains("defaultHeaders") && archive.at("defaultHeaders").is_object()) {
        client->defaultHeaders_.clear();
        const Value& headers = archive.at("defaultHeaders");
        for (auto it = headers.begin(); it != headers.end(); ++it) {
            if (it.value().is_string()) {
                client->defaultHeaders_.emplace(it.key(), it.value().get<std::string>());
            }
        }
    }
    return client;
}

std::shared_ptr<RVAFHTTPClient> RVAFHTTPClient::copy() const {
    auto client = clientWithBaseURL(baseURL_);
    std::scoped_lock lock(mutex_, client->mutex_);
    client->stringEncoding_ = stringEncoding_;
    client->parameterEncoding_ = parameterEncoding_;
    client->registeredHTTPOperationClassNames_ = registeredHTTPOperationClassNames_;
    client->defaultHeaders_ = defaultHeaders_;
    client->networkReachabilityStatusBlock_ = networkReachabilityStatusBlock_;
    return client;
}

std::string RVAFHTTPClient::description() const {
    std::string headers = "{";
    for (const auto& [k, v] : defaultHeaders()) {
        if (headers.size() > 1) headers += ", ";
        headers += k + " = \"" + v + "\"";
    }
    headers += "}";
    std::string names = "(";
    for (const auto& n : registeredHTTPOperationClassNames()) {
        if (names.size() > 1) names += ", ";
        names += n;
    }
    names += ")";
    return format(
        "<%s: %p, baseURL: %s, defaultHeaders: %s, registeredOperationClasses: %s, "
        "operationQueue: <OperationQueue: %p>{name = '%s'}>",
        className().c_str(), static_cast<const void*>(this), baseURL_.absoluteString().c_str(),
        headers.c_str(), names.c_str(), static_cast<const void*>(operationQueue_.get()),
        operationQueue_->name().c_str());
}

}  // namespace rivlo
