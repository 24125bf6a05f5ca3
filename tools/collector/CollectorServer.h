#pragma once

#include <memory>
#include <string>

#include "CollectorConfig.h"

namespace rivlo::collector {

// The reference service: answers the verification request and accepts the four multipart
// uploads, keeping what it receives under the data folder with an SQLite index.
//
// Data folder layout:
//   collector.sqlite                          the index
//   tmp/                                      uploads being received
//   apps/<app folder>/<app_device_id>/<kind>/<file name>
//     kind: "screen", "camera" (movies), "data" (session documents), "tiles" (web tiles);
//     uploads naming an installation the collector never verified go to apps/_unattributed/.
//
// start() and stop() are called from one controlling thread; requests are served on the
// server's own threads (which block SIGPIPE, so a client hanging up never raises it).
class CollectorServer {
  public:
    explicit CollectorServer(CollectorConfig config);
    ~CollectorServer();
    CollectorServer(const CollectorServer&) = delete;
    CollectorServer& operator=(const CollectorServer&) = delete;

    // Validates the configuration, opens the data folder and its index, binds the listening
    // socket and starts serving. Returns false with a readable message when any step fails.
    bool start(std::string& error);
    // Stops accepting, lets requests in progress finish, closes the index. Idempotent.
    void stop();

    bool running() const;
    // The bound port (the chosen one when the configuration asked for 0); 0 before start().
    int port() const;
    // "http://host:port" or "https://host:port".
    std::string url() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace rivlo::collector
