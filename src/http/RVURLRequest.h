#pragma once

#include "foundation/URL.h"
#include "foundation/Value.h"
#include "http/RVInputStream.h"

#include <map>
#include <memory>
#include <optional>
#include <string>

namespace rivlo {

// Header names compare without regard to case; iteration is in that order.
struct RVCaseInsensitiveLess {
    bool operator()(const std::string& a, const std::string& b) const;
};
using RVHTTPHeaders = std::map<std::string, std::string, RVCaseInsensitiveLess>;

// A URL request: URL, method, header fields and a body given either as bytes or as a stream
// (never both). A plain value; copies share the body stream, which is read once.
struct RVURLRequest {
    // The platform's cache policies (only stored; the client keeps no cache).
    enum CachePolicy : unsigned {
        UseProtocolCachePolicy = 0,
        ReloadIgnoringLocalCacheData = 1,
        ReturnCacheDataElseLoad = 2,
        ReturnCacheDataDontLoad = 3,
        ReloadIgnoringLocalAndRemoteCacheData = 4,
    };

    RVURLRequest() = default;
    explicit RVURLRequest(std::optional<URL> url) : url(std::move(url)) {}

    std::optional<URL> url;
    std::string HTTPMethod = "GET";
    RVHTTPHeaders allHTTPHeaderFields;
    std::optional<std::string> HTTPBody;
    std::shared_ptr<RVInputStream> HTTPBodyStream;
    double timeoutInterval = 60.0;
    CachePolicy cachePolicy = UseProtocolCachePolicy;
    bool HTTPShouldHandleCookies = true;

    // Sets a header (an absent value removes it).
    void setValue(const std::optional<std::string>& value, const std::string& field);
    std::optional<std::string> valueForHTTPHeaderField(const std::string& field) const;
    void setHTTPBody(std::string body);
    void setHTTPBodyStream(std::shared_ptr<RVInputStream> stream);
    // The absolute URL text, "" without a URL.
    std::string absoluteURLString() const;

    // Archive form (a dictionary of property-list values); the body stream is not archived.
    Value archive() const;
    static RVURLRequest fromArchive(const Value& archive);
};

// The head of an HTTP response.
struct RVHTTPURLResponse {
    std::optional<URL> url;
    long statusCode = 0;
    RVHTTPHeaders allHeaderFields;

    std::optional<std::string> valueForHTTPHeaderField(const std::string& field) const;
    // The Content-Type value without parameters, lower-cased; nullopt when there is none.
    std::optional<std::string> MIMEType() const;
    // The charset parameter of Content-Type, nullopt when there is none.
    std::optional<std::string> textEncodingName() const;
    // Content-Length, -1 when none is announced.
    int64_t expectedContentLength() const;

    Value archive() const;
    static RVHTTPURLResponse fromArchive(const Value& archive);
};

}  // namespace rivlo
