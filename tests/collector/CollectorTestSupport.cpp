#include "CollectorTestSupport.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "PostgresDatabase.h"

#include <curl/curl.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace rivlo::collector::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "rivlo-collector-test-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (::mkdtemp(buffer.data()) == nullptr) std::abort();
    path_ = buffer.data();
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

std::vector<std::string> listFiles(const std::string& root) {
    std::vector<std::string> out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec);
         it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_regular_file()) out.push_back(fs::relative(it->path(), root).string());
    }
    std::sort(out.begin(), out.end());
    return out;
}

nlohmann::json HttpResult::json() const {
    return nlohmann::json::parse(body, nullptr, false);
}

namespace {

struct CurlGlobal {
    CurlGlobal() { curl_global_init(CURL_GLOBAL_ALL); }
};

size_t collectBody(char* data, size_t size, size_t count, void* target) {
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

HttpResult perform(CURL* curl, const std::string& caFile, long timeoutSeconds = 120) {
    static CurlGlobal global;
    HttpResult result;
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collectBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &result.body);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, timeoutSeconds);
    if (!caFile.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, caFile.c_str());
    result.curlCode = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &result.status);
    char* type = nullptr;
    curl_easy_getinfo(curl, CURLINFO_CONTENT_TYPE, &type);
    if (type) result.contentType = type;
    return result;
}

}  // namespace

namespace {

HttpResult formOn(CURL* curl, const std::string& url,
                  const std::vector<std::pair<std::string, std::string>>& fields,
                  const std::string& caFile, long timeoutSeconds = 120) {
    std::string body;
    for (const auto& [name, value] : fields) {
        char* n = curl_easy_escape(curl, name.c_str(), static_cast<int>(name.size()));
        char* v = curl_easy_escape(curl, value.c_str(), static_cast<int>(value.size()));
        body += (body.empty() ? "" : "&") + std::string(n) + "=" + v;
        curl_free(n);
        curl_free(v);
    }
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_MIMEPOST, nullptr);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    return perform(curl, caFile, timeoutSeconds);
}

HttpResult multipartOn(CURL* curl, const std::string& url,
                       const std::vector<std::pair<std::string, std::string>>& fields,
                       const std::vector<FilePart>& files, const std::string& caFile) {
    curl_mime* mime = curl_mime_init(curl);
    for (const auto& [name, value] : fields) {
        curl_mimepart* part = curl_mime_addpart(mime);
        curl_mime_name(part, name.c_str());
        curl_mime_data(part, value.data(), value.size());
    }
    for (const FilePart& file : files) {
        curl_mimepart* part = curl_mime_addpart(mime);
        curl_mime_name(part, file.name.c_str());
        curl_mime_filedata(part, file.path.c_str());
        if (!file.fileName.empty()) curl_mime_filename(part, file.fileName.c_str());
    }
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_MIMEPOST, mime);
    HttpResult result = perform(curl, caFile);
    curl_easy_setopt(curl, CURLOPT_MIMEPOST, nullptr);
    curl_mime_free(mime);
    return result;
}

}  // namespace

HttpResult postForm(const std::string& url,
                    const std::vector<std::pair<std::string, std::string>>& fields,
                    const std::string& caFile, long timeoutSeconds) {
    static CurlGlobal global;
    CURL* curl = curl_easy_init();
    HttpResult result = formOn(curl, url, fields, caFile, timeoutSeconds);
    curl_easy_cleanup(curl);
    return result;
}

HttpResult postMultipart(const std::string& url,
                         const std::vector<std::pair<std::string, std::string>>& fields,
                         const std::vector<FilePart>& files, const std::string& caFile) {
    static CurlGlobal global;
    CURL* curl = curl_easy_init();
    HttpResult result = multipartOn(curl, url, fields, files, caFile);
    curl_easy_cleanup(curl);
    return result;
}

RawConnection::RawConnection(int port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd_ >= 0 && ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

RawConnection::~RawConnection() {
    if (fd_ >= 0) ::close(fd_);
}

bool RawConnection::send(const std::string& bytes) {
    size_t sent = 0;
    while (fd_ >= 0 && sent < bytes.size()) {
        const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return fd_ >= 0;
}

std::string RawConnection::receive(std::chrono::milliseconds wait) {
    std::string out;
    const auto deadline = std::chrono::steady_clock::now() + wait;
    char buffer[4096];
    while (fd_ >= 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        out.append(buffer, static_cast<size_t>(n));
    }
    return out;
}

bool RawConnection::closedWithin(std::chrono::milliseconds wait) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    char buffer[4096];
    while (fd_ >= 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
        if (::recv(fd_, buffer, sizeof buffer, 0) <= 0) return true;
    }
    return true;
}

CurlConnection::CurlConnection() {
    static CurlGlobal global;
    curl_ = curl_easy_init();
}

CurlConnection::~CurlConnection() {
    curl_easy_cleanup(static_cast<CURL*>(curl_));
}

HttpResult CurlConnection::postForm(
    const std::string& url, const std::vector<std::pair<std::string, std::string>>& fields) {
    HttpResult result = formOn(static_cast<CURL*>(curl_), url, fields, {});
    long opened = 0;
    curl_easy_getinfo(static_cast<CURL*>(curl_), CURLINFO_NUM_CONNECTS, &opened);
    connections_ += opened;
    return result;
}

HttpResult CurlConnection::postMultipart(
    const std::string& url, const std::vector<std::pair<std::string, std::string>>& fields,
    const std::vector<FilePart>& files) {
    HttpResult result = multipartOn(static_cast<CURL*>(curl_), url, fields, files, {});
    long opened = 0;
    curl_easy_getinfo(static_cast<CURL*>(curl_), CURLINFO_NUM_CONNECTS, &opened);
    connections_ += opened;
    return result;
}

HttpResult sendRaw(const std::string& method, const std::string& url, const std::string& body,
                   const std::string& contentType) {
    static CurlGlobal global;
    CURL* curl = curl_easy_init();
    curl_slist* headers = nullptr;
    headers = curl_slist_append(headers, ("Content-Type: " + contentType).c_str());
    headers = curl_slist_append(headers, "Expect:");
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    if (method == "GET") {
        curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    } else {
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    }
    HttpResult result = perform(curl, {});
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    return result;
}

namespace {

std::string postgresAdminUrl() {
    const char* file = std::getenv("RIVLO_COLLECTOR_TEST_POSTGRES");
    if (!file || !*file) return {};
    std::string url = readFile(file);
    while (!url.empty() && (url.back() == '\n' || url.back() == ' '))
        url.pop_back();
    if (url.empty()) {
        std::fprintf(stderr, "the PostgreSQL test cluster's URL file %s is empty\n", file);
        std::abort();
    }
    return url;
}

}  // namespace

bool usingPostgres() {
    static const bool on = !postgresAdminUrl().empty();
    return on;
}

std::string databaseFor(const std::string& dataDir) {
    if (!usingPostgres()) return {};
    static std::mutex mutex;
    static std::map<std::string, std::string> made;
    static int counter = 0;
    std::lock_guard<std::mutex> lock(mutex);
    auto known = made.find(dataDir);
    if (known != made.end()) return known->second;
    const std::string admin = postgresAdminUrl();
    const std::string name =
        "rivlo_" + std::to_string(::getpid()) + "_" + std::to_string(++counter);
    PostgresDatabase db;
    std::string error;
    if (!db.open(admin, error) || !db.script("CREATE DATABASE " + name, error)) {
        std::fprintf(stderr, "cannot make a test database: %s\n", error.c_str());
        std::abort();
    }
    // The admin URL ends with the maintenance database's name: the new one takes its place.
    const std::string url = admin.substr(0, admin.rfind('/') + 1) + name;
    made[dataDir] = url;
    return url;
}

std::unique_ptr<CollectorIndex> openIndex(const std::string& dataDir) {
    auto index = std::make_unique<CollectorIndex>();
    std::string url = databaseFor(dataDir);
    if (url.empty()) url = CollectorIndex::defaultUrl(dataDir);
    std::string error;
    if (!index->open(url, true, error)) return nullptr;
    return index;
}

std::vector<UploadRecord> storedUploads(const std::string& dataDir) {
    auto index = openIndex(dataDir);
    return index ? index->uploads() : std::vector<UploadRecord>();
}

std::vector<std::string> databaseArguments(const std::string& dataDir) {
    const std::string url = databaseFor(dataDir);
    if (url.empty()) return {};
    return {"--database", url};
}

CollectorLog::Sink LogCapture::sink() {
    return [this](const std::string& line) {
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.push_back(line);
    };
}

std::vector<std::string> LogCapture::lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
}

size_t LogCapture::count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_.size();
}

size_t LogCapture::countContaining(const std::string& text) const {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t n = 0;
    for (const std::string& line : lines_)
        n += line.find(text) != std::string::npos;
    return n;
}

bool runUntil(const std::function<bool()>& predicate, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!predicate()) {
        if (std::chrono::steady_clock::now() >= deadline) return predicate();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

std::vector<std::pair<std::string, std::string>> verifyFields(const std::string& appKey,
                                                              const std::string& deviceId) {
    return {{"app_key", appKey},          {"device_id", deviceId}, {"device_os", "7.1"},
            {"device_type", "iPhone 5s"}, {"platform", "ios"},     {"appname", "Test App"}};
}

InProcessCollector::InProcessCollector(const std::string& dataDir,
                                       const std::function<void(CollectorConfig&)>& adjust) {
    CollectorConfig config;
    config.dataDir = dataDir;
    CollectorApp app;
    app.key = "test-key";
    app.name = "Test App";
    config.apps.push_back(app);
    config.logSink = log_.sink();
    config.databaseUrl = databaseFor(dataDir);
    if (adjust) adjust(config);
    server_ = std::make_unique<CollectorServer>(config);
}

InProcessCollector::~InProcessCollector() {
    stop();
}

bool InProcessCollector::start() {
    return server_->start(error_);
}

void InProcessCollector::stop() {
    server_->stop();
}

nlohmann::json InProcessCollector::verify(const std::string& deviceId, const std::string& appKey) {
    return postForm(url("/webservices/v2/verifyapp"), verifyFields(appKey, deviceId)).json();
}

CollectorProcess::~CollectorProcess() {
    if (pid_ > 0) stop();
}

bool CollectorProcess::start(const std::vector<std::string>& arguments,
                             const std::string& urlFile) {
    std::vector<std::string> all = {RIVLO_COLLECTOR_EXECUTABLE, "serve", "--url-file", urlFile};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        pid_ = -1;
        return false;
    }
    bool ready = runUntil([&] {
        std::string text = readFile(urlFile);
        if (text.empty() || text.back() != '\n') return false;
        url_ = text.substr(0, text.size() - 1);
        return true;
    });
    return ready;
}

int CollectorProcess::stop() {
    if (pid_ <= 0) return -1;
    ::kill(pid_, SIGTERM);
    int status = 0;
    bool exited = runUntil([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; },
                           std::chrono::seconds(20));
    if (!exited) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return -1;
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

long CollectorProcess::peakResidentKiB() const {
    std::ifstream in("/proc/" + std::to_string(pid_) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    }
    return 0;
}

std::pair<int, std::string> runCollectorCommand(const std::vector<std::string>& arguments) {
    std::string command = RIVLO_COLLECTOR_EXECUTABLE;
    for (const std::string& a : arguments)
        command += " '" + a + "'";
    command += " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return {-1, {}};
    std::string out;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.append(buffer, n);
    int status = ::pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

}  // namespace rivlo::collector::test
