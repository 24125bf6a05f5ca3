#include "HttpTypes.h"

namespace rivlo::collector {

std::string HttpRequest::header(const std::string& name) const {
    auto it = headers.find(name);
    return it == headers.end() ? std::string() : it->second;
}

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string formDecoded(const std::string& text) {
    std::string value;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            value.push_back(' ');
        } else if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
                   hexValue(text[i + 2]) >= 0) {
            value.push_back(static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2])));
            i += 2;
        } else {
            value.push_back(text[i]);
        }
    }
    return value;
}

}  // namespace

std::map<std::string, std::string> HttpRequest::formFields(const std::string& text) {
    std::map<std::string, std::string> out;
    size_t at = 0;
    while (at <= text.size()) {
        size_t end = text.find('&', at);
        if (end == std::string::npos) end = text.size();
        const std::string pair = text.substr(at, end - at);
        if (!pair.empty()) {
            const size_t equals = pair.find('=');
            out.emplace(
                formDecoded(pair.substr(0, equals)),
                equals == std::string::npos ? std::string() : formDecoded(pair.substr(equals + 1)));
        }
        at = end + 1;
    }
    return out;
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
