#pragma once

#include <map>
#include <string>
#include <vector>

#include "HttpTypes.h"

namespace rivlo::collector {

// The route table. Patterns are paths whose segments are literal or "{name}" (one whole
// segment, any text but '/'). Routes are added before the server starts and only read after,
// so matching is safe from any thread.
class HttpRouter {
  public:
    void add(HttpRoute route);

    struct Match {
        const HttpRoute* route = nullptr;
        std::map<std::string, std::string> params;
        int status = 404;  // 200 found, 404 no such path, 405 the path takes other methods
    };
    Match match(const std::string& method, const std::string& path) const;

  private:
    static std::vector<std::string> segments(const std::string& path);
    std::vector<HttpRoute> routes_;
};

}  // namespace rivlo::collector
