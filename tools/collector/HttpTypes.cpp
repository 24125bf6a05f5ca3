#include "HttpTypes.h"

namespace rivlo::collector {

std::string HttpRequest::header(const std::string& name) const {
    auto it = headers.find(name);
    return it == headers.end() ? std::string() : it->second;
}

HttpResponse HttpResponse::json(int status, const nlohmann::json& value) {
    HttpResponse response;
    response.status = status;
    response.body = value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    return response;
}

HttpResponse HttpResponse::error(int status, const std::string& message) {
    return json(status, nlohmann::json{{"error", message}});
}

}  // namespace rivlo::collector
