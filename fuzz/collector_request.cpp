// Raw bytes sent to the reference collector as one HTTP exchange over loopback: request lines,
// headers, form bodies, chunked and compressed bodies and multipart uploads that may be
// anything. An input that begins with "SLOW\n" is sent in pieces of a few bytes with a pause
// between them (the collector's deadlines are short here). "APD-PLACEHOLDER-0123456789abcdef"
// in an input becomes the identifier the collector issued at start-up (as long as it, so
// declared lengths stay right), so uploads can be accepted. The
// collector must answer or close, keep serving, keep nothing of what it refused in its
// temporary folder, store nothing larger than its limit, and keep its index and its files one
// to one.

#include "FuzzInput.h"

#include "CollectorIndex.h"
#include "CollectorServer.h"

#include <arpa/inet.h>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <thread>
#include <unistd.h>

using namespace rivlo;
using namespace rivlo::collector;

namespace {

CollectorServer* server = nullptr;
std::string dataDir;
std::string issuedId;
constexpr uint64_t kBodyLimit = 64 * 1024;

// True once the first answer has arrived whole (its head and Content-Length bytes of body).
bool firstAnswerComplete(const std::string& answer) {
    const size_t head = answer.find("\r\n\r\n");
    if (head == std::string::npos) return false;
    const size_t at = answer.find("Content-Length: ");
    if (at == std::string::npos || at > head) return false;
    return answer.size() >= head + 4 + std::strtoull(answer.c_str() + at + 16, nullptr, 10);
}

// Sends the bytes on a fresh connection and reads until the collector closes it or stays silent
// for `idleMs` (a request it is still waiting to complete; the connection is then closed).
bool exchange(const std::string& bytes, std::string& answer, int idleMs, size_t piece = 0) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(server->port()));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval timeout{idleMs / 1000, (idleMs % 1000) * 1000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return false;
    }
    size_t sent = 0;
    while (sent < bytes.size()) {
        const size_t length =
            piece > 0 ? std::min(piece, bytes.size() - sent) : bytes.size() - sent;
        const ssize_t n = send(fd, bytes.data() + sent, length, MSG_NOSIGNAL);
        if (n <= 0) break;  // the collector may answer and close before reading everything
        sent += static_cast<size_t>(n);
        if (piece > 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    char buffer[4096];
    for (;;) {
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        answer.append(buffer, static_cast<size_t>(n));
        if (firstAnswerComplete(answer)) break;
    }
    close(fd);
    return true;
}

std::string verificationRequest() {
    const std::string body =
        "app_key=fuzz-key&device_id=D&device_os=1&device_type=t&platform=ios&appname=a";
    return "POST /webservices/v2/verifyapp HTTP/1.1\r\nHost: 127.0.0.1\r\n"
           "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

// What breaks "every row names a file of its recorded size within the limit, and every stored
// file has its row", or "" when nothing does.
std::string indexAgainstFiles() {
    CollectorIndex index;
    std::string error;
    if (!index.open(CollectorIndex::defaultUrl(dataDir), true, error)) return error;
    std::set<std::string> rows;
    for (const UploadRecord& upload : index.uploads()) {
        if (upload.size > kBodyLimit) return "an upload over the limit was stored: " + upload.path;
        std::error_code ec;
        if (std::filesystem::file_size(dataDir + "/" + upload.path, ec) != upload.size || ec)
            return "an index row names a missing or different file: " + upload.path;
        rows.insert(upload.path);
    }
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(dataDir + "/apps", ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (!it->is_regular_file()) continue;
        const std::string path = std::filesystem::relative(it->path(), dataDir).string();
        if (!rows.count(path)) return "a stored file has no index row: " + path;
    }
    return {};
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char folder[] = "/tmp/rivlo-fuzz-collector-XXXXXX";
    if (!mkdtemp(folder)) std::abort();
    dataDir = folder;
    CollectorConfig config;
    config.dataDir = dataDir;
    config.maxBodyBytes = kBodyLimit;
    config.threads = 2;
    // Short deadlines, so slow inputs meet them within an exchange.
    // Not much shorter: on a loaded machine the well-formed check request must still make it.
    config.limits.headerTimeout = std::chrono::milliseconds(1500);
    config.limits.bodyGrace = std::chrono::milliseconds(200);
    config.limits.minBytesPerSecond = 2048;
    config.limits.shutdownGrace = std::chrono::milliseconds(500);
    CollectorApp app;
    app.key = "fuzz-key";
    app.name = "Fuzz";
    config.apps.push_back(app);
    config.logSink = [](const std::string&) {};
    server = new CollectorServer(config);
    std::string error;
    if (!server->start(error)) {
        std::fprintf(stderr, "collector did not start: %s\n", error.c_str());
        std::abort();
    }
    std::string answer;
    exchange(verificationRequest(), answer, 10000);
    const size_t at = answer.find("\"app_device_id\":\"");
    if (at == std::string::npos) std::abort();
    issuedId = answer.substr(at + 17, 32);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::string placeholder = "APD-PLACEHOLDER-0123456789abcdef";
    for (size_t at = bytes.find(placeholder); at != std::string::npos;
         at = bytes.find(placeholder, at + issuedId.size())) {
        bytes.replace(at, placeholder.size(), issuedId);
    }
    size_t piece = 0;
    if (bytes.rfind("SLOW\n", 0) == 0 && bytes.size() > 5) {
        piece = 1 + static_cast<unsigned char>(bytes[5]) % 16;
        bytes = bytes.substr(6, 1500);
    }
    std::string answer;
    FUZZ_CHECK(exchange(bytes, answer, piece > 0 ? 600 : 150, piece));
    // Still serving: a well-formed verification is answered.
    std::string check;
    FUZZ_CHECK(exchange(verificationRequest(), check, 10000));
    if (check.rfind("HTTP/1.1 200", 0) != 0) std::fprintf(stderr, "answer: %s\n", check.c_str());
    FUZZ_CHECK(check.rfind("HTTP/1.1 200", 0) == 0);
    // Nothing received is left behind in the temporary folder once its exchange is over. The
    // collector sees a connection closed half-way only when its worker next reads from it, which
    // on a loaded machine may come after the check above was answered: give it a bounded while.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (;;) {
        std::error_code ec;
        if (std::filesystem::is_empty(dataDir + "/tmp", ec) || ec) break;
        FUZZ_CHECK(std::chrono::steady_clock::now() < deadline &&
                   "a refused or finished upload left a temporary file");
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    // A file moved into place is seen a moment before its row commits.
    const auto settled = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    std::string problem;
    while (!(problem = indexAgainstFiles()).empty() && std::chrono::steady_clock::now() < settled)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (!problem.empty()) std::fprintf(stderr, "%s\n", problem.c_str());
    FUZZ_CHECK(problem.empty());
    return 0;
}
