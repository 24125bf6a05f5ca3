#include "http/RVAFURLConnectionOperation.h"

#include "foundation/Log.h"
#include "foundation/NotificationCenter.h"
#include "foundation/RunLoop.h"
#include "http/RVAFNetworkThread.h"
#include "http/RVAFNetworking.h"
#include "http/RVAFStringEncoding.h"
#include "platform/Platform.h"

#include <curl/curl.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace rivlo {

namespace {
std::atomic<double> gTimeoutCap{0};
// The certificate bundle the library was started with (the outer optional is set while it runs).
std::mutex gCertificateMutex;
std::optional<std::optional<std::string>> gCertificateFile;  // guarded by gCertificateMutex
}  // namespace

void RVAFURLConnectionOperation::setTimeoutCap(double seconds) {
    gTimeoutCap.store(seconds > 0 ? seconds : 0);
}

double RVAFURLConnectionOperation::timeoutCap() {
    return gTimeoutCap.load();
}

void RVAFURLConnectionOperation::setCertificateFile(std::optional<std::string> path) {
    std::lock_guard<std::mutex> lock(gCertificateMutex);
    gCertificateFile = std::move(path);
}

void RVAFURLConnectionOperation::forgetCertificateFile() {
    std::lock_guard<std::mutex> lock(gCertificateMutex);
    gCertificateFile.reset();
}

std::optional<std::string> RVAFURLConnectionOperation::certificateFile() {
    {
        std::lock_guard<std::mutex> lock(gCertificateMutex);
        if (gCertificateFile) return *gCertificateFile;
    }
    const char* file = std::getenv("RIVLO_CA_FILE");
    if (!file || !*file) return std::nullopt;
    return std::string(file);
}

// ---- background tasks ---------------------------------------------------------------------

namespace {

std::string trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return "";
    return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

long urlErrorCodeForCurl(CURLcode code) {
    switch (code) {
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return URLErrorCode::CannotFindHost;
        case CURLE_COULDNT_CONNECT:
            return URLErrorCode::CannotConnectToHost;
        case CURLE_OPERATION_TIMEDOUT:
            return URLErrorCode::TimedOut;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_INVALIDCERTSTATUS:
            return URLErrorCode::SecureConnectionFailed;
        case CURLE_GOT_NOTHING:
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
        case CURLE_PARTIAL_FILE:
            return URLErrorCode::NetworkConnectionLost;
        case CURLE_TOO_MANY_REDIRECTS:
            return -1007;  // too many redirects
        case CURLE_UNSUPPORTED_PROTOCOL:
            return -1002;  // unsupported URL
        case CURLE_URL_MALFORMAT:
            return URLErrorCode::BadURL;
        case CURLE_LOGIN_DENIED:
            return URLErrorCode::UserAuthenticationRequired;
        default:
            return -1;  // unknown
    }
}

// Adds the extra bundle (RVAFURLConnectionOperation::certificateFile) to the default trust store
// of each TLS context.
CURLcode addExtraCertificates(CURL*, void* sslContext, void*) {
    const auto file = RVAFURLConnectionOperation::certificateFile();
    if (!file) return CURLE_OK;
    X509_STORE* store = SSL_CTX_get_cert_store(static_cast<SSL_CTX*>(sslContext));
    if (!store || X509_STORE_load_file(store, file->c_str()) != 1) {
        RVLog("Rivlo: could not load the certificate bundle %s", file->c_str());
    }
    return CURLE_OK;
}

Error errorWithFailingURL(const char* domain, long code, const std::string& description,
                          const std::optional<URL>& url) {
    Error error(domain, code);
    if (!description.empty()) error.setInfo(ErrorKey::LocalizedDescription, description);
    if (url) error.setInfo(ErrorKey::URLErrorFailingURL, url->absoluteString());
    return error;
}

}  // namespace

// ---- connection (network thread only) -----------------------------------------------------

struct RVAFURLConnectionOperation::Connection {
    explicit Connection(RVAFURLConnectionOperation* owner) : owner(owner) { errorBuffer[0] = '\0'; }
    ~Connection() {
        if (easy) curl_easy_cleanup(easy);
        if (headerList) curl_slist_free_all(headerList);
    }

    RVAFURLConnectionOperation* owner;
    CURL* easy = nullptr;
    curl_slist* headerList = nullptr;
    RVURLRequest request;
    std::shared_ptr<RVInputStream> body;
    int64_t bodyLength = -1;
    RVHTTPURLResponse building;  // head being received
    RVHTTPURLResponse head;      // last complete final head
    std::string lastHeaderName;
    bool headComplete = false;
    bool headPending = false;
    std::optional<Error> bodyError;
    int64_t uploaded = 0;
    int redirects = 0;
    char errorBuffer[CURL_ERROR_SIZE];

    static size_t onHeader(char* data, size_t size, size_t count, void* user) {
        auto* c = static_cast<Connection*>(user);
        const size_t n = size * count;
        const std::string line(data, n);
        if (line.rfind("HTTP/", 0) == 0) {
            c->building = RVHTTPURLResponse();
            c->lastHeaderName.clear();
            const auto space = line.find(' ');
            if (space != std::string::npos) {
                c->building.statusCode = std::strtol(line.c_str() + space + 1, nullptr, 10);
            }
        } else if (line == "\r\n" || line == "\n") {
            if (c->building.statusCode >= 200 || c->building.statusCode < 100) {
                char* effective = nullptr;
                curl_easy_getinfo(c->easy, CURLINFO_EFFECTIVE_URL, &effective);
                c->building.url = effective ? URL::parse(effective) : c->request.url;
                c->head = c->building;
                c->headComplete = true;
                c->headPending = true;
            }
        } else if ((line[0] == ' ' || line[0] == '\t') && !c->lastHeaderName.empty()) {
            c->building.allHeaderFields[c->lastHeaderName] += " " + trim(line);
        } else {
            const auto colon = line.find(':');
            if (colon != std::string::npos) {
                const std::string name = trim(line.substr(0, colon));
                const std::string value = trim(line.substr(colon + 1));
                auto it = c->building.allHeaderFields.find(name);
                if (it == c->building.allHeaderFields.end()) {
                    c->building.allHeaderFields.emplace(name, value);
                } else {
                    it->second += ", " + value;
                }
                c->lastHeaderName = name;
            }
        }
        return n;
    }

    static size_t onBody(char* data, size_t size, size_t count, void* user) {
        auto* c = static_cast<Connection*>(user);
        const size_t n = size * count;
        if (c->headPending) c->owner->deliverPendingResponse();
        c->owner->didReceiveData(data, n);
        return n;
    }

    static size_t onRead(char* buffer, size_t size, size_t count, void* user) {
        auto* c = static_cast<Connection*>(user);
        if (!c->body) return 0;
        const int64_t n = c->body->read(reinterpret_cast<uint8_t*>(buffer), size * count);
        if (n < 0) {
            c->bodyError = c->body->streamError();
            if (!c->bodyError) {
                c->bodyError = Error(URLErrorDomain, RVAFURLErrorRequestBodyStreamExhausted);
            }
            return CURL_READFUNC_ABORT;
        }
        return static_cast<size_t>(n);
    }

    // curl needs the body again (a redirect that keeps the method, an authentication retry):
    // start it over from its first byte.
    static int onSeek(void* user, curl_off_t offset, int origin) {
        auto* c = static_cast<Connection*>(user);
        if (!c->body || origin != SEEK_SET || offset != 0) return CURL_SEEKFUNC_CANTSEEK;
        if (!c->body->rewind()) return CURL_SEEKFUNC_CANTSEEK;
        c->body->open();
        return CURL_SEEKFUNC_OK;
    }

    static int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t ultotal,
                          curl_off_t ulnow) {
        auto* c = static_cast<Connection*>(user);
        if (ulnow > c->uploaded) {
            const uint64_t delta = static_cast<uint64_t>(ulnow - c->uploaded);
            c->uploaded = ulnow;
            const int64_t expected = c->bodyLength >= 0 ? c->bodyLength : ultotal;
            c->owner->didSendBodyData(delta, ulnow, expected);
        }
        return 0;
    }
};

// ---- operation ----------------------------------------------------------------------------

RVAFURLConnectionOperation::RVAFURLConnectionOperation(RVURLRequest request)
    : request_(std::move(request)) {
    state_ = State::Ready;
}

RVAFURLConnectionOperation::~RVAFURLConnectionOperation() {
    endBackgroundTask();
}

const char* RVAFURLConnectionOperation::stateName(State state) {
    switch (state) {
        case State::Paused:
            return "isPaused";
        case State::Ready:
            return "isReady";
        case State::Executing:
            return "isExecuting";
        case State::Finished:
            return "isFinished";
        default:
            return "state";
    }
}

RVAFURLConnectionOperation::State RVAFURLConnectionOperation::state() const {
    return state_;
}

bool RVAFURLConnectionOperation::isReady() const {
    return state_ == State::Ready && Operation::isReady();
}
bool RVAFURLConnectionOperation::isExecuting() const {
    return state_ == State::Executing;
}
bool RVAFURLConnectionOperation::isFinished() const {
    return state_ == State::Finished;
}
bool RVAFURLConnectionOperation::isPaused() const {
    return state_ == State::Paused;
}

void RVAFURLConnectionOperation::setState(State newState) {
    {
        std::lock_guard<std::recursive_mutex> lock(lock_);
        const State old = state_;
        bool valid = false;
        switch (old) {
            case State::Ready:
                valid = newState == State::Paused || newState == State::Executing ||
                        (newState == State::Finished && isCancelled());
                break;
            case State::Executing:
                valid = newState == State::Paused || newState == State::Finished;
                break;
            case State::Finished:
                valid = false;
                break;
            case State::Paused:
                valid = newState == State::Ready;
                break;
            default:
                valid = true;
                break;
        }
        if (!valid) return;
        state_ = newState;
    }
    // Announced outside the lock: observers may call back into the operation.
    if (newState == State::Executing) {
        NotificationCenter::defaultCenter().post(RVAFNetworkingOperationDidStartNotification, this);
    } else if (newState == State::Finished) {
        NotificationCenter::defaultCenter().post(RVAFNetworkingOperationDidFinishNotification,
                                                 this);
    }
    stateDidChange();
}

void RVAFURLConnectionOperation::start() {
    {
        std::lock_guard<std::recursive_mutex> lock(lock_);
        if (!isReady()) return;
    }
    setState(State::Executing);
    if (state_ != State::Executing) return;
    auto self = std::static_pointer_cast<RVAFURLConnectionOperation>(shared_from_this());
    RVAFNetworkThread::shared().post([self] { self->operationDidStart(); });
}

void RVAFURLConnectionOperation::operationDidStart() {
    if (isCancelled()) {
        finish();
        return;
    }
    if (state_ != State::Executing) return;  // paused before the network thread got here
    startTransfer(request());
}

void RVAFURLConnectionOperation::finish() {
    setState(State::Finished);
}

void RVAFURLConnectionOperation::startTransfer(const RVURLRequest& request) {
    connection_ = std::make_unique<Connection>(this);
    Connection& c = *connection_;
    c.request = request;
    if (!request.url || request.url->isFileURL() ||
        (request.url->scheme() != "http" && request.url->scheme() != "https")) {
        connectionDidFailWithError(
            errorWithFailingURL(URLErrorDomain, request.url ? -1002 : URLErrorCode::BadURL,
                                request.url ? "unsupported URL" : "bad URL", request.url));
        return;
    }
    c.easy = curl_easy_init();
    if (!c.easy) {
        connectionDidFailWithError(
            errorWithFailingURL(URLErrorDomain, -1, "no connection available", request.url));
        return;
    }
    CURL* e = c.easy;
    curl_easy_setopt(e, CURLOPT_URL, request.url->absoluteString().c_str());
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, c.errorBuffer);
    curl_easy_setopt(e, CURLOPT_PRIVATE, &c);

    // Time-out: connection set-up, and a transfer that stalls for the request's interval (a
    // server that takes the whole body and then holds its answer back stalls too).
    double timeout = request.timeoutInterval > 0 ? request.timeoutInterval : 60.0;
    if (const double cap = timeoutCap(); cap > 0) timeout = std::min(timeout, cap);
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeout * 1000));
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME,
                     std::max(1L, static_cast<long>(std::ceil(timeout))));

    // Certificates and host names are always verified; RIVLO_CA_FILE adds trusted roots.
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L);
    if (certificateFile()) curl_easy_setopt(e, CURLOPT_SSL_CTX_FUNCTION, addExtraCertificates);

    // Redirects: followed by curl unless a redirect callback decides each one, or the request
    // has a body (below).
    bool manualRedirects;
    {
        std::lock_guard<std::recursive_mutex> lock(lock_);
        manualRedirects = static_cast<bool>(redirectResponse_);
    }
    curl_easy_setopt(e, CURLOPT_MAXREDIRS, 16L);

    // Credentials in the URL answer the server's challenge.
    if (!request.url->user().empty()) curl_easy_setopt(e, CURLOPT_HTTPAUTH, CURLAUTH_ANY);

    // Method and body.
    const std::string& method = request.HTTPMethod.empty() ? "GET" : request.HTTPMethod;
    if (request.HTTPBodyStream) {
        c.body = request.HTTPBodyStream;
        const auto length = request.valueForHTTPHeaderField("Content-Length");
        c.bodyLength = length ? std::strtoll(length->c_str(), nullptr, 10) : -1;
    } else if (request.HTTPBody) {
        c.body = std::make_shared<RVDataInputStream>(*request.HTTPBody);
        c.bodyLength = static_cast<int64_t>(request.HTTPBody->size());
    }
    if (c.body) {
        // A body already read (an operation sent again) starts over from its first byte.
        if (c.body->streamStatus() != RVInputStream::NotOpen && !c.body->rewind()) {
            connectionDidFailWithError(
                errorWithFailingURL(URLErrorDomain, RVAFURLErrorRequestBodyStreamExhausted,
                                    "the request body cannot be sent again", request.url));
            return;
        }
        c.body->open();
        curl_easy_setopt(e, CURLOPT_POST, 1L);
        curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(c.bodyLength));
        curl_easy_setopt(e, CURLOPT_READFUNCTION, &Connection::onRead);
        curl_easy_setopt(e, CURLOPT_READDATA, &c);
        curl_easy_setopt(e, CURLOPT_SEEKFUNCTION, &Connection::onSeek);
        curl_easy_setopt(e, CURLOPT_SEEKDATA, &c);
        if (method != "POST") curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, method.c_str());
    } else if (method == "HEAD") {
        curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
    } else if (method != "GET") {
        curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, method.c_str());
    }
    // A request with a body follows its redirects here (transferDone): curl would turn a POST
    // answered by 301, 302 or 303 into a GET without the body and report the page that
    // follows as the answer, so an upload the service never received would count as sent.
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, manualRedirects || c.body ? 0L : 1L);

    // Header fields exactly as built; curl computes Content-Length from the body size.
    bool hasAcceptEncoding = false;
    for (const auto& [name, value] : request.allHTTPHeaderFields) {
        if (curl_strequal(name.c_str(), "Content-Length")) continue;
        if (curl_strequal(name.c_str(), "Accept-Encoding")) hasAcceptEncoding = true;
        const std::string line = value.empty() ? name + ";" : name + ": " + value;
        c.headerList = curl_slist_append(c.headerList, line.c_str());
    }
    c.headerList = curl_slist_append(c.headerList, "Expect:");
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, c.headerList);
    if (!hasAcceptEncoding) curl_easy_setopt(e, CURLOPT_ACCEPT_ENCODING, "");

    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &Connection::onHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, &c);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Connection::onBody);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &c);
    curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, &Connection::onProgress);
    curl_easy_setopt(e, CURLOPT_XFERINFODATA, &c);
    curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);

    auto self = std::static_pointer_cast<RVAFURLConnectionOperation>(shared_from_this());
    RVAFNetworkThread::shared().addTransfer(e, [self](int code) { self->transferDone(code); });
}

void RVAFURLConnectionOperation::deliverPendingResponse() {
    if (!connection_ || !connection_->headPending) return;
    connection_->headPending = false;
    connectionDidReceiveResponse(connection_->head);
}

void RVAFURLConnectionOperation::connectionDidReceiveResponse(const RVHTTPURLResponse& response) {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    response_ = response;
}

void RVAFURLConnectionOperation::didReceiveData(const char* data, size_t length) {
    {
        std::lock_guard<std::recursive_mutex> lock(lock_);
        received_.append(data, length);
    }
    totalBytesRead_ += static_cast<int64_t>(length);
    ProgressBlock block;
    int64_t expected = -1;
    {
        std::lock_guard<std::recursive_mutex> lock(lock_);
        block = downloadProgress_;
        if (response_) expected = response_->expectedContentLength();
    }
    if (block) {
        auto self = std::static_pointer_cast<RVAFURLConnectionOperation>(shared_from_this());
        RunLoop::main().post(
            [self, block, length, expected] { block(length, self->totalBytesRead(), expected); });
    }
}

void RVAFURLConnectionOperation::didSendBodyData(uint64_t bytes, int64_t total, int64_t expected) {
    ProgressBlock block;
    {
        std::lock_guard<std::recursive_mutex> lock(lock_);
        block = uploadProgress_;
    }
    if (block)
        RunLoop::main().post([block, bytes, total, expected] { block(bytes, total, expected); });
}

void RVAFURLConnectionOperation::transferDone(int curlCode) {
    if (!connection_) return;
    Connection& c = *connection_;
    const auto code = static_cast<CURLcode>(curlCode);
    if (code == CURLE_OK) {
        RedirectResponseBlock redirect;
        {
            std::lock_guard<std::recursive_mutex> lock(lock_);
            redirect = redirectResponse_;
        }
        const long status = c.head.statusCode;
        const auto location = c.head.valueForHTTPHeaderField("Location");
        if (redirect && location && status >= 300 && status < 400 && status != 304 &&
            c.redirects < 16 && c.request.url) {
            RVURLRequest proposed = c.request;
            proposed.url = URL::resolve(*location, *c.request.url);
            if (status == 303 ||
                ((status == 301 || status == 302) && proposed.HTTPMethod == "POST")) {
                proposed.HTTPMethod = "GET";
                proposed.HTTPBody.reset();
                proposed.HTTPBodyStream.reset();
                proposed.setValue(std::nullopt, "Content-Length");
                proposed.setValue(std::nullopt, "Content-Type");
            } else if (proposed.HTTPBodyStream && !proposed.HTTPBodyStream->rewind()) {
                connectionDidFailWithError(
                    errorWithFailingURL(URLErrorDomain, RVAFURLErrorRequestBodyStreamExhausted,
                                        "the request body cannot be sent again", c.request.url));
                return;
            }
            const std::optional<RVHTTPURLResponse> redirectHead = c.head;
            std::optional<RVURLRequest> next;
            if (proposed.url) next = redirect(proposed, redirectHead);
            if (next) {
                const int redirects = c.redirects + 1;
                connection_.reset();
                startTransfer(*next);
                if (connection_) connection_->redirects = redirects;
                return;
            }
        } else if (!redirect && c.body && location && status >= 300 && status < 400 &&
                   status != 304 && c.request.url) {
            // A request with a body, no redirect callback. 307 and 308 keep the method: the
            // whole body is sent again to the new address. Any other redirect would drop the
            // body, so it is not followed: the redirect itself is the answer, and a caller
            // that expects a 2xx sees a failure and keeps what it wanted to send.
            RVURLRequest proposed = c.request;
            proposed.url = URL::resolve(*location, *c.request.url);
            std::optional<RVURLRequest> next;
            if ((status == 307 || status == 308) && proposed.url && c.redirects < 16) {
                next = std::move(proposed);
            } else {
                RVLog(
                    "Rivlo: A %s request was redirected (%ld); not followed, as the redirect "
                    "would drop its body",
                    c.request.HTTPMethod.c_str(), status);
            }
            if (next) {
                const int redirects = c.redirects + 1;
                connection_.reset();
                startTransfer(*next);
                if (connection_) connection_->redirects = redirects;
                return;
            }
        }
        deliverPendingResponse();
        connectionDidFinishLoading();
        return;
    }
    Error error;
    if (c.bodyError) {
        error = *c.bodyError;
        error.setInfo(ErrorKey::URLErrorFailingURL, c.request.absoluteURLString());
    } else {
        std::string description = curl_easy_strerror(code);
        if (c.errorBuffer[0] != '\0') description += std::string(": ") + c.errorBuffer;
        error = errorWithFailingURL(URLErrorDomain, urlErrorCodeForCurl(code), description,
                                    c.request.url);
    }
    connectionDidFailWithError(error);
}

void RVAFURLConnectionOperation::connectionDidFinishLoading() {
    {
        std::lock_guard<std::recursive_mutex> lock(lock_);
        responseData_ = received_;
    }
    connection_.reset();
    finish();
}

void RVAFURLConnectionOperation::connectionDidFailWithError(const Error& error) {
    {
        std::lock_guard<std::recursive_mutex> lock(lock_);
        error_ = error;
    }
    if (connection_ && connection_->easy) {
        RVAFNetworkThread::shared().removeTransfer(connection_->easy);
    }
    connection_.reset();
    finish();
}

void RVAFURLConnectionOperation::cancel() {
    {
        std::lock_guard<std::recursive_mutex> lock(lock_);
        if (isFinished() || isCancelled()) return;
    }
    Operation::cancel();
    auto self = std::static_pointer_cast<RVAFURLConnectionOperation>(shared_from_this());
    RVAFNetworkThread::shared().post([self] { self->cancelConnection(); });
}

void RVAFURLConnectionOperation::cancelConnection() {
    if (!connection_) return;
    const std::optional<URL> url = connection_->request.url;
    RVAFNetworkThread::shared().removeTransfer(connection_->easy);
    connection_.reset();
    connectionDidFailWithError(
        errorWithFailingURL(URLErrorDomain, URLErrorCode::Cancelled, "cancelled", url));
}

void RVAFURLConnectionOperation::pause() {
    {
        std::lock_guard<std::recursive_mutex> lock(lock_);
        if (isPaused() || isFinished() || isCancelled()) return;
    }
    if (isExecuting()) {
        auto self = std::static_pointer_cast<RVAFURLConnectionOperation>(shared_from_this());
        RVAFNetworkThread::shared().post([self] {
            if (!self->connection_) return;
            RVAFNetworkThread::shared().removeTransfer(self->connection_->easy);
            self->connection_.reset();
        });
        NotificationCenter::defaultCenter().post(RVAFNetworkingOperationDidFinishNotification,
                                                 this);
    }
    setState(State::Paused);
}

void RVAFURLConnectionOperation::resume() {
    if (!isPaused()) return;
    setState(State::Ready);
    start();
}

RVURLRequest RVAFURLConnectionOperation::request() const {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    return request_;
}

void RVAFURLConnectionOperation::setRequest(RVURLRequest request) {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    request_ = std::move(request);
}

std::optional<RVHTTPURLResponse> RVAFURLConnectionOperation::response() const {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    return response_;
}

std::optional<Error> RVAFURLConnectionOperation::error() const {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    return error_;
}

std::optional<std::string> RVAFURLConnectionOperation::responseData() const {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    return responseData_;
}

unsigned RVAFURLConnectionOperation::responseStringEncoding() {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    if (responseStringEncoding_ == 0) {
        unsigned encoding = StringEncoding::UTF8;
        if (response_) {
            if (const auto name = response_->textEncodingName()) {
                const unsigned known = RVAFEncodingForCharsetName(*name);
                if (known != 0) encoding = known;
            }
        }
        responseStringEncoding_ = encoding;
    }
    return responseStringEncoding_;
}

std::optional<std::string> RVAFURLConnectionOperation::responseString() {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    if (!responseString_ && response_ && responseData_) {
        responseString_ = RVAFDecodeString(*responseData_, responseStringEncoding());
    }
    return responseString_;
}

int64_t RVAFURLConnectionOperation::totalBytesRead() const {
    return totalBytesRead_;
}

void RVAFURLConnectionOperation::replaceReceivedData(std::string data) {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    received_ = std::move(data);
}

size_t RVAFURLConnectionOperation::receivedDataLength() const {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    return received_.size();
}

std::shared_ptr<RVInputStream> RVAFURLConnectionOperation::inputStream() const {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    return request_.HTTPBodyStream;
}

void RVAFURLConnectionOperation::setInputStream(std::shared_ptr<RVInputStream> stream) {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    RVURLRequest copy = request_;
    copy.setHTTPBodyStream(std::move(stream));
    request_ = std::move(copy);
}

void RVAFURLConnectionOperation::setUploadProgressBlock(ProgressBlock block) {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    uploadProgress_ = std::move(block);
}
void RVAFURLConnectionOperation::setDownloadProgressBlock(ProgressBlock block) {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    downloadProgress_ = std::move(block);
}
void RVAFURLConnectionOperation::setRedirectResponseBlock(RedirectResponseBlock block) {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    redirectResponse_ = std::move(block);
}
void RVAFURLConnectionOperation::setAuthenticationAgainstProtectionSpaceBlock(
    AuthenticationAgainstProtectionSpaceBlock block) {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    authenticationAgainstProtectionSpace_ = std::move(block);
}
void RVAFURLConnectionOperation::setAuthenticationChallengeBlock(
    AuthenticationChallengeBlock block) {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    authenticationChallenge_ = std::move(block);
}
void RVAFURLConnectionOperation::setCacheResponseBlock(CacheResponseBlock block) {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    cacheResponse_ = std::move(block);
}

void RVAFURLConnectionOperation::copyCallbacksTo(RVAFURLConnectionOperation& other) const {
    std::scoped_lock lock(lock_, other.lock_);
    other.uploadProgress_ = uploadProgress_;
    other.downloadProgress_ = downloadProgress_;
    other.redirectResponse_ = redirectResponse_;
    other.authenticationAgainstProtectionSpace_ = authenticationAgainstProtectionSpace_;
    other.authenticationChallenge_ = authenticationChallenge_;
    other.cacheResponse_ = cacheResponse_;
}

std::shared_ptr<RVAFURLConnectionOperation> RVAFURLConnectionOperation::copy() const {
    auto op = std::make_shared<RVAFURLConnectionOperation>(request());
    copyCallbacksTo(*op);
    return op;
}

void RVAFURLConnectionOperation::setShouldExecuteAsBackgroundTaskWithExpirationHandler(
    std::function<void()> handler) {
    {
        std::lock_guard<std::recursive_mutex> lock(lock_);
        if (backgroundTaskIdentifier_ != 0) return;
    }
    const auto application = Platform::current().application();
    if (!application) return;
    std::weak_ptr<Operation> weak = weak_from_this();
    const BackgroundTaskIdentifier identifier = application->beginBackgroundTask([weak, handler] {
        if (handler) handler();
        auto op = std::static_pointer_cast<RVAFURLConnectionOperation>(weak.lock());
        if (!op) return;
        op->cancel();
        op->endBackgroundTask();
    });
    std::lock_guard<std::recursive_mutex> lock(lock_);
    backgroundTaskIdentifier_ = identifier;
}

void RVAFURLConnectionOperation::endBackgroundTask() {
    BackgroundTaskIdentifier identifier;
    {
        std::lock_guard<std::recursive_mutex> lock(lock_);
        identifier = backgroundTaskIdentifier_;
        backgroundTaskIdentifier_ = 0;
    }
    if (identifier == InvalidBackgroundTask) return;
    if (const auto application = Platform::current().application()) {
        application->endBackgroundTask(identifier);
    }
}

std::string RVAFURLConnectionOperation::description() const {
    const RVURLRequest req = request();
    const auto resp = response();
    std::string requestText =
        "<RVURLRequest: " + req.HTTPMethod + " " + req.absoluteURLString() + ">";
    std::string responseText =
        resp ? "<RVHTTPURLResponse: " + std::to_string(resp->statusCode) + " " +
                   (resp->url ? resp->url->absoluteString() : std::string()) + ">"
             : std::string("(null)");
    return format("<%s: %p, state: %s, cancelled: %s request: %s, response: %s>",
                  className().c_str(), static_cast<const void*>(this), stateName(state()),
                  isCancelled() ? "YES" : "NO", requestText.c_str(), responseText.c_str());
}

Value RVAFURLConnectionOperation::archive() {
    pause();
    std::lock_guard<std::recursive_mutex> lock(lock_);
    Value out = Value::object();
    out["request"] = request_.archive();
    State s = state_;
    if (s == State::Executing || s == State::Paused) s = State::Ready;
    out["state"] = static_cast<int>(s);
    out["isCancelled"] = isCancelled();
    if (response_) out["response"] = response_->archive();
    if (error_) {
        out["error"] = {
            {"domain", error_->domain}, {"code", error_->code}, {"userInfo", error_->userInfo}};
    }
    if (responseData_) out["responseData"] = PropertyList::data(*responseData_);
    out["totalBytesRead"] = totalBytesRead_.load();
    return out;
}

void RVAFURLConnectionOperation::restoreFromArchive(const Value& archive) {
    if (!archive.is_object()) {
        RVLog("Rivlo: operation archive is not a dictionary; ignored");
        return;
    }
    const auto s = PropertyList::integer(archive, "state", 1);
    {
        std::lock_guard<std::recursive_mutex> lock(lock_);
        if (s == -1 || s == 1 || s == 2 || s == 3) state_ = static_cast<State>(s);
        if (archive.contains("response")) {
            response_ = RVHTTPURLResponse::fromArchive(archive.at("response"));
        }
        if (archive.contains("error") && archive.at("error").is_object()) {
            const Value& e = archive.at("error");
            Error error(PropertyList::text(e, "domain"), PropertyList::integer(e, "code"));
            if (e.contains("userInfo") && e.at("userInfo").is_object()) {
                for (auto it = e.at("userInfo").begin(); it != e.at("userInfo").end(); ++it) {
                    error.setInfo(it.key(), it.value());
                }
            }
            error_ = error;
        }
        if (archive.contains("responseData") && PropertyList::isData(archive.at("responseData"))) {
            const Data bytes = PropertyList::dataBytes(archive.at("responseData"));
            responseData_ = std::string(bytes.begin(), bytes.end());
            received_ = *responseData_;
        }
        totalBytesRead_ = PropertyList::integer(archive, "totalBytesRead", 0);
    }
    if (PropertyList::boolean(archive, "isCancelled", false)) Operation::cancel();
}

bool RVAFURLConnectionOperation::isNetworkThread() {
    return RVAFNetworkThread::shared().isCurrent();
}

}  // namespace rivlo
