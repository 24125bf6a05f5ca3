#include "support/LoopbackHTTPServer.h"

#include <httplib.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <ctime>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cctype>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace rivlo::test {

namespace {

constexpr const char* kStashedContentType = "X-Loopback-Original-Content-Type";

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

// Closes, for both directions, every accepted socket of this process whose local port is
// `localPort` (and, unless it is -1, whose peer port is `remotePort`): the client sees the
// connection end without an answer.
void dropConnection(int localPort, int remotePort) {
    DIR* dir = ::opendir("/proc/self/fd");
    if (!dir) return;
    while (dirent* entry = ::readdir(dir)) {
        const int fd = std::atoi(entry->d_name);
        if (fd <= 2) continue;
        sockaddr_storage local{}, peer{};
        socklen_t localLen = sizeof local, peerLen = sizeof peer;
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLen) != 0) continue;
        if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLen) != 0) continue;
        if (local.ss_family != AF_INET || peer.ss_family != AF_INET) continue;
        const auto* l = reinterpret_cast<const sockaddr_in*>(&local);
        const auto* p = reinterpret_cast<const sockaddr_in*>(&peer);
        if (ntohs(l->sin_port) == localPort &&
            (remotePort == -1 || ntohs(p->sin_port) == remotePort)) {
            linger lg{1, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
            ::shutdown(fd, SHUT_RDWR);
            if (remotePort != -1) break;
        }
    }
    ::closedir(dir);
}

}  // namespace

bool CaseInsensitiveLess::operator()(const std::string& a, const std::string& b) const {
    return std::lexicographical_compare(
        a.begin(), a.end(), b.begin(), b.end(),
        [](unsigned char x, unsigned char y) { return std::tolower(x) < std::tolower(y); });
}

bool RecordedRequest::hasHeader(const std::string& name) const {
    return headers.find(name) != headers.end();
}

std::string RecordedRequest::header(const std::string& name) const {
    const auto it = headers.find(name);
    return it == headers.end() ? std::string() : it->second;
}

ScriptedResponse ScriptedResponse::text(int status, std::string body, std::string contentType) {
    ScriptedResponse r;
    r.status = status;
    r.body = std::move(body);
    r.contentType = std::move(contentType);
    return r;
}

ScriptedResponse ScriptedResponse::json(int status, std::string body) {
    return text(status, std::move(body), "application/json");
}

ScriptedResponse ScriptedResponse::empty(int status) {
    ScriptedResponse r;
    r.status = status;
    return r;
}

ScriptedResponse ScriptedResponse::redirect(int status, std::string location) {
    ScriptedResponse r;
    r.status = status;
    r.headers.emplace_back("Location", std::move(location));
    return r;
}

struct LoopbackHTTPServer::Impl {
    struct Route {
        Handler handler;
        std::vector<ScriptedResponse> responses;
        size_t next = 0;
    };

    std::unique_ptr<httplib::Server> owned;
    httplib::Server& server;
    std::thread thread;

    explicit Impl(std::unique_ptr<httplib::Server> s) : owned(std::move(s)), server(*owned) {}

    mutable std::mutex mutex;
    mutable std::condition_variable cv;
    std::map<std::pair<std::string, std::string>, std::shared_ptr<Route>> routes;
    std::vector<RecordedRequest> recorded;
    bool stopping = false;

    RecordedRequest record(const httplib::Request& req) {
        RecordedRequest rec;
        rec.method = req.method;
        rec.path = req.path;
        rec.target = req.target;
        const auto q = req.target.find('?');
        if (q != std::string::npos) rec.query = req.target.substr(q + 1);
        for (const auto& [k, v] : req.headers) {
            if (k == kStashedContentType) continue;
            if (lower(k) == "content-type" && req.has_header(kStashedContentType)) {
                rec.headers.emplace(k, req.get_header_value(kStashedContentType));
            } else if (lower(k) == "remote_addr" || lower(k) == "remote_port" ||
                       lower(k) == "local_addr" || lower(k) == "local_port") {
                continue;  // added by the server library, not sent by the client
            } else {
                rec.headers.emplace(k, v);
            }
        }
        return rec;
    }

    // Picks the response for a request: nullopt when there is no route (404).
    std::optional<ScriptedResponse> pick(const std::string& method, const std::string& path,
                                         std::shared_ptr<Route>& routeOut) {
        std::lock_guard<std::mutex> lock(mutex);
        const auto it = routes.find({method, path});
        if (it == routes.end()) return std::nullopt;
        routeOut = it->second;
        if (routeOut->handler) return ScriptedResponse{};
        const size_t index = std::min(routeOut->next, routeOut->responses.size() - 1);
        if (routeOut->next < routeOut->responses.size()) ++routeOut->next;
        return routeOut->responses[index];
    }

    void store(RecordedRequest rec) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            recorded.push_back(std::move(rec));
        }
        cv.notify_all();
    }

    void respond(const httplib::Request& req, httplib::Response& res, const ScriptedResponse& r) {
        if (r.delay.count() > 0 || r.neverRespond) {
            std::unique_lock<std::mutex> lock(mutex);
            if (r.neverRespond) {
                cv.wait(lock, [&] { return stopping; });
            } else {
                cv.wait_for(lock, r.delay, [&] { return stopping; });
            }
        }
        if (r.dropConnection || r.neverRespond) {
            dropConnection(req.local_port, req.remote_port);
            res.status = 503;
            return;
        }
        res.status = r.status;
        for (const auto& [k, v] : r.headers)
            res.set_header(k, v);
        if (!r.contentType.empty()) res.set_header("Content-Type", r.contentType);
        res.body = r.body;
    }

    void handle(const httplib::Request& req, httplib::Response& res,
                const httplib::ContentReader* reader) {
        RecordedRequest rec = record(req);
        std::shared_ptr<Route> route;
        std::optional<ScriptedResponse> scripted = pick(req.method, req.path, route);
        if (reader) {
            const ScriptedResponse behaviour = scripted.value_or(ScriptedResponse{});
            size_t received = 0;
            bool aborted = false;
            (*reader)([&](const char* data, size_t length) {
                if (behaviour.abortAfterBodyBytes &&
                    received + length > *behaviour.abortAfterBodyBytes) {
                    const size_t keep = *behaviour.abortAfterBodyBytes - received;
                    if (!behaviour.discardBody) rec.body.append(data, keep);
                    received += keep;
                    aborted = true;
                    return false;
                }
                if (!behaviour.discardBody) rec.body.append(data, length);
                received += length;
                if (behaviour.readPausePerChunk.count() > 0) {
                    std::this_thread::sleep_for(behaviour.readPausePerChunk);
                }
                return true;
            });
            rec.bodyLength = received;
            if (aborted) {
                rec.bodyComplete = false;
                store(std::move(rec));
                dropConnection(req.local_port, req.remote_port);
                res.status = 400;
                return;
            }
        } else {
            rec.body = req.body;
            rec.bodyLength = req.body.size();
        }
        if (!scripted) {
            store(std::move(rec));
            res.status = 404;
            res.set_content("no route", "text/plain");
            return;
        }
        ScriptedResponse response = *scripted;
        if (route->handler) response = route->handler(rec);
        store(std::move(rec));
        respond(req, res, response);
    }
};

LoopbackHTTPServer::LoopbackHTTPServer()
    : impl_(std::make_unique<Impl>(std::make_unique<httplib::Server>())) {
    start();
}

LoopbackHTTPServer::LoopbackHTTPServer(const TLSFiles& tls)
    : impl_(std::make_unique<Impl>(std::make_unique<httplib::SSLServer>(
          tls.certificateFile.c_str(), tls.privateKeyFile.c_str()))),
      tls_(true) {
    start();
}

void LoopbackHTTPServer::start() {
    Impl* impl = impl_.get();
    // Keep multipart bodies raw: the server library would otherwise parse them into fields
    // before the route sees them. The original type is restored in the record.
    impl->server.set_pre_routing_handler([](const httplib::Request& req, httplib::Response&) {
        auto& mutableReq = const_cast<httplib::Request&>(req);
        const std::string type = req.get_header_value("Content-Type");
        if (lower(type).rfind("multipart/", 0) == 0) {
            mutableReq.headers.erase("Content-Type");
            mutableReq.headers.emplace("Content-Type", "application/octet-stream");
            mutableReq.headers.emplace(kStashedContentType, type);
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    const std::string any = "(.*)";
    auto plain = [impl](const httplib::Request& req, httplib::Response& res) {
        impl->handle(req, res, nullptr);
    };
    auto withReader = [impl](const httplib::Request& req, httplib::Response& res,
                             const httplib::ContentReader& reader) {
        impl->handle(req, res, &reader);
    };
    impl->server.Get(any, plain);
    impl->server.Options(any, plain);
    impl->server.Post(any, withReader);
    impl->server.Put(any, withReader);
    impl->server.Patch(any, withReader);
    impl->server.Delete(any, withReader);
    impl->server.set_keep_alive_max_count(1000);
    port_ = impl->server.bind_to_any_port("127.0.0.1");
    impl->thread = std::thread([impl] { impl->server.listen_after_bind(); });
    // Wait until the server accepts connections.
    for (int i = 0; i < 2000 && !impl->server.is_running(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

LoopbackHTTPServer::~LoopbackHTTPServer() {
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        impl_->stopping = true;
    }
    impl_->cv.notify_all();
    // Idle keep-alive connections would hold the server's workers until their time-out.
    dropConnection(port_, -1);
    impl_->server.stop();
    if (impl_->thread.joinable()) impl_->thread.join();
}

std::string LoopbackHTTPServer::baseURL() const {
    return std::string(tls_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_);
}

TLSFiles writeSelfSignedLoopbackCertificate(const std::string& directory) {
    TLSFiles files{directory + "/loopback-cert.pem", directory + "/loopback-key.pem"};
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* cert = X509_new();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), static_cast<long>(::time(nullptr)));
    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), 86400);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
    X509_set_issuer_name(cert, name);
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
    for (const auto& [nid, value] :
         {std::pair<int, const char*>{NID_subject_alt_name, "IP:127.0.0.1"},
          {NID_basic_constraints, "critical,CA:TRUE"}}) {
        X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
        X509_add_ext(cert, ext, -1);
        X509_EXTENSION_free(ext);
    }
    X509_sign(cert, key, EVP_sha256());
    if (FILE* f = std::fopen(files.certificateFile.c_str(), "w")) {
        PEM_write_X509(f, cert);
        std::fclose(f);
    }
    if (FILE* f = std::fopen(files.privateKeyFile.c_str(), "w")) {
        PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr);
        std::fclose(f);
    }
    X509_free(cert);
    EVP_PKEY_free(key);
    return files;
}

void LoopbackHTTPServer::route(const std::string& method, const std::string& path,
                               Handler handler) {
    auto route = std::make_shared<Impl::Route>();
    route->handler = std::move(handler);
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->routes[{method, path}] = route;
}

void LoopbackHTTPServer::route(const std::string& method, const std::string& path,
                               ScriptedResponse response) {
    script(method, path, {std::move(response)});
}

void LoopbackHTTPServer::script(const std::string& method, const std::string& path,
                                std::vector<ScriptedResponse> responses) {
    if (responses.empty()) responses.push_back(ScriptedResponse::empty(200));
    auto route = std::make_shared<Impl::Route>();
    route->responses = std::move(responses);
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->routes[{method, path}] = route;
}

std::vector<RecordedRequest> LoopbackHTTPServer::requests() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->recorded;
}

size_t LoopbackHTTPServer::requestCount() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->recorded.size();
}

void LoopbackHTTPServer::clearRequests() {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->recorded.clear();
}

bool LoopbackHTTPServer::waitForRequests(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(impl_->mutex);
    return impl_->cv.wait_for(lock, timeout, [&] { return impl_->recorded.size() >= count; });
}

// ---- multipart parsing --------------------------------------------------------------------

namespace {

std::string trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return "";
    return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

// Reads `key="value"` from a Content-Disposition value.
std::optional<std::string> dispositionParam(const std::string& value, const std::string& key) {
    const std::string needle = key + "=\"";
    size_t pos = 0;
    while ((pos = value.find(needle, pos)) != std::string::npos) {
        if (pos == 0 || value[pos - 1] == ' ' || value[pos - 1] == ';') {
            const size_t start = pos + needle.size();
            const size_t end = value.find('"', start);
            if (end == std::string::npos) return std::nullopt;
            return value.substr(start, end - start);
        }
        pos += needle.size();
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::vector<MultipartPart>> parseMultipart(const std::string& body,
                                                         const std::string& boundary) {
    const std::string opening = "--" + boundary + "\r\n";
    const std::string separator = "\r\n--" + boundary;
    if (body.compare(0, opening.size(), opening) != 0) return std::nullopt;
    std::vector<MultipartPart> parts;
    size_t pos = opening.size();
    for (;;) {
        const size_t headerEnd = body.find("\r\n\r\n", pos);
        // A part without headers starts directly with the blank line.
        MultipartPart part;
        size_t bodyStart;
        if (body.compare(pos, 2, "\r\n") == 0) {
            bodyStart = pos + 2;
        } else {
            if (headerEnd == std::string::npos) return std::nullopt;
            size_t linePos = pos;
            while (linePos < headerEnd + 2) {
                const size_t lineEnd = body.find("\r\n", linePos);
                const std::string line = body.substr(linePos, lineEnd - linePos);
                const size_t colon = line.find(':');
                if (colon == std::string::npos) return std::nullopt;
                part.headerLines.push_back(line);
                part.headers.emplace(line.substr(0, colon), trim(line.substr(colon + 1)));
                linePos = lineEnd + 2;
            }
            bodyStart = headerEnd + 4;
        }
        const size_t next = body.find(separator, bodyStart);
        if (next == std::string::npos) return std::nullopt;
        part.body = body.substr(bodyStart, next - bodyStart);
        const auto disposition = part.headers.find("Content-Disposition");
        if (disposition != part.headers.end()) {
            part.name = dispositionParam(disposition->second, "name").value_or("");
            part.fileName = dispositionParam(disposition->second, "filename");
        }
        const auto type = part.headers.find("Content-Type");
        if (type != part.headers.end()) part.contentType = type->second;
        parts.push_back(std::move(part));
        pos = next + separator.size();
        if (body.compare(pos, 4, "--\r\n") == 0) {
            if (pos + 4 != body.size()) return std::nullopt;
            return parts;
        }
        if (body.compare(pos, 2, "\r\n") != 0) return std::nullopt;
        pos += 2;
    }
}

std::optional<std::vector<MultipartPart>> parseMultipartBody(const RecordedRequest& request) {
    const std::string type = request.header("Content-Type");
    const std::string key = "boundary=";
    const size_t pos = type.find(key);
    if (pos == std::string::npos) return std::nullopt;
    std::string boundary = type.substr(pos + key.size());
    const size_t semi = boundary.find(';');
    if (semi != std::string::npos) boundary = boundary.substr(0, semi);
    if (boundary.size() >= 2 && boundary.front() == '"') {
        boundary = boundary.substr(1, boundary.size() - 2);
    }
    return parseMultipart(request.body, trim(boundary));
}

}  // namespace rivlo::test
