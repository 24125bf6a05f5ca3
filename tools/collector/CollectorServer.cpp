#include "CollectorServer.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#include <arpa/inet.h>
#include <dirent.h>
#include <netdb.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <httplib.h>

#include "CollectorIndex.h"
#include "CollectorNames.h"
#include "FaultInjector.h"
#include "UploadReceiver.h"
#include "protocol/RVWireProtocol.h"

namespace rivlo::collector {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

const char* const kVerifyPath = rivlo::RVWire::kVerifyPath;
const char* const kVideoPath = rivlo::RVWire::kUploadVideoPath;
const char* const kDataPath = rivlo::RVWire::kUploadDataPath;
const char* const kTilePath = rivlo::RVWire::kUploadWebTilesPath;

// Session documents are read back to find their installation; anything larger is not one.
constexpr uint64_t kMaxDocumentBytes = 16ull * 1024 * 1024;

std::string dumpJson(const json& value) {
    return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

void answer(httplib::Response& res, int status, const json& body) {
    res.status = status;
    res.set_content(dumpJson(body), "application/json");
}

void answerError(httplib::Response& res, int status, const std::string& message) {
    answer(res, status, json{{"error", message}});
}

std::string numericHost(const sockaddr_storage& address, socklen_t length, int& port) {
    char host[NI_MAXHOST] = {0};
    char service[NI_MAXSERV] = {0};
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&address), length, host, sizeof host, service,
                    sizeof service, NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
        port = -1;
        return {};
    }
    port = std::atoi(service);
    return host;
}

// Resets the TCP connection a request came in on: the request's socket is found among the
// process's descriptors by its address pair, and an AF_UNSPEC connect with a zero linger time
// aborts it (the peer sees a reset). The server still owns and later closes the descriptor.
bool resetConnection(const httplib::Request& req) {
    DIR* dir = ::opendir("/proc/self/fd");
    if (!dir) return false;
    bool done = false;
    while (dirent* entry = ::readdir(dir)) {
        char* end = nullptr;
        long fd = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0') continue;
        // Descriptors that are not connected sockets fail the two calls below. Nothing else is
        // done to a descriptor until its address pair proves it is this request's connection,
        // which stays open while its handler runs.
        sockaddr_storage local{}, peer{};
        socklen_t localLength = sizeof local, peerLength = sizeof peer;
        if (::getsockname(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&local),
                          &localLength) != 0 ||
            ::getpeername(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&peer), &peerLength) !=
                0) {
            continue;
        }
        int localPort = -1, peerPort = -1;
        std::string localHost = numericHost(local, localLength, localPort);
        std::string peerHost = numericHost(peer, peerLength, peerPort);
        if (localPort != req.local_port || peerPort != req.remote_port ||
            peerHost != req.remote_addr || localHost != req.local_addr) {
            continue;
        }
        linger off{1, 0};
        ::setsockopt(static_cast<int>(fd), SOL_SOCKET, SO_LINGER, &off, sizeof off);
        sockaddr unspec{};
        unspec.sa_family = AF_UNSPEC;
        ::connect(static_cast<int>(fd), &unspec, sizeof unspec);
        done = true;
        break;
    }
    ::closedir(dir);
    return done;
}

std::string kindFolder(const std::string& kind) {
    return kind == "tile" ? "tiles" : kind;
}

}  // namespace

struct CollectorServer::Impl {
    explicit Impl(CollectorConfig c)
        : config(std::move(c)), log(config.logSink), faults(config.faults) {}

    CollectorConfig config;
    CollectorLog log;
    FaultInjector faults;
    CollectorIndex index;
    std::map<std::string, CollectorApp> apps;  // by key; read-only while serving
    std::map<std::string, std::string> appFolders;
    std::string tempDir;

    std::unique_ptr<httplib::Server> server;
    std::thread thread;
    std::atomic<bool> running{false};
    std::atomic<int> boundPort{0};

    // Delayed answers wait on this so that stop() does not wait for them.
    std::mutex stopMutex;
    std::condition_variable stopSignal;
    bool stopping = false;

    bool prepare(std::string& error);
    void installRoutes();
    // Holds the answer back `ms` milliseconds (logged, with the uploaded file's name when
    // there is one); stop() ends the wait.
    void delay(int ms, const char* what, const std::string& fileName = {});
    // Applies the drawn fault; true when the request has been answered by it.
    bool applyFault(const FaultInjector::Plan& plan, const httplib::Request& req,
                    httplib::Response& res, const char* what);

    void handleVerify(const httplib::Request& req, httplib::Response& res);
    void handleUpload(const std::string& kind, const httplib::Request& req, httplib::Response& res,
                      const httplib::ContentReader& reader);
    // Checks the fields of one upload kind; returns an error text or "".
    std::string checkFields(const std::string& kind, const UploadReceiver& receiver) const;
};

CollectorServer::CollectorServer(CollectorConfig config)
    : impl_(std::make_unique<Impl>(std::move(config))) {}

CollectorServer::~CollectorServer() {
    stop();
}

bool CollectorServer::Impl::prepare(std::string& error) {
    if (!config.validate(error)) return false;
    std::error_code ec;
    fs::path data(config.dataDir);
    tempDir = (data / "tmp").string();
    fs::create_directories(tempDir, ec);
    if (ec) {
        error = "cannot create data folder " + config.dataDir + ": " + ec.message();
        return false;
    }
    // Leftovers of uploads that were being received when a previous run ended.
    for (const auto& entry : fs::directory_iterator(tempDir, ec))
        fs::remove(entry.path(), ec);
    if (!index.open((data / "collector.sqlite").string(), false, error)) return false;
    for (const CollectorApp& app : config.apps) {
        std::string folder = CollectorNames::readableFolderName(app.name) + "-" +
                             CollectorNames::sha256Hex(app.key).substr(0, 8);
        // An application keeps the folder it was first given, also when renamed later.
        if (auto known = index.application(app.key)) folder = known->folder;
        if (!index.registerApplication({app.key, app.name, folder}, error)) return false;
        apps[app.key] = app;
        appFolders[app.key] = folder;
    }
    return true;
}

bool CollectorServer::start(std::string& error) {
    Impl& d = *impl_;
    if (d.running) return true;
    if (!d.prepare(error)) {
        d.index.close();
        return false;
    }
    if (d.config.usesTls()) {
        auto tls = std::make_unique<httplib::SSLServer>(d.config.certFile.c_str(),
                                                        d.config.keyFile.c_str());
        if (!tls->is_valid()) {
            error = "cannot use certificate " + d.config.certFile + " with key " + d.config.keyFile;
            d.index.close();
            return false;
        }
        d.server = std::move(tls);
    } else {
        d.server = std::make_unique<httplib::Server>();
    }
    int threads = d.config.threads;
    d.server->new_task_queue = [threads] {
        return new httplib::ThreadPool(static_cast<size_t>(threads));
    };
    d.server->set_payload_max_length(static_cast<size_t>(d.config.maxBodyBytes));
    // Address reuse lets a restarted collector take its port back at once; port sharing (the
    // library's default also turns it on) would let a second collector on the same port
    // silently split the traffic, so it stays off and the second one fails to start.
    d.server->set_socket_options([](int sock) {
        int yes = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    d.server->set_keep_alive_timeout(1);
    d.server->set_read_timeout(30, 0);
    d.server->set_write_timeout(30, 0);
    d.installRoutes();

    int port = d.config.port;
    if (port == 0) {
        port = d.server->bind_to_any_port(d.config.host);
    } else if (!d.server->bind_to_port(d.config.host, port)) {
        port = -1;
    }
    if (port <= 0) {
        error = "cannot listen on " + d.config.host + ":" + std::to_string(d.config.port);
        d.server.reset();
        d.index.close();
        return false;
    }
    d.boundPort = port;
    {
        std::lock_guard<std::mutex> lock(d.stopMutex);
        d.stopping = false;
    }
    d.running = true;
    d.thread = std::thread([&d] {
        // Request threads are created from this one and inherit the mask: a write to a client
        // that has gone away then fails with EPIPE instead of raising SIGPIPE in the process.
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &set, nullptr);
        d.server->listen_after_bind();
    });
    // stop() only reaches a server whose accept loop has begun; wait for it so that an
    // immediate stop cannot be missed.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!d.server->is_running() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (!d.server->is_running()) {
        error = "the server did not start accepting connections";
        stop();
        return false;
    }
    d.log.write("serving %s on %s (data folder %s)%s", d.config.usesTls() ? "HTTPS" : "HTTP",
                url().c_str(), d.config.dataDir.c_str(),
                d.faults.enabled() ? ", fault injection on" : "");
    return true;
}

void CollectorServer::stop() {
    Impl& d = *impl_;
    if (!d.running.exchange(false)) return;
    {
        std::lock_guard<std::mutex> lock(d.stopMutex);
        d.stopping = true;
    }
    d.stopSignal.notify_all();
    d.server->stop();
    if (d.thread.joinable()) d.thread.join();
    d.server.reset();
    d.index.close();
    d.log.write("stopped serving on port %d", d.boundPort.load());
}

bool CollectorServer::running() const {
    return impl_->running;
}

int CollectorServer::port() const {
    return impl_->boundPort;
}

std::string CollectorServer::url() const {
    const Impl& d = *impl_;
    std::string host = d.config.host;
    if (host == "0.0.0.0" || host.empty()) host = "127.0.0.1";
    if (host.find(':') != std::string::npos) host = "[" + host + "]";
    return std::string(d.config.usesTls() ? "https://" : "http://") + host + ":" +
           std::to_string(d.boundPort.load());
}

void CollectorServer::Impl::delay(int ms, const char* what, const std::string& fileName) {
    if (ms <= 0) return;
    if (fileName.empty()) {
        log.write("%s: injected delay, the answer is held back %d ms", what, ms);
    } else {
        log.write("%s: injected delay, the answer for %s is held back %d ms", what,
                  CollectorNames::printable(fileName).c_str(), ms);
    }
    std::unique_lock<std::mutex> lock(stopMutex);
    stopSignal.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping; });
}

bool CollectorServer::Impl::applyFault(const FaultInjector::Plan& plan, const httplib::Request& req,
                                       httplib::Response& res, const char* what) {
    switch (plan.outcome) {
        case FaultInjector::Outcome::None:
            return false;
        case FaultInjector::Outcome::Fail:
            log.write("%s: injected failure, answered 500", what);
            answerError(res, 500, "injected failure");
            return true;
        case FaultInjector::Outcome::Reset:
            if (resetConnection(req)) {
                log.write("%s: injected connection reset", what);
            } else {
                log.write("%s: injected connection reset not possible, answered 500", what);
            }
            res.set_header("Connection", "close");
            answerError(res, 500, "injected connection reset");
            return true;
    }
    return false;
}

void CollectorServer::Impl::installRoutes() {
    server->Post(kVerifyPath, [this](const httplib::Request& req, httplib::Response& res) {
        handleVerify(req, res);
    });
    const std::pair<const char*, const char*> uploads[] = {
        {kVideoPath, "video"}, {kDataPath, "data"}, {kTilePath, "tile"}};
    for (const auto& [path, kind] : uploads) {
        std::string k = kind;
        server->Post(path, [this, k](const httplib::Request& req, httplib::Response& res,
                                     const httplib::ContentReader& reader) {
            handleUpload(k, req, res, reader);
        });
    }
    for (const char* path : {kVerifyPath, kVideoPath, kDataPath, kTilePath}) {
        auto refuse = [this](const httplib::Request& req, httplib::Response& res) {
            log.write("%s %s: method not allowed", CollectorNames::printable(req.method).c_str(),
                      CollectorNames::printable(req.path).c_str());
            res.set_header("Allow", "POST");
            answerError(res, 405, "method " + req.method + " is not allowed, use POST");
        };
        server->Get(path, refuse);
        server->Put(path, refuse);
        server->Delete(path, refuse);
        server->Patch(path, refuse);
    }
    server->set_error_handler(httplib::Server::HandlerWithResponse(
        [this](const httplib::Request& req, httplib::Response& res) {
            if (!res.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
            if (res.status == 404) {
                log.write("%s %s: no such service", CollectorNames::printable(req.method).c_str(),
                          CollectorNames::printable(req.path).c_str());
                answerError(res, 404, "no such service: " + req.path);
            } else {
                log.write("%s %s: refused with status %d",
                          CollectorNames::printable(req.method).c_str(),
                          CollectorNames::printable(req.path).c_str(), res.status);
                answerError(res, res.status,
                            res.status == 400 ? "malformed HTTP request" : "request refused");
            }
            return httplib::Server::HandlerResponse::Handled;
        }));
    server->set_exception_handler(
        [this](const httplib::Request& req, httplib::Response& res, std::exception_ptr ep) {
            std::string what = "unknown error";
            try {
                if (ep) std::rethrow_exception(ep);
            } catch (const std::exception& e) {
                what = e.what();
            } catch (...) {
            }
            log.write("%s: internal error: %s", CollectorNames::printable(req.path).c_str(),
                      what.c_str());
            answerError(res, 500, "internal error");
        });
}

void CollectorServer::Impl::handleVerify(const httplib::Request& req, httplib::Response& res) {
    FaultInjector::Plan plan = faults.draw();
    delay(plan.delayMs, "verifyapp");
    if (applyFault(plan, req, res, "verifyapp")) return;

    static const char* const kFields[] = {"app_key",     "device_id", "device_os",
                                          "device_type", "platform",  "appname"};
    for (const char* field : kFields) {
        if (!req.has_param(field)) {
            log.write("verifyapp: refused, missing form field \"%s\"", field);
            answerError(res, 400, std::string("missing form field \"") + field + "\"");
            return;
        }
    }
    VerificationFields fields{req.get_param_value("app_key"),   req.get_param_value("device_id"),
                              req.get_param_value("device_os"), req.get_param_value("device_type"),
                              req.get_param_value("platform"),  req.get_param_value("appname")};
    if (fields.deviceId.empty()) {
        log.write("verifyapp: refused, empty form field \"device_id\"");
        answerError(res, 400, "empty form field \"device_id\"");
        return;
    }
    if (plan.malformedVerify) {
        log.write("verifyapp: injected malformed answer");
        res.status = 200;
        res.set_content("{\"verify_status\": true, \"app_device_id\": \"", "application/json");
        return;
    }
    auto app = apps.find(fields.appKey);
    if (app == apps.end()) {
        log.write("verifyapp: unknown application key \"%s\" from device %s",
                  CollectorNames::printable(fields.appKey).c_str(),
                  CollectorNames::printable(fields.deviceId).c_str());
        answer(res, 200,
               json{{"verify_status", false},
                    {"app_device_id", ""},
                    {"latest_run", 0},
                    {"video_record", false},
                    {"settings", json::object()}});
        return;
    }
    std::string error;
    auto verified = index.recordVerification(
        fields, CollectorNames::appDeviceId(fields.appKey, fields.deviceId), error);
    if (!verified) {
        log.write("verifyapp: %s", error.c_str());
        answerError(res, 500, "the collector cannot record the installation");
        return;
    }
    // The answer carries a 32-bit run number.
    int64_t latest = std::min<int64_t>(verified->latestRun, 0x7fffffff);
    log.write(
        "verifyapp: application \"%s\" verified for device %s: app_device_id %s, latest run %lld",
        CollectorNames::printable(app->second.name).c_str(),
        CollectorNames::printable(fields.deviceId).c_str(), verified->appDeviceId.c_str(),
        static_cast<long long>(latest));
    answer(res, 200,
           json{{"verify_status", true},
                {"app_device_id", verified->appDeviceId},
                {"latest_run", latest},
                {"video_record", app->second.videoRecord},
                {"settings", app->second.settings}});
}

std::string CollectorServer::Impl::checkFields(const std::string& kind,
                                               const UploadReceiver& receiver) const {
    const auto& fields = receiver.fields();
    auto missing = [&](std::initializer_list<const char*> names) -> std::string {
        for (const char* name : names) {
            if (!fields.count(name)) return std::string("missing form field \"") + name + "\"";
        }
        return {};
    };
    std::string problem;
    if (kind == "screen") {
        problem = missing({"app_device_id", "video_type", "sv_duration"});
    } else if (kind == "camera") {
        problem = missing({"app_device_id", "video_type", "cv_duration", "orientation"});
    } else if (kind == "tile") {
        problem = missing({"app_device_id", "orientation", "activity_name", "key", "total_rows",
                           "total_columns", "gridImg_width", "gridImg_height", "dist_x", "dist_y"});
    }
    if (!problem.empty()) return problem;
    if (!receiver.hasFile()) return "missing file part \"file\"";
    return {};
}

void CollectorServer::Impl::handleUpload(const std::string& route, const httplib::Request& req,
                                         httplib::Response& res,
                                         const httplib::ContentReader& reader) {
    const std::string what = route == "video"  ? "uploadvideo"
                             : route == "data" ? "uploaddata"
                                               : "uploadheatcordsweb";
    FaultInjector::Plan plan = faults.draw();
    if (!req.is_multipart_form_data()) {
        // The body is drained (within the size limit) so the connection stays usable.
        uint64_t drained = 0;
        bool complete = reader([&drained](const char*, size_t length) {
            drained += length;
            return true;
        });
        log.write(
            "%s: refused, the body is not multipart/form-data (Content-Type \"%s\", %llu bytes)",
            what.c_str(), CollectorNames::printable(req.get_header_value("Content-Type")).c_str(),
            static_cast<unsigned long long>(drained));
        if (!complete) res.set_header("Connection", "close");
        answerError(res, complete ? 415 : (res.status == 413 ? 413 : 400),
                    "the body must be multipart/form-data");
        return;
    }

    UploadReceiver receiver(tempDir, plan.outcome == FaultInjector::Outcome::None);
    // An injected reset of an upload cuts the connection in the middle of the body: as the
    // file part begins to arrive.
    bool resetMidBody = false;
    bool complete = reader(
        [&](const httplib::MultipartFormData& part) {
            if (plan.outcome == FaultInjector::Outcome::Reset && part.name == "file" &&
                resetConnection(req)) {
                resetMidBody = true;
                return false;
            }
            return receiver.onPartHeader(part.name, part.filename, part.content_type);
        },
        [&receiver](const char* data, size_t length) { return receiver.onPartData(data, length); });
    receiver.finish();
    if (resetMidBody) {
        receiver.discard();
        log.write("%s: injected connection reset in the middle of the body", what.c_str());
        res.set_header("Connection", "close");
        answerError(res, 500, "injected connection reset");
        return;
    }
    if (!complete) {
        // Nothing of a broken transfer stays behind once its refusal is in the log.
        receiver.discard();
        res.set_header("Connection", "close");
        if (res.status == 413) {
            log.write("%s: refused, the body is larger than %llu bytes", what.c_str(),
                      static_cast<unsigned long long>(config.maxBodyBytes));
            answerError(res, 413,
                        "the body is larger than the limit of " +
                            std::to_string(config.maxBodyBytes) + " bytes");
        } else {
            log.write("%s: refused, malformed or incomplete multipart body (%llu bytes read)",
                      what.c_str(), static_cast<unsigned long long>(receiver.bodyBytes()));
            answerError(res, 400, "malformed or incomplete multipart body");
        }
        return;
    }
    // A delayed answer is held back once the whole body was read and the upload handled (and
    // stored): a client that gives up waiting has lost the answer of a file that arrived, and
    // sends it again later, which the index tells as a duplicate.
    struct HeldAnswer {
        Impl& impl;
        int ms;
        const std::string& what;
        const UploadReceiver& receiver;
        ~HeldAnswer() { impl.delay(ms, what.c_str(), receiver.fileName()); }
    } held{*this, plan.outcome == FaultInjector::Outcome::None ? plan.delayMs : 0, what, receiver};
    if (plan.outcome != FaultInjector::Outcome::None) delay(plan.delayMs, what.c_str());
    if (applyFault(plan, req, res, what.c_str())) return;
    if (faults.refuses(receiver.fileName())) {
        log.write("%s: injected refusal of %s, answered 400", what.c_str(),
                  CollectorNames::printable(receiver.fileName()).c_str());
        answerError(res, 400, "injected refusal");
        return;
    }
    if (receiver.failed()) {
        log.write("%s: refused, %s", what.c_str(),
                  CollectorNames::printable(receiver.error()).c_str());
        answerError(res, receiver.errorStatus(), receiver.error());
        return;
    }

    std::string kind = route;
    if (route == "video") {
        auto type = receiver.fields().find("video_type");
        if (type == receiver.fields().end()) {
            log.write("%s: refused, missing form field \"video_type\"", what.c_str());
            answerError(res, 400, "missing form field \"video_type\"");
            return;
        }
        if (type->second != "screen" && type->second != "camera") {
            log.write("%s: refused, unknown video_type \"%s\"", what.c_str(),
                      CollectorNames::printable(type->second).c_str());
            answerError(res, 400, "video_type must be \"screen\" or \"camera\"");
            return;
        }
        kind = type->second;
    }
    std::string problem = checkFields(kind, receiver);
    if (!problem.empty()) {
        log.write("%s: refused, %s", what.c_str(), CollectorNames::printable(problem).c_str());
        answerError(res, 400, problem);
        return;
    }

    UploadRecord record;
    record.kind = kind;
    record.fileName = receiver.fileName();
    record.size = receiver.fileSize();
    record.receivedAt = CollectorNames::utcNow();
    int64_t run = -1;
    if (kind == "data") {
        // A session document names its installation inside ("apd") and its run number ("dr").
        json document;
        if (receiver.fileSize() <= kMaxDocumentBytes) {
            std::ifstream in(receiver.tempPath(), std::ios::binary);
            document = json::parse(in, nullptr, false);
        }
        if (document.is_discarded() || !document.is_object()) {
            log.write("%s: refused, %s is not a JSON session document", what.c_str(),
                      CollectorNames::printable(record.fileName).c_str());
            answerError(res, 400, "the file is not a JSON session document");
            return;
        }
        if (document.contains("apd") && document["apd"].is_string()) {
            record.appDeviceId = document["apd"].get<std::string>();
        } else if (document.contains("apd") && document["apd"].is_number()) {
            record.appDeviceId = dumpJson(document["apd"]);
        }
        if (document.contains("dr")) {
            const json& dr = document["dr"];
            if (dr.is_number_integer()) {
                run = dr.get<int64_t>();
            } else if (dr.is_string()) {
                try {
                    run = std::stoll(dr.get<std::string>());
                } catch (...) {
                    run = -1;
                }
            }
        }
        record.fields = json{{"apd", record.appDeviceId}, {"dr", run}};
    } else {
        record.appDeviceId = receiver.fields().at("app_device_id");
        record.fields = json::object();
        for (const auto& [name, value] : receiver.fields())
            record.fields[name] = value;
    }

    std::string appFolder = "_unattributed";
    auto installation = index.installation(record.appDeviceId);
    if (installation) {
        auto folder = appFolders.find(installation->appKey);
        if (folder != appFolders.end()) {
            appFolder = folder->second;
        } else if (auto known = index.application(installation->appKey)) {
            appFolder = known->folder;
        }
    }
    record.path =
        (fs::path("apps") / appFolder /
         CollectorNames::folderName(record.appDeviceId.empty() ? "_none" : record.appDeviceId) /
         kindFolder(kind) / record.fileName)
            .string();
    std::string error;
    CollectorIndex::Commit outcome =
        index.commitUpload(record, receiver.tempPath(), config.dataDir, error);
    switch (outcome) {
        case CollectorIndex::Commit::Stored:
            receiver.releaseTempFile();
            if (installation && run >= 0) index.noteRun(record.appDeviceId, run);
            log.write("%s: stored %s (%llu bytes) as %s", what.c_str(),
                      CollectorNames::printable(record.fileName).c_str(),
                      static_cast<unsigned long long>(record.size), record.path.c_str());
            answer(res, 200, json{{"status", "stored"}, {"file", record.fileName}});
            return;
        case CollectorIndex::Commit::Duplicate:
            log.write("%s: %s was already stored for %s, kept the earlier copy", what.c_str(),
                      CollectorNames::printable(record.fileName).c_str(),
                      CollectorNames::printable(record.appDeviceId).c_str());
            answer(res, 200, json{{"status", "duplicate"}, {"file", record.fileName}});
            return;
        case CollectorIndex::Commit::Failed:
            log.write("%s: cannot store %s: %s", what.c_str(),
                      CollectorNames::printable(record.fileName).c_str(), error.c_str());
            answerError(res, 500, "the collector cannot store the upload");
            return;
    }
}

}  // namespace rivlo::collector
