#pragma once

// A real HTTP/1.1 server on an ephemeral loopback port for tests and benchmarks: scripted
// routes, and a record of every request (method, path, query, headers, raw body bytes).
//
//   rivlo::test::LoopbackHTTPServer server;
//   server.route("POST", "/webservices/v2/verifyapp",
//                rivlo::test::ScriptedResponse::json(200, R"({"status":"true"})"));
//   ... point the client at server.baseURL() ...
//   ASSERT_TRUE(server.waitForRequests(1, std::chrono::seconds(5)));
//   auto req = server.requests().at(0);
//   auto parts = rivlo::test::parseMultipartBody(req);
//
// Requests without a route get 404. The server stops (and unblocks any held response) when
// destroyed. All methods may be called from any thread.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace rivlo::test {

struct CaseInsensitiveLess {
    bool operator()(const std::string& a, const std::string& b) const;
};
using HeaderMap = std::multimap<std::string, std::string, CaseInsensitiveLess>;

// One request as it arrived.
struct RecordedRequest {
    std::string method;
    std::string path;    // percent-decoded path without the query
    std::string target;  // the raw request target (path and query, as sent)
    std::string query;   // raw query text after "?", "" when none
    HeaderMap headers;
    std::string body;          // raw body bytes, exactly as received
    bool bodyComplete = true;  // false when the client stopped sending before the end
    uint64_t bodyLength = 0;   // bytes received (also when the body was not kept)

    bool hasHeader(const std::string& name) const;
    // The first value of a header, "" when absent.
    std::string header(const std::string& name) const;
};

// What a route answers.
struct ScriptedResponse {
    int status = 200;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    std::string contentType;  // "" sends no Content-Type (unless the body is not empty)
    // Waits this long before answering (a slow service).
    std::chrono::milliseconds delay{0};
    // Never answers: holds the request until the server stops (a time-out for the client).
    bool neverRespond = false;
    // Drops the connection without any answer, after reading the body.
    bool dropConnection = false;
    // Reads the request body slowly: this pause after each chunk received.
    std::chrono::milliseconds readPausePerChunk{0};
    // Stops reading the body after this many bytes and drops the connection.
    std::optional<size_t> abortAfterBodyBytes;
    // Counts the body bytes without keeping them (for very large uploads).
    bool discardBody = false;

    static ScriptedResponse text(int status, std::string body,
                                 std::string contentType = "text/plain");
    static ScriptedResponse json(int status, std::string body);
    static ScriptedResponse empty(int status);
    static ScriptedResponse redirect(int status, std::string location);
};

// A certificate and its private key in PEM files, for a TLS server.
struct TLSFiles {
    std::string certificateFile;
    std::string privateKeyFile;
};

// Writes a fresh self-signed certificate for the address 127.0.0.1 (usable as its own trust
// anchor) and its key into `directory`.
TLSFiles writeSelfSignedLoopbackCertificate(const std::string& directory);

class LoopbackHTTPServer {
  public:
    using Handler = std::function<ScriptedResponse(const RecordedRequest&)>;

    // Starts listening on 127.0.0.1 at a free port (plain HTTP).
    LoopbackHTTPServer();
    // The same over TLS with the given certificate: baseURL() is "https://127.0.0.1:<port>".
    explicit LoopbackHTTPServer(const TLSFiles& tls);
    ~LoopbackHTTPServer();
    LoopbackHTTPServer(const LoopbackHTTPServer&) = delete;
    LoopbackHTTPServer& operator=(const LoopbackHTTPServer&) = delete;

    int port() const { return port_; }
    // "http://127.0.0.1:<port>" (no trailing slash; https for a TLS server).
    std::string baseURL() const;

    // Routes an exact method and path (query ignored). A later route for the same pair
    // replaces the earlier one.
    void route(const std::string& method, const std::string& path, Handler handler);
    void route(const std::string& method, const std::string& path, ScriptedResponse response);
    // Answers successive requests with the given responses in turn; the last one repeats.
    void script(const std::string& method, const std::string& path,
                std::vector<ScriptedResponse> responses);

    std::vector<RecordedRequest> requests() const;
    size_t requestCount() const;
    void clearRequests();
    // Blocks until at least `count` requests were recorded (true) or the timeout passed.
    bool waitForRequests(size_t count, std::chrono::milliseconds timeout) const;

  private:
    struct Impl;
    void start();
    std::unique_ptr<Impl> impl_;
    int port_ = 0;
    bool tls_ = false;
};

// One part of a multipart/form-data body.
struct MultipartPart {
    HeaderMap headers;
    std::string name;                     // from Content-Disposition
    std::optional<std::string> fileName;  // from Content-Disposition, when present
    std::string contentType;              // "" when the part has none
    std::string body;                     // raw bytes
    // The header lines in the order they were sent.
    std::vector<std::string> headerLines;
};

// Splits a raw multipart body at the boundary. std::nullopt when the body does not follow the
// format exactly (missing opening or closing boundary, malformed header block, bytes after the
// closing boundary).
std::optional<std::vector<MultipartPart>> parseMultipart(const std::string& body,
                                                         const std::string& boundary);
// Same, taking the boundary from the request's Content-Type header.
std::optional<std::vector<MultipartPart>> parseMultipartBody(const RecordedRequest& request);

}  // namespace rivlo::test
