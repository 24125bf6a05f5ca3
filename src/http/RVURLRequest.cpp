#include "http/RVURLRequest.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace rivlo {

namespace {

std::string trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return "";
    const auto e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

Value headersArchive(const RVHTTPHeaders& headers) {
    Value out = Value::object();
    for (const auto& [k, v] : headers)
        out[k] = v;
    return out;
}

RVHTTPHeaders headersFromArchive(const Value& v) {
    RVHTTPHeaders out;
    if (!v.is_object()) return out;
    for (auto it = v.begin(); it != v.end(); ++it) {
        if (it.value().is_string()) out[it.key()] = it.value().get<std::string>();
    }
    return out;
}

std::optional<URL> urlFromArchive(const Value& v, const char* key) {
    if (!v.contains(key) || !v.at(key).is_string()) return std::nullopt;
    return URL::parse(v.at(key).get<std::string>());
}

}  // namespace

bool RVCaseInsensitiveLess::operator()(const std::string& a, const std::string& b) const {
    return std::lexicographical_compare(
        a.begin(), a.end(), b.begin(), b.end(),
        [](unsigned char x, unsigned char y) { return std::tolower(x) < std::tolower(y); });
}

void RVURLRequest::setValue(const std::optional<std::string>& value, const std::string& field) {
    if (value) {
        allHTTPHeaderFields.erase(field);
        allHTTPHeaderFields.emplace(field, *value);
    } else {
        allHTTPHeaderFields.erase(field);
    }
}

std::optional<std::string> RVURLRequest::valueForHTTPHeaderField(const std::string& field) const {
    const auto it = allHTTPHeaderFields.find(field);
    if (it == allHTTPHeaderFields.end()) return std::nullopt;
    return it->second;
}

void RVURLRequest::setHTTPBody(std::string body) {
    HTTPBody = std::move(body);
    HTTPBodyStream.reset();
}

void RVURLRequest::setHTTPBodyStream(std::shared_ptr<RVInputStream> stream) {
    HTTPBodyStream = std::move(stream);
    HTTPBody.reset();
}

std::string RVURLRequest::absoluteURLString() const {
    return url ? url->absoluteString() : std::string();
}

Value RVURLRequest::archive() const {
    Value out = Value::object();
    if (url) out["URL"] = url->absoluteString();
    out["HTTPMethod"] = HTTPMethod;
    out["allHTTPHeaderFields"] = headersArchive(allHTTPHeaderFields);
    if (HTTPBody) out["HTTPBody"] = PropertyList::data(*HTTPBody);
    out["timeoutInterval"] = timeoutInterval;
    out["cachePolicy"] = static_cast<unsigned>(cachePolicy);
    out["HTTPShouldHandleCookies"] = HTTPShouldHandleCookies;
    return out;
}

RVURLRequest RVURLRequest::fromArchive(const Value& archive) {
    RVURLRequest request;
    if (!archive.is_object()) return request;
    request.url = urlFromArchive(archive, "URL");
    request.HTTPMethod = PropertyList::text(archive, "HTTPMethod", "GET");
    if (archive.contains("allHTTPHeaderFields")) {
        request.allHTTPHeaderFields = headersFromArchive(archive.at("allHTTPHeaderFields"));
    }
    if (archive.contains("HTTPBody") && PropertyList::isData(archive.at("HTTPBody"))) {
        const Data bytes = PropertyList::dataBytes(archive.at("HTTPBody"));
        request.HTTPBody = std::string(bytes.begin(), bytes.end());
    }
    request.timeoutInterval = PropertyList::number(archive, "timeoutInterval", 60.0);
    const auto policy = PropertyList::integer(archive, "cachePolicy", 0);
    request.cachePolicy =
        policy >= 0 && policy <= 4 ? static_cast<CachePolicy>(policy) : UseProtocolCachePolicy;
    request.HTTPShouldHandleCookies =
        PropertyList::boolean(archive, "HTTPShouldHandleCookies", true);
    return request;
}

std::optional<std::string> RVHTTPURLResponse::valueForHTTPHeaderField(
    const std::string& field) const {
    const auto it = allHeaderFields.find(field);
    if (it == allHeaderFields.end()) return std::nullopt;
    return it->second;
}

std::optional<std::string> RVHTTPURLResponse::MIMEType() const {
    const auto type = valueForHTTPHeaderField("Content-Type");
    if (!type) return std::nullopt;
    const std::string mime = lower(trim(type->substr(0, type->find(';'))));
    if (mime.empty()) return std::nullopt;
    return mime;
}

std::optional<std::string> RVHTTPURLResponse::textEncodingName() const {
    const auto type = valueForHTTPHeaderField("Content-Type");
    if (!type) return std::nullopt;
    size_t pos = type->find(';');
    while (pos != std::string::npos) {
        const size_t next = type->find(';', pos + 1);
        const std::string param = trim(type->substr(pos + 1, next - pos - 1));
        const auto eq = param.find('=');
        if (eq != std::string::npos && lower(trim(param.substr(0, eq))) == "charset") {
            std::string value = trim(param.substr(eq + 1));
            if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
                value = value.substr(1, value.size() - 2);
            }
            if (!value.empty()) return value;
        }
        pos = next;
    }
    return std::nullopt;
}

int64_t RVHTTPURLResponse::expectedContentLength() const {
    const auto length = valueForHTTPHeaderField("Content-Length");
    if (!length) return -1;
    const std::string t = trim(*length);
    if (t.empty() ||
        !std::all_of(t.begin(), t.end(), [](unsigned char c) { return std::isdigit(c); })) {
        return -1;
    }
    return std::strtoll(t.c_str(), nullptr, 10);
}

Value RVHTTPURLResponse::archive() const {
    Value out = Value::object();
    if (url) out["URL"] = url->absoluteString();
    out["statusCode"] = statusCode;
    out["allHeaderFields"] = headersArchive(allHeaderFields);
    return out;
}

RVHTTPURLResponse RVHTTPURLResponse::fromArchive(const Value& archive) {
    RVHTTPURLResponse response;
    if (!archive.is_object()) return response;
    response.url = urlFromArchive(archive, "URL");
    response.statusCode = static_cast<long>(PropertyList::integer(archive, "statusCode", 0));
    if (archive.contains("allHeaderFields")) {
        response.allHeaderFields = headersFromArchive(archive.at("allHeaderFields"));
    }
    return response;
}

}  // namespace rivlo
