#pragma once

// Helpers of the collector suite: temporary folders, libcurl requests, captured log lines, an
// in-process collector and the collector as a child process.

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <sys/types.h>

#include <nlohmann/json.hpp>

#include "CollectorConfig.h"
#include "CollectorIndex.h"
#include "CollectorServer.h"

namespace rivlo::collector::test {

// A fresh folder under the system's temporary folder, removed with its content at the end.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);
// Every regular file below `root`, as paths relative to it.
std::vector<std::string> listFiles(const std::string& root);

struct HttpResult {
    int curlCode = 0;  // CURLE_OK or the transfer error
    long status = 0;
    std::string contentType;
    std::string body;
    nlohmann::json json() const;  // the body parsed, discarded when not JSON
};

// One multipart file part read from disk by libcurl while it sends (never loaded whole).
struct FilePart {
    std::string path;
    std::string fileName;  // empty: the last component of `path`
    std::string name = "file";
};

HttpResult postForm(const std::string& url,
                    const std::vector<std::pair<std::string, std::string>>& fields,
                    const std::string& caFile = {}, long timeoutSeconds = 120);
HttpResult postMultipart(const std::string& url,
                         const std::vector<std::pair<std::string, std::string>>& fields,
                         const std::vector<FilePart>& files, const std::string& caFile = {});
// A request with an exact body and Content-Type (empty: none).
HttpResult sendRaw(const std::string& method, const std::string& url, const std::string& body,
                   const std::string& contentType);

// A plain TCP connection to a loopback port, for requests no HTTP client would send: cut
// short, dripped byte by byte, declared larger than they are. One thread at a time.
class RawConnection {
  public:
    explicit RawConnection(int port);
    ~RawConnection();
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;

    bool connected() const { return fd_ >= 0; }
    // False once the peer has closed or reset the connection.
    bool send(const std::string& bytes);
    // What arrives within `wait` (less when the peer closes first).
    std::string receive(std::chrono::milliseconds wait);
    // True when the peer closes the connection within `wait`.
    bool closedWithin(std::chrono::milliseconds wait);

  private:
    int fd_ = -1;
};

// A client that keeps one libcurl handle, so consecutive requests reuse the connection when the
// server allows it. One thread at a time.
class CurlConnection {
  public:
    CurlConnection();
    ~CurlConnection();
    CurlConnection(const CurlConnection&) = delete;
    CurlConnection& operator=(const CurlConnection&) = delete;

    HttpResult postForm(const std::string& url,
                        const std::vector<std::pair<std::string, std::string>>& fields);
    HttpResult postMultipart(const std::string& url,
                             const std::vector<std::pair<std::string, std::string>>& fields,
                             const std::vector<FilePart>& files);
    // Connections opened so far (1 when every request reused the first).
    long connectionsOpened() const { return connections_; }

  private:
    void* curl_;
    long connections_ = 0;
};

// Log lines of one collector, collected from its request threads.
class LogCapture {
  public:
    CollectorLog::Sink sink();
    std::vector<std::string> lines() const;
    size_t count() const;
    // Lines containing `text`.
    size_t countContaining(const std::string& text) const;

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

// The index of a collector's data folder for this run of the suite: the SQLite file in the
// folder, or, when the suite runs against PostgreSQL (RIVLO_COLLECTOR_TEST_POSTGRES names a
// file holding the throwaway cluster's URL), a fresh database of that cluster made for the
// folder on first use. "" means the collector's default.
std::string databaseFor(const std::string& dataDir);
bool usingPostgres();
// The index of a data folder, opened read-only.
std::unique_ptr<CollectorIndex> openIndex(const std::string& dataDir);
std::vector<UploadRecord> storedUploads(const std::string& dataDir);
// "--database URL" for the executable, or nothing.
std::vector<std::string> databaseArguments(const std::string& dataDir);

// Repeats `predicate` until it holds or `timeout` passes; returns its last value.
bool runUntil(const std::function<bool()>& predicate,
              std::chrono::milliseconds timeout = std::chrono::seconds(10));

// The verification form of one device.
std::vector<std::pair<std::string, std::string>> verifyFields(const std::string& appKey,
                                                              const std::string& deviceId);

// A collector in this process with one application ("test-key", "Test App") and a captured log.
class InProcessCollector {
  public:
    explicit InProcessCollector(const std::string& dataDir,
                                const std::function<void(CollectorConfig&)>& adjust = {});
    ~InProcessCollector();

    bool start();
    void stop();
    std::string url(const std::string& path) const { return server_->url() + path; }
    CollectorServer& server() { return *server_; }
    LogCapture& log() { return log_; }
    const std::string& startError() const { return error_; }
    // Verifies `deviceId` and returns the answer.
    nlohmann::json verify(const std::string& deviceId, const std::string& appKey = "test-key");

  private:
    LogCapture log_;
    std::unique_ptr<CollectorServer> server_;
    std::string error_;
};

// The rivlo-collector executable as a child process.
class CollectorProcess {
  public:
    ~CollectorProcess();
    // Starts `rivlo-collector serve` with the arguments and waits until it has written its URL.
    bool start(const std::vector<std::string>& arguments, const std::string& urlFile);
    // SIGTERM, then waits; returns the exit status (-1 when it had to be killed).
    int stop();
    pid_t pid() const { return pid_; }
    const std::string& url() const { return url_; }
    // Peak resident memory in KiB ("VmHWM"), 0 when unreadable.
    long peakResidentKiB() const;

  private:
    pid_t pid_ = -1;
    std::string url_;
};

// Runs the executable with the arguments and returns (exit status, standard output).
std::pair<int, std::string> runCollectorCommand(const std::vector<std::string>& arguments);

}  // namespace rivlo::collector::test
