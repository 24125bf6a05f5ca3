// Raw bytes sent to the reference collector as one HTTP exchange over loopback: request lines,
// headers, form bodies and multipart uploads that may be anything. The collector must answer
// or close, keep serving, and keep nothing of what it refused in its temporary folder.

#include "FuzzInput.h"

#include "CollectorServer.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstdlib>
#include <filesystem>
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
bool exchange(const std::string& bytes, std::string& answer, int idleMs) {
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
        const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;  // the collector may answer and close before reading everything
        sent += static_cast<size_t>(n);
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

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char folder[] = "/tmp/rivlo-fuzz-collector-XXXXXX";
    if (!mkdtemp(folder)) std::abort();
    dataDir = folder;
    CollectorConfig config;
    config.dataDir = dataDir;
    config.maxBodyBytes = 1 << 20;
    config.threads = 2;
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
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string answer;
    FUZZ_CHECK(exchange(std::string(reinterpret_cast<const char*>(data), size), answer, 150));
    // Still serving: a well-formed verification is answered.
    std::string check;
    const std::string body =
        "app_key=fuzz-key&device_id=D&device_os=1&device_type=t&platform=ios&appname=a";
    FUZZ_CHECK(
        exchange("POST /webservices/v2/verifyapp HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                 "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                     std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body,
                 check, 10000));
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
    return 0;
}
