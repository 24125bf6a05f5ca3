#include "HttpRouter.h"

namespace rivlo::collector {

void HttpRouter::add(HttpRoute route) {
    routes_.push_back(std::move(route));
}

std::vector<std::string> HttpRouter::segments(const std::string& path) {
    std::vector<std::string> out;
    size_t at = 0;
    while (at <= path.size()) {
        size_t slash = path.find('/', at);
        if (slash == std::string::npos) slash = path.size();
        out.push_back(path.substr(at, slash - at));
        at = slash + 1;
    }
    return out;
}

HttpRouter::Match HttpRouter::match(const std::string& method, const std::string& path) const {
    Match result;
    const std::vector<std::string> wanted = segments(path);
    for (const HttpRoute& route : routes_) {
        const std::vector<std::string> pattern = segments(route.pattern);
        if (pattern.size() != wanted.size()) continue;
        std::map<std::string, std::string> params;
        bool same = true;
        for (size_t i = 0; i < pattern.size() && same; ++i) {
            const std::string& p = pattern[i];
            if (p.size() > 2 && p.front() == '{' && p.back() == '}') {
                if (wanted[i].empty()) same = false;
                params[p.substr(1, p.size() - 2)] = wanted[i];
            } else {
                same = p == wanted[i];
            }
        }
        if (!same) continue;
        if (route.method != method) {
            result.status = 405;
            continue;
        }
        result.route = &route;
        result.params = std::move(params);
        result.status = 200;
        return result;
    }
    return result;
}

}  // namespace rivlo::collector
