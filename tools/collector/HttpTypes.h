#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace rivlo::collector {

// Receives a request body as it arrives, on the server's I/O thread, so a body of any size
// costs a fixed amount of memory. Created by a route once the request head is accepted; handed
// to the route's handler with the request when the body is complete. Not shared between threads
// at the same time: the I/O thread writes, then the worker that runs the handler reads.
class HttpBodySink {
  public:
    virtual ~HttpBodySink() = default;
    // A piece of the decoded body. Returning false resets the connection at once (the client
    // sees its transfer broken off); nothing more is delivered.
    virtual bool write(const char* data, size_t length) = 0;
    // The transfer ended: `complete` is false when it broke off (the client went away, a limit
    // or a deadline was hit); the handler then does not run and the sink drops what it has.
    virtual void finish(bool complete) = 0;
};

// One request, as a handler sees it.
struct HttpRequest {
    std::string method;
    std::string target;                               // as sent: path and query
    std::string path;                                 // without the query
    std::string query;                                // after '?', undecoded
    std::multimap<std::string, std::string> headers;  // names in lower case
    std::string remoteAddress;
    std::map<std::string, std::string> params;  // "{name}" pieces of the route's pattern
    std::string body;                           // buffered routes only
    std::unique_ptr<HttpBodySink> sink;         // streamed routes only

    // The first value of a header (`name` in lower case), "" when absent.
    std::string header(const std::string& name) const;

    // Fields of an application/x-www-form-urlencoded text (a body, or a query): '+' is a space,
    // %XX a byte; the first of repeated names counts.
    static std::map<std::string, std::string> formFields(const std::string& text);
};

class HttpFile;

// A span of an open file that an answer's body is read from, in pieces, as the connection
// writes it (media, which may be large and are asked for by ranges).
struct HttpFileSpan {
    std::shared_ptr<const HttpFile> file;
    uint64_t offset = 0;
    uint64_t length = 0;
};

// One answer. A handler fills it on a worker thread; the connection writes it.
struct HttpResponse {
    int status = 200;
    std::string contentType = "application/json";
    std::string body;
    std::multimap<std::string, std::string> headers;
    bool close = false;                  // close the connection after the answer
    bool reset = false;                  // reset the connection instead of answering
    std::chrono::milliseconds delay{0};  // hold the answer back (ended early by stop())
    std::optional<HttpFileSpan> file;    // the body comes from this file instead of `body`

    static HttpResponse json(int status, const nlohmann::json& value);
    static HttpResponse error(int status, const std::string& message);
};

// A route: a method and a path pattern ("/webservices/v2/verifyapp", "/api/v1/x/{id}"), the
// largest body it takes, and what to do. A buffered route gets its body in `request.body`; a
// streamed route (`openBody` set) hands each piece to the sink it opens. `openBody` runs on the
// I/O thread and may refuse at once by filling `refusal` and returning null. `handle` runs on a
// worker thread once the body is complete.
struct HttpRoute {
    std::string method;
    std::string pattern;
    uint64_t maxBodyBytes = 64 * 1024;
    std::string label;  // names the route in log lines
    std::function<std::unique_ptr<HttpBodySink>(const HttpRequest&, HttpResponse& refusal)>
        openBody;
    std::function<HttpResponse(HttpRequest&)> handle;
};

}  // namespace rivlo::collector
