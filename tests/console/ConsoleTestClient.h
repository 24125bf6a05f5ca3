#pragma once

// A client of the console's API for the tests: libcurl over loopback, keeping the session cookie
// the login sets and the login's CSRF token, with any header a test wants to add or leave out.

#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace rivlo::collector::test {

struct ConsoleAnswer {
    long status = 0;
    std::map<std::string, std::string> headers;  // names in lower case; the last value counts
    std::vector<std::string> cookies;            // every Set-Cookie, whole
    std::string body;
    nlohmann::json json() const;  // discarded when the body is not JSON
    std::string header(const std::string& name) const;
};

// One thread at a time.
class ConsoleTestClient {
  public:
    explicit ConsoleTestClient(std::string baseUrl) : base_(std::move(baseUrl)) {}

    // POST /api/v1/login with JSON; keeps the cookie and CSRF token of a 200.
    ConsoleAnswer logIn(const std::string& user, const std::string& password);
    // A request with the cookie (when there is one), `headers` ("Name: value") and a body.
    ConsoleAnswer send(const std::string& method, const std::string& path,
                       const std::vector<std::string>& headers = {}, const std::string& body = {});
    // The same with the CSRF token and the console's own Origin, as its pages send changes.
    ConsoleAnswer change(const std::string& method, const std::string& path,
                         const std::string& body = {});

    const std::string& cookie() const { return cookie_; }
    const std::string& csrf() const { return csrf_; }
    void forget() { cookie_.clear(), csrf_.clear(); }
    const std::string& base() const { return base_; }

  private:
    std::string base_;
    std::string cookie_;  // "rivlo_session=..."
    std::string csrf_;
};

}  // namespace rivlo::collector::test
