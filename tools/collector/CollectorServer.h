#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "CollectorConfig.h"
#include "CollectorIndex.h"
#include "CollectorStore.h"
#include "HttpRouter.h"

namespace rivlo::collector {

// The reference service: answers the verification request and accepts the four multipart
// uploads, keeping what it receives under the data folder with an index (SQLite in the data
// folder, or PostgreSQL).
//
// The installation identifier handed out at verification is random and stored; it is what an
// upload must name ("app_device_id", or "apd" inside a session document) to be accepted, so
// an upload for an identifier this collector never issued is refused (403) and not stored.
//
// Data folder layout:
//   collector.sqlite                          the index (SQLite engine)
//   tmp/                                      uploads being received
//   apps/<app folder>/<app_device_id>/<kind>/<file name>
//     kind: "screen", "camera" (movies), "data" (session documents), "tiles" (web tiles).
//
// start() and stop() are called from one controlling thread; requests are served on the HTTP
// server's I/O and worker threads.
class CollectorServer {
  public:
    explicit CollectorServer(CollectorConfig config);
    ~CollectorServer();
    CollectorServer(const CollectorServer&) = delete;
    CollectorServer& operator=(const CollectorServer&) = delete;

    // Validates the configuration, opens the data folder and its index, binds the listening
    // socket and starts serving. Returns false with a readable message when any step fails.
    bool start(std::string& error);
    // Stops accepting, lets requests in progress finish for the configured grace period, ends
    // the rest, closes the index. Idempotent.
    void stop();

    bool running() const;
    // The bound port (the chosen one when the configuration asked for 0); 0 before start().
    int port() const;
    // "http://host:port" or "https://host:port".
    std::string url() const;
    // Connections open now (any thread).
    size_t openConnections() const;

    // While running: the index, for queries over sessions and installations (any thread).
    CollectorIndex& index();
    // Deletes one installation's data and the installation (logged). Any thread while running.
    bool deleteInstallation(const std::string& appDeviceId, std::string& error);
    // Removes what every application's retention period lets go as of `nowUnix` (logged); the
    // server also does this by itself every `retentionIntervalSeconds`. Returns the files
    // removed. Any thread while running.
    size_t runRetention(int64_t nowUnix);

    // Adds a route before start() (the verification and upload routes are the server's own).
    void addRoute(HttpRoute route);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace rivlo::collector
