#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "CollectorConfig.h"
#include "CollectorServer.h"
#include "ConsoleAccounts.h"
#include "ConsoleQueries.h"
#include "HeatMapCache.h"

namespace rivlo::collector {

// The console of a collector: its JSON API under /api/v1/ and its pages under /console/, served
// by the collector's own server. Every API route but login answers 401 without the session
// cookie a login sets; routes that change something also need the login's CSRF token in the
// "X-Rivlo-CSRF" header (and a same-origin "Origin" when the browser sends one); deleting needs
// the admin role (a viewer gets 403).
//
// Create it before the server starts and `attach()` it; it serves for as long as the server
// does (requests run on the server's workers). It must outlive the server's serving.
class ConsoleApi {
  public:
    static constexpr const char* kCookie = "rivlo_session";
    static constexpr const char* kCsrfHeader = "x-rivlo-csrf";

    // `config` is the server's (data folder, TLS, log).
    ConsoleApi(CollectorServer& server, const CollectorConfig& config);
    ~ConsoleApi();
    ConsoleApi(const ConsoleApi&) = delete;
    ConsoleApi& operator=(const ConsoleApi&) = delete;

    // Adds the routes to the server. Before its start(), once.
    void attach();

    ConsoleAccounts& accounts() { return accounts_; }

  private:
    using Handler = std::function<HttpResponse(HttpRequest&, const ConsoleAccounts::Login&)>;
    enum class Need { Reading, Changing, ChangingAsAdmin };
    HttpRoute route(const std::string& method, const std::string& pattern, Need need,
                    Handler handler);
    std::optional<ConsoleAccounts::Login> loginOf(const HttpRequest& request);
    bool sameOrigin(const HttpRequest& request) const;

    HttpResponse logIn(HttpRequest& request);
    HttpResponse logOut(HttpRequest& request, const ConsoleAccounts::Login& login);
    HttpResponse me(const ConsoleAccounts::Login& login);
    HttpResponse apps();
    HttpResponse screens(HttpRequest& request);
    HttpResponse sessions(HttpRequest& request);
    HttpResponse session(HttpRequest& request);
    HttpResponse media(HttpRequest& request);
    HttpResponse heatmap(HttpRequest& request);
    HttpResponse deleteInstallation(HttpRequest& request, const ConsoleAccounts::Login& login);

    std::string sessionCookie(const std::string& token, int64_t maxAgeSeconds) const;

    CollectorServer& server_;
    std::string dataDir_;
    bool secure_ = false;
    CollectorLog log_;
    ConsoleAccounts accounts_;
    ConsoleQueries queries_;
    HeatMapCache heatMaps_;
    bool attached_ = false;
};

}  // namespace rivlo::collector
