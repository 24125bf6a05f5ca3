#include "CollectorServer.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

#include "CollectorJson.h"
#include "CollectorNames.h"
#include "CollectorSessions.h"
#include "FaultInjector.h"
#include "HttpServer.h"
#include "SessionFacts.h"
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

std::string kindFolder(const std::string& kind) {
    return kind == "tile" ? "tiles" : kind;
}

int64_t unixNow() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// An upload's receiver with the faults drawn for its request.
class FaultedUpload : public UploadReceiver {
  public:
    FaultedUpload(const std::string& tempDir, const std::string& boundary, FaultInjector::Plan plan,
                  const CollectorLog& log, std::string what)
        : UploadReceiver(tempDir, plan.outcome == FaultInjector::Outcome::None, boundary),
          plan(plan),
          log_(log),
          what_(std::move(what)) {
        // An injected reset cuts the connection in the middle of the body: as the file part
        // begins to arrive.
        if (plan.outcome == FaultInjector::Outcome::Reset) resetAtFilePart();
    }
    void finish(bool complete) override {
        if (!complete && resetRequested()) {
            log_.write("%s: injected connection reset in the middle of the body", what_.c_str());
        }
        UploadReceiver::finish(complete);
    }

    const FaultInjector::Plan plan;

  private:
    const CollectorLog& log_;
    std::string what_;
};

}  // namespace

struct CollectorServer::Impl {
    explicit Impl(CollectorConfig c)
        : config(std::move(c)), log(config.logSink), faults(config.faults) {}

    CollectorConfig config;
    CollectorLog log;
    FaultInjector faults;
    CollectorIndex index;
    std::unique_ptr<CollectorStore> store;
    std::map<std::string, CollectorApp> apps;  // by key; read-only while serving
    std::map<std::string, std::string> appFolders;
    std::string tempDir;
    std::vector<HttpRoute> extraRoutes;

    std::unique_ptr<HttpServer> http;
    std::atomic<bool> running{false};
    std::atomic<int> boundPort{0};

    std::thread retention;
    std::mutex retentionMutex;
    std::condition_variable retentionWake;
    bool retentionStop = false;

    bool prepare(std::string& error);
    HttpRouter routes();
    HttpResponse handleVerify(HttpRequest& request);
    std::unique_ptr<HttpBodySink> openUpload(const std::string& what, const HttpRequest& request,
                                             HttpResponse& refusal);
    HttpResponse handleUpload(const std::string& route, HttpRequest& request);
    // Checks the fields of one upload kind; returns an error text or "".
    std::string checkFields(const std::string& kind, const UploadReceiver& receiver) const;
    std::map<std::string, int> retentionDays() const;
    void retentionLoop();
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
    const std::string url = config.databaseUrl.empty() ? CollectorIndex::defaultUrl(config.dataDir)
                                                       : config.databaseUrl;
    if (!index.open(url, false, error)) return false;
    for (const CollectorApp& app : config.apps) {
        std::string folder = CollectorNames::readableFolderName(app.name) + "-" +
                             CollectorNames::sha256Hex(app.key).substr(0, 8);
        // An application keeps the folder it was first given, also when renamed later.
        if (auto known = index.application(app.key)) folder = known->folder;
        if (!index.registerApplication({app.key, app.name, folder, 0}, error)) return false;
        apps[app.key] = app;
        appFolders[app.key] = folder;
    }
    store = std::make_unique<CollectorStore>(config.dataDir, index, log);
    // An index brought up from the previous layout: its sessions' details from their documents.
    return store->completeSessionDetails(error);
}

bool CollectorServer::start(std::string& error) {
    Impl& d = *impl_;
    if (d.running) return true;
    if (!d.prepare(error)) {
        d.index.close();
        return false;
    }
    HttpLimits limits = d.config.limits;
    limits.workerThreads = static_cast<size_t>(d.config.threads);
    const CollectorLog* log = &d.log;
    d.http = std::make_unique<HttpServer>(limits, d.routes(),
                                          [log](const std::string& line) { log->line(line); });
    if (!d.http->listen(d.config.host, d.config.port, d.config.certFile, d.config.keyFile, error)) {
        d.http.reset();
        d.index.close();
        return false;
    }
    d.boundPort = d.http->port();
    d.http->start();
    d.running = true;
    {
        std::lock_guard<std::mutex> lock(d.retentionMutex);
        d.retentionStop = false;
    }
    d.retention = std::thread([&d] { d.retentionLoop(); });
    d.log.write("serving %s on %s (data folder %s, index %s)%s",
                d.config.usesTls() ? "HTTPS" : "HTTP", url().c_str(), d.config.dataDir.c_str(),
                d.index.engine(), d.faults.enabled() ? ", fault injection on" : "");
    return true;
}

void CollectorServer::stop() {
    Impl& d = *impl_;
    if (!d.running.exchange(false)) return;
    {
        std::lock_guard<std::mutex> lock(d.retentionMutex);
        d.retentionStop = true;
    }
    d.retentionWake.notify_all();
    if (d.retention.joinable()) d.retention.join();
    d.http->stop();
    d.http.reset();
    d.store.reset();
    d.index.close();
    d.log.write("stopped serving on port %d", d.boundPort.load());
}

bool CollectorServer::running() const {
    return impl_->running;
}

int CollectorServer::port() const {
    return impl_->boundPort;
}

size_t CollectorServer::openConnections() const {
    return impl_->http ? impl_->http->openConnections() : 0;
}

std::string CollectorServer::url() const {
    const Impl& d = *impl_;
    std::string host = d.config.host;
    if (host == "0.0.0.0" || host.empty()) host = "127.0.0.1";
    if (host.find(':') != std::string::npos) host = "[" + host + "]";
    return std::string(d.config.usesTls() ? "https://" : "http://") + host + ":" +
           std::to_string(d.boundPort.load());
}

CollectorIndex& CollectorServer::index() {
    return impl_->index;
}

bool CollectorServer::deleteInstallation(const std::string& appDeviceId, std::string& error) {
    if (!impl_->store) {
        error = "the collector is not running";
        return false;
    }
    return impl_->store->deleteInstallation(appDeviceId, error).has_value();
}

size_t CollectorServer::runRetention(int64_t nowUnix) {
    if (!impl_->store) return 0;
    return impl_->store->expire(impl_->retentionDays(), nowUnix).files;
}

void CollectorServer::addRoute(HttpRoute route) {
    impl_->extraRoutes.push_back(std::move(route));
}

std::map<std::string, int> CollectorServer::Impl::retentionDays() const {
    std::map<std::string, int> days;
    for (const auto& [key, app] : apps)
        days[key] = app.retentionDays;
    return days;
}

void CollectorServer::Impl::retentionLoop() {
    std::unique_lock<std::mutex> lock(retentionMutex);
    for (;;) {
        if (retentionStop) return;
        lock.unlock();
        store->expire(retentionDays(), unixNow());
        lock.lock();
        retentionWake.wait_for(lock, std::chrono::seconds(config.retentionIntervalSeconds),
                               [this] { return retentionStop; });
    }
}

HttpRouter CollectorServer::Impl::routes() {
    HttpRouter router;
    HttpRoute verify;
    verify.method = "POST";
    verify.pattern = kVerifyPath;
    verify.label = "verifyapp";
    verify.maxBodyBytes = config.maxVerifyBodyBytes;
    verify.handle = [this](HttpRequest& request) { return handleVerify(request); };
    router.add(verify);
    const std::pair<const char*, const char*> uploads[] = {
        {kVideoPath, "video"}, {kDataPath, "data"}, {kTilePath, "tile"}};
    for (const auto& [path, kind] : uploads) {
        const std::string route = kind;
        const std::string what = route == "video"  ? "uploadvideo"
                                 : route == "data" ? "uploaddata"
                                                   : "uploadheatcordsweb";
        HttpRoute upload;
        upload.method = "POST";
        upload.pattern = path;
        upload.label = what;
        upload.maxBodyBytes = config.maxBodyBytes;
        upload.openBody = [this, what](const HttpRequest& request, HttpResponse& refusal) {
            return openUpload(what, request, refusal);
        };
        upload.handle = [this, route](HttpRequest& request) {
            return handleUpload(route, request);
        };
        router.add(upload);
    }
    for (HttpRoute& extra : extraRoutes)
        router.add(extra);
    return router;
}

HttpResponse CollectorServer::Impl::handleVerify(HttpRequest& request) {
    FaultInjector::Plan plan = faults.draw();
    HttpResponse held;
    held.delay = std::chrono::milliseconds(plan.delayMs);
    if (plan.delayMs > 0)
        log.write("verifyapp: injected delay, the answer is held back %d ms", plan.delayMs);
    if (plan.outcome == FaultInjector::Outcome::Fail) {
        log.write("verifyapp: injected failure, answered 500");
        HttpResponse response = HttpResponse::error(500, "injected failure");
        response.delay = held.delay;
        return response;
    }
    if (plan.outcome == FaultInjector::Outcome::Reset) {
        log.write("verifyapp: injected connection reset");
        HttpResponse response;
        response.reset = true;
        return response;
    }
    const std::string type = request.header("content-type");
    std::map<std::string, std::string> form =
        type.rfind("application/x-www-form-urlencoded", 0) == 0
            ? HttpRequest::formFields(request.body)
            : std::map<std::string, std::string>();
    for (const auto& [name, value] : HttpRequest::formFields(request.query))
        form.emplace(name, value);
    static const char* const kFields[] = {"app_key",     "device_id", "device_os",
                                          "device_type", "platform",  "appname"};
    for (const char* field : kFields) {
        if (!form.count(field)) {
            log.write("verifyapp: refused, missing form field \"%s\"", field);
            return HttpResponse::error(400, std::string("missing form field \"") + field + "\"");
        }
    }
    VerificationFields fields{form["app_key"],     form["device_id"], form["device_os"],
                              form["device_type"], form["platform"],  form["appname"]};
    if (fields.deviceId.empty()) {
        log.write("verifyapp: refused, empty form field \"device_id\"");
        return HttpResponse::error(400, "empty form field \"device_id\"");
    }
    if (plan.malformedVerify) {
        log.write("verifyapp: injected malformed answer");
        HttpResponse response;
        response.body = "{\"verify_status\": true, \"app_device_id\": \"";
        response.delay = held.delay;
        return response;
    }
    auto app = apps.find(fields.appKey);
    if (app == apps.end()) {
        log.write("verifyapp: unknown application key \"%s\" from device %s",
                  CollectorNames::printable(fields.appKey).c_str(),
                  CollectorNames::printable(fields.deviceId).c_str());
        HttpResponse response = HttpResponse::json(200, json{{"verify_status", false},
                                                             {"app_device_id", ""},
                                                             {"latest_run", 0},
                                                             {"video_record", false},
                                                             {"settings", json::object()}});
        response.delay = held.delay;
        return response;
    }
    CollectorIndex::Verified verified = index.recordVerification(
        fields, [] { return CollectorNames::newInstallationId(); }, app->second.maxInstallations);
    using Outcome = CollectorIndex::Verified::Outcome;
    if (verified.outcome == Outcome::OverQuota) {
        log.write("verifyapp: refused device %s: application \"%s\" has its %llu installations",
                  CollectorNames::printable(fields.deviceId).c_str(),
                  CollectorNames::printable(app->second.name).c_str(),
                  static_cast<unsigned long long>(app->second.maxInstallations));
        HttpResponse response =
            HttpResponse::error(429, "the application has as many installations as it may");
        response.headers.emplace("Retry-After", "3600");
        return response;
    }
    if (verified.outcome == Outcome::Failed) {
        log.write("verifyapp: cannot record the installation of device %s: %s",
                  CollectorNames::printable(fields.deviceId).c_str(), verified.note.c_str());
        HttpResponse response =
            HttpResponse::error(503, "the collector cannot record the installation");
        response.headers.emplace("Retry-After", "60");
        return response;
    }
    if (!verified.refreshed) {
        log.write("verifyapp: device %s answered without recording this verification: %s",
                  CollectorNames::printable(fields.deviceId).c_str(), verified.note.c_str());
    }
    // The answer carries a 32-bit run number.
    const int64_t latest = std::min<int64_t>(verified.latestRun, 0x7fffffff);
    log.write(
        "verifyapp: application \"%s\" verified for device %s: app_device_id %s%s, latest run "
        "%lld",
        CollectorNames::printable(app->second.name).c_str(),
        CollectorNames::printable(fields.deviceId).c_str(), verified.appDeviceId.c_str(),
        verified.outcome == Outcome::Created ? " (new)" : "", static_cast<long long>(latest));
    HttpResponse response = HttpResponse::json(200, json{{"verify_status", true},
                                                         {"app_device_id", verified.appDeviceId},
                                                         {"latest_run", latest},
                                                         {"video_record", app->second.videoRecord},
                                                         {"settings", app->second.settings}});
    response.delay = held.delay;
    return response;
}

std::unique_ptr<HttpBodySink> CollectorServer::Impl::openUpload(const std::string& what,
                                                                const HttpRequest& request,
                                                                HttpResponse& refusal) {
    const std::string type = request.header("content-type");
    const std::string boundary = MultipartParser::boundaryOf(type);
    if (boundary.empty()) {
        const bool multipart = type.find("multipart/form-data") != std::string::npos;
        log.write(
            "%s: refused, the body is not multipart/form-data with a boundary "
            "(Content-Type \"%s\")",
            what.c_str(), CollectorNames::printable(type).c_str());
        refusal = multipart ? HttpResponse::error(400, "malformed multipart body: no boundary")
                            : HttpResponse::error(415, "the body must be multipart/form-data");
        return nullptr;
    }
    return std::make_unique<FaultedUpload>(tempDir, boundary, faults.draw(), log, what);
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

HttpResponse CollectorServer::Impl::handleUpload(const std::string& route, HttpRequest& request) {
    const std::string what = route == "video"  ? "uploadvideo"
                             : route == "data" ? "uploaddata"
                                               : "uploadheatcordsweb";
    auto& receiver = static_cast<FaultedUpload&>(*request.sink);
    const FaultInjector::Plan plan = receiver.plan;
    if (!receiver.complete()) {
        receiver.discard();
        log.write("%s: refused, malformed or incomplete multipart body (%llu bytes read)",
                  what.c_str(), static_cast<unsigned long long>(receiver.receivedBytes()));
        return HttpResponse::error(400, "malformed or incomplete multipart body");
    }
    receiver.sync();
    const std::chrono::milliseconds delay(plan.delayMs);
    auto answer = [&](HttpResponse response) {
        response.delay = delay;
        return response;
    };
    if (plan.outcome == FaultInjector::Outcome::Fail) {
        if (delay.count() > 0) {
            log.write("%s: injected delay, the answer is held back %d ms", what.c_str(),
                      plan.delayMs);
        }
        log.write("%s: injected failure, answered 500", what.c_str());
        return answer(HttpResponse::error(500, "injected failure"));
    }
    if (plan.outcome == FaultInjector::Outcome::Reset) {  // a body without a file part
        log.write("%s: injected connection reset", what.c_str());
        HttpResponse response;
        response.reset = true;
        return response;
    }
    if (faults.refuses(receiver.fileName())) {
        log.write("%s: injected refusal of %s, answered 400", what.c_str(),
                  CollectorNames::printable(receiver.fileName()).c_str());
        return answer(HttpResponse::error(400, "injected refusal"));
    }
    if (receiver.failed()) {
        log.write("%s: refused, %s", what.c_str(),
                  CollectorNames::printable(receiver.error()).c_str());
        return HttpResponse::error(receiver.errorStatus(), receiver.error());
    }

    std::string kind = route;
    if (route == "video") {
        auto type = receiver.fields().find("video_type");
        if (type == receiver.fields().end()) {
            log.write("%s: refused, missing form field \"video_type\"", what.c_str());
            return HttpResponse::error(400, "missing form field \"video_type\"");
        }
        if (type->second != "screen" && type->second != "camera") {
            log.write("%s: refused, unknown video_type \"%s\"", what.c_str(),
                      CollectorNames::printable(type->second).c_str());
            return HttpResponse::error(400, "video_type must be \"screen\" or \"camera\"");
        }
        kind = type->second;
    }
    std::string problem = checkFields(kind, receiver);
    if (!problem.empty()) {
        log.write("%s: refused, %s", what.c_str(), CollectorNames::printable(problem).c_str());
        return HttpResponse::error(400, problem);
    }

    UploadRecord record;
    record.kind = kind;
    record.fileName = receiver.fileName();
    record.size = receiver.fileSize();
    record.receivedAt = CollectorNames::utcNow();
    record.receivedUnix = unixNow();
    int64_t run = -1;
    json document;
    if (kind == "data") {
        // A session document names its installation inside ("apd") and its run number ("dr").
        std::string why;
        document =
            CollectorJson::parseFile(receiver.tempPath(), CollectorJson::kMaxDocumentBytes, why);
        if (document.is_discarded() || !document.is_object()) {
            log.write("%s: refused, %s is not a JSON session document (it %s)", what.c_str(),
                      CollectorNames::printable(record.fileName).c_str(),
                      why.empty() ? "is not an object" : why.c_str());
            return HttpResponse::error(400, "the file is not a JSON session document");
        }
        if (document.contains("apd") && document["apd"].is_string()) {
            record.appDeviceId = document["apd"].get<std::string>();
        }
        if (document.contains("dr")) {
            const json& dr = document["dr"];
            if (dr.is_number_integer() || dr.is_string())
                run = CollectorSessions::integerOf(dr, -1);
        }
        record.fields = json{{"apd", record.appDeviceId}, {"dr", run}};
    } else {
        record.appDeviceId = receiver.fields().at("app_device_id");
        record.fields = json::object();
        for (const auto& [name, value] : receiver.fields())
            record.fields[name] = value;
    }

    // Only an identifier this collector issued at a verification opens its installation.
    const auto installation = index.installation(record.appDeviceId);
    if (!installation) {
        log.write("%s: refused %s: app_device_id \"%s\" was not issued by this collector",
                  what.c_str(), CollectorNames::printable(record.fileName).c_str(),
                  CollectorNames::printable(record.appDeviceId).c_str());
        return answer(HttpResponse::error(403, "unknown installation"));
    }
    record.appKey = installation->appKey;
    auto folder = appFolders.find(installation->appKey);
    std::string appFolder = folder != appFolders.end() ? folder->second : std::string();
    if (appFolder.empty()) {
        if (auto known = index.application(installation->appKey)) appFolder = known->folder;
    }
    record.path = (fs::path("apps") / appFolder / CollectorNames::folderName(record.appDeviceId) /
                   kindFolder(kind) / record.fileName)
                      .string();
    std::optional<SessionRecord> session;
    if (kind == "data") session = SessionFacts::of(document, record, run);
    StorageQuota quota;
    if (auto app = apps.find(installation->appKey); app != apps.end()) {
        quota.applicationBytes = app->second.quotaBytes;
        quota.installationBytes = app->second.installationQuotaBytes;
    }

    // An answer held back goes out once the upload is handled (and stored): a client that gives
    // up waiting has lost the answer of a file that arrived, and sends it again later.
    auto logHeldAnswer = [&] {
        if (delay.count() > 0) {
            log.write("%s: injected delay, the answer for %s is held back %d ms", what.c_str(),
                      CollectorNames::printable(record.fileName).c_str(), plan.delayMs);
        }
    };
    std::string error;
    const CollectorIndex::Commit outcome =
        store->store(record, session, quota, receiver.tempPath(), error);
    switch (outcome) {
        case CollectorIndex::Commit::Stored:
            receiver.releaseTempFile();
            if (run >= 0 && !index.noteRun(record.appDeviceId, run) &&
                run > installation->verifications) {
                log.write("%s: run %lld of %s is beyond its %lld verifications and not taken",
                          what.c_str(), static_cast<long long>(run), record.appDeviceId.c_str(),
                          static_cast<long long>(installation->verifications));
            }
            log.write("%s: stored %s (%llu bytes) as %s", what.c_str(),
                      CollectorNames::printable(record.fileName).c_str(),
                      static_cast<unsigned long long>(record.size), record.path.c_str());
            logHeldAnswer();
            return answer(
                HttpResponse::json(200, json{{"status", "stored"}, {"file", record.fileName}}));
        case CollectorIndex::Commit::Duplicate:
            log.write("%s: %s was already stored for %s, kept the earlier copy", what.c_str(),
                      CollectorNames::printable(record.fileName).c_str(),
                      CollectorNames::printable(record.appDeviceId).c_str());
            logHeldAnswer();
            return answer(
                HttpResponse::json(200, json{{"status", "duplicate"}, {"file", record.fileName}}));
        case CollectorIndex::Commit::OverQuota:
            log.write(
                "%s: refused %s (%llu bytes): the storage quota of installation %s or its "
                "application is used up",
                what.c_str(), CollectorNames::printable(record.fileName).c_str(),
                static_cast<unsigned long long>(record.size), record.appDeviceId.c_str());
            return HttpResponse::error(507, "the storage quota is used up");
        case CollectorIndex::Commit::DiskFull:
            log.write("%s: cannot store %s: the disk is full (%s)", what.c_str(),
                      CollectorNames::printable(record.fileName).c_str(), error.c_str());
            return HttpResponse::error(507, "the collector's disk is full");
        case CollectorIndex::Commit::Failed:
            break;
    }
    log.write("%s: cannot store %s: %s", what.c_str(),
              CollectorNames::printable(record.fileName).c_str(), error.c_str());
    return HttpResponse::error(500, "the collector cannot store the upload");
}

}  // namespace rivlo::collector
