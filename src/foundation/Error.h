#pragma once

#include "foundation/Value.h"

#include <any>
#include <map>
#include <optional>
#include <string>

namespace rivlo {

// User-info keys the library uses (the platform's standard key texts).
namespace ErrorKey {
inline constexpr const char* LocalizedDescription = "NSLocalizedDescription";
inline constexpr const char* LocalizedFailureReason = "NSLocalizedFailureReason";
inline constexpr const char* LocalizedRecoverySuggestion = "NSLocalizedRecoverySuggestion";
inline constexpr const char* URLErrorFailingURL = "NSErrorFailingURLKey";
inline constexpr const char* UnderlyingError = "NSUnderlyingError";
}  // namespace ErrorKey

// The platform's URL error domain and the codes the library uses.
inline constexpr const char* URLErrorDomain = "NSURLErrorDomain";
namespace URLErrorCode {
inline constexpr long Cancelled = -999;
inline constexpr long BadURL = -1000;
inline constexpr long TimedOut = -1001;
inline constexpr long CannotFindHost = -1003;
inline constexpr long CannotConnectToHost = -1004;
inline constexpr long NetworkConnectionLost = -1005;
inline constexpr long NotConnectedToInternet = -1009;
inline constexpr long BadServerResponse = -1011;
inline constexpr long UserAuthenticationRequired = -1013;
inline constexpr long CannotDecodeContentData = -1016;
inline constexpr long SecureConnectionFailed = -1200;
inline constexpr long FileDoesNotExist = -1100;
}  // namespace URLErrorCode

// An error value: domain, integer code and user info. User-info entries that are property-list
// values live in `userInfo` (a dictionary, in insertion order of the keys as added); entries
// that are objects (a request, a response) live in `objects`.
struct Error {
    std::string domain;
    long code = 0;
    Value userInfo = Value::object();
    std::map<std::string, std::any> objects;
    std::vector<std::string> keyOrder;  // order in which user-info entries were added

    Error() = default;
    Error(std::string domain, long code, Value userInfo = Value::object());

    // Adds a property-list entry, remembering the order.
    void setInfo(const std::string& key, Value value);
    void setObject(const std::string& key, std::any object);

    // The description entry, or "The operation couldn’t be completed. (<domain> error <code>.)".
    std::string localizedDescription() const;
    std::optional<std::string> localizedFailureReason() const;
    std::optional<std::string> localizedRecoverySuggestion() const;
    // "Error Domain=<domain> Code=<code> \"<description>\" UserInfo=<json>"
    std::string description() const;
};

}  // namespace rivlo
