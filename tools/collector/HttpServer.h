#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "HttpRouter.h"

namespace rivlo::collector {

// What one client may cost the server. Every figure bounds memory, time or threads that a
// hostile client could otherwise hold.
struct HttpLimits {
    size_t headerBytes = 16 * 1024;                  // request line and header fields together
    std::chrono::milliseconds headerTimeout{10000};  // for the whole head, from its first wait
    // A body must arrive at `minBytesPerSecond` on average once `bodyGrace` has passed.
    std::chrono::milliseconds bodyGrace{10000};
    uint64_t minBytesPerSecond = 16 * 1024;
    std::chrono::milliseconds writeTimeout{30000};  // for writing one answer
    size_t maxConnections = 1024;
    size_t maxConnectionsPerAddress = 32;
    size_t ioThreads = 2;
    size_t workerThreads = 8;
    size_t queueLimit = 64;                         // requests waiting for a worker
    std::chrono::milliseconds shutdownGrace{5000};  // stop() ends requests still running then
};

// An HTTP/1.1 server on asynchronous sockets (Boost.Beast over Asio): a few I/O threads read
// and write every connection, so a slow client holds no thread, only its deadline; complete
// requests go to a worker pool with a bounded queue. Bodies are counted as decoded (chunked
// transfer decoded, compressed bodies refused) against the route's limit; a declared length
// over the limit is answered 413 before any of the body is read. Optional TLS.
//
// Single use: listen(), start(), stop() from one controlling thread; stop() returns within
// about `shutdownGrace` whatever the clients do.
class HttpServer {
  public:
    using Log = std::function<void(const std::string& line)>;

    HttpServer(HttpLimits limits, HttpRouter router, Log log);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Binds the listening socket (port 0: the system chooses). HTTPS when both files are given.
    bool listen(const std::string& host, int port, const std::string& certFile,
                const std::string& keyFile, std::string& error);
    void start();
    void stop();

    int port() const;
    // Connections open now. Any thread.
    size_t openConnections() const;

    struct Impl;

  private:
    std::shared_ptr<Impl> impl_;
};

}  // namespace rivlo::collector
