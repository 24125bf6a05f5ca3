#include "foundation/URL.h"

#include <curl/curl.h>

#include <cctype>
#include <cstring>
#include <memory>

namespace rivlo {
namespace {

struct UrlDeleter {
    void operator()(CURLU* u) const { curl_url_cleanup(u); }
};
using UrlHandle = std::unique_ptr<CURLU, UrlDeleter>;

std::string part(CURLU* u, CURLUPart which, bool& present) {
    char* out = nullptr;
    CURLUcode rc = curl_url_get(u, which, &out, 0);
    present = (rc == CURLUE_OK && out);
    std::string s = out ? out : "";
    curl_free(out);
    return s;
}

std::string part(CURLU* u, CURLUPart which) {
    bool present;
    return part(u, which, present);
}

bool hasScheme(const std::string& text) {
    // RFC 3986: ALPHA *( ALPHA / DIGIT / "+" / "-" / "." ) ":"
    if (text.empty() || !isalpha(static_cast<unsigned char>(text[0]))) return false;
    for (size_t i = 1; i < text.size(); ++i) {
        char c = text[i];
        if (c == ':') return true;
        if (!isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.')
            return false;
    }
    return false;
}

// Characters left as they are in a file URL's path.
bool pathSafe(unsigned char c) {
    return isalnum(c) || strchr("/-._~!$&'()*+,;=:@", c) != nullptr;
}

}  // namespace

std::string percentDecode(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() &&
            isxdigit(static_cast<unsigned char>(text[i + 1])) &&
            isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            out.push_back(static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16)));
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

std::optional<URL> URL::fromCurlHandle(void* handle) {
    auto* u = static_cast<CURLU*>(handle);
    URL url;
    bool present = false;
    url.absolute_ = part(u, CURLUPART_URL, present);
    if (!present) return std::nullopt;
    url.scheme_ = part(u, CURLUPART_SCHEME);
    url.host_ = part(u, CURLUPART_HOST);
    url.path_ = part(u, CURLUPART_PATH);
    url.query_ = part(u, CURLUPART_QUERY, url.hasQuery_);
    url.fragment_ = part(u, CURLUPART_FRAGMENT);
    url.user_ = part(u, CURLUPART_USER);
    url.password_ = part(u, CURLUPART_PASSWORD);
    std::string port = part(u, CURLUPART_PORT, present);
    if (present && !port.empty()) url.port_ = std::stoi(port);
    return url;
}

std::optional<URL> URL::parse(const std::string& text) {
    if (!hasScheme(text)) return std::nullopt;
    UrlHandle u(curl_url());
    if (!u) return std::nullopt;
    unsigned flags = CURLU_NON_SUPPORT_SCHEME;
    if (curl_url_set(u.get(), CURLUPART_URL, text.c_str(), flags) != CURLUE_OK) return std::nullopt;
    return fromCurlHandle(u.get());
}

std::optional<URL> URL::resolve(const std::string& reference, const URL& base) {
    if (!base.isValid()) return parse(reference);
    UrlHandle u(curl_url());
    if (!u) return std::nullopt;
    unsigned flags = CURLU_NON_SUPPORT_SCHEME;
    if (curl_url_set(u.get(), CURLUPART_URL, base.absolute_.c_str(), flags) != CURLUE_OK)
        return std::nullopt;
    // Setting a URL on a handle that holds one resolves it as a reference (RFC 3986).
    if (curl_url_set(u.get(), CURLUPART_URL, reference.c_str(), flags) != CURLUE_OK)
        return std::nullopt;
    return fromCurlHandle(u.get());
}

URL URL::fileURL(const std::string& path) {
    std::string encoded;
    static const char* hex = "0123456789ABCDEF";
    for (unsigned char c : path) {
        if (pathSafe(c)) {
            encoded.push_back(static_cast<char>(c));
        } else {
            encoded.push_back('%');
            encoded.push_back(hex[c >> 4]);
            encoded.push_back(hex[c & 15]);
        }
    }
    if (encoded.empty() || encoded[0] != '/') encoded = "/" + encoded;
    URL url;
    url.scheme_ = "file";
    url.path_ = encoded;
    url.absolute_ = "file://" + encoded;
    return url;
}

std::string URL::decodedPath() const {
    return percentDecode(path_);
}

std::string URL::lastPathComponent() const {
    std::string p = decodedPath();
    if (p.empty()) return "";
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    if (p == "/") return "/";
    auto slash = p.find_last_of('/');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

std::string URL::pathExtension() const {
    std::string last = lastPathComponent();
    auto dot = last.find_last_of('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == last.size()) return "";
    return last.substr(dot + 1);
}

URL URL::withPath(const std::string& encodedPath) const {
    if (isFileURL()) return fileURL(percentDecode(encodedPath));
    UrlHandle u(curl_url());
    curl_url_set(u.get(), CURLUPART_URL, absolute_.c_str(), CURLU_NON_SUPPORT_SCHEME);
    curl_url_set(u.get(), CURLUPART_PATH, encodedPath.c_str(), 0);
    auto out = fromCurlHandle(u.get());
    return out ? *out : *this;
}

}  // namespace rivlo
