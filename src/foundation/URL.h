#pragma once

#include <optional>
#include <string>

namespace rivlo {

// An absolute URL (network or file), parsed and resolved with libcurl's URL API (RFC 3986).
// Immutable value; any thread.
class URL {
  public:
    URL() = default;

    // An absolute URL with a scheme; std::nullopt when the text is not one.
    static std::optional<URL> parse(const std::string& text);
    // Resolves a reference (absolute, or relative such as "a/b", "/root", "../x", "?q")
    // against a base URL.
    static std::optional<URL> resolve(const std::string& reference, const URL& base);
    // A file URL for an absolute path.
    static URL fileURL(const std::string& path);

    bool isValid() const { return !absolute_.empty(); }
    const std::string& absoluteString() const { return absolute_; }
    const std::string& scheme() const { return scheme_; }
    const std::string& host() const { return host_; }
    std::optional<int> port() const { return port_; }
    const std::string& path() const { return path_; }          // percent-encoded, as in the text
    const std::string& query() const { return query_; }        // without "?", "" when none
    const std::string& fragment() const { return fragment_; }  // without "#"
    const std::string& user() const { return user_; }
    const std::string& password() const { return password_; }
    bool hasQuery() const { return hasQuery_; }

    bool isFileURL() const { return scheme_ == "file"; }
    // The path, percent-decoded (for file URLs: the file system path).
    std::string decodedPath() const;
    // Last component of the decoded path ("/" for the root; "" when there is no path).
    std::string lastPathComponent() const;
    // Extension of the last component without the dot, "" when none.
    std::string pathExtension() const;
    // A copy with a different path (percent-encoded text).
    URL withPath(const std::string& encodedPath) const;

    bool operator==(const URL& other) const { return absolute_ == other.absolute_; }

  private:
    static std::optional<URL> fromCurlHandle(void* handle);
    std::string absolute_, scheme_, host_, path_, query_, fragment_, user_, password_;
    std::optional<int> port_;
    bool hasQuery_ = false;
};

// Percent-decoding of a URL component.
std::string percentDecode(const std::string& text);

}  // namespace rivlo
