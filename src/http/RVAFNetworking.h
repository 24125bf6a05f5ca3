#pragma once

namespace rivlo {

// Error domain of the HTTP client's own errors (bad file URLs, unacceptable responses).
inline constexpr const char* RVAFNetworkingErrorDomain = "RVAFNetworkingErrorDomain";
// User-info keys of those errors holding the failing request and response (as objects).
inline constexpr const char* RVAFNetworkingOperationFailingURLRequestErrorKey =
    "RVAFNetworkingOperationFailingURLRequestErrorKey";
inline constexpr const char* RVAFNetworkingOperationFailingURLResponseErrorKey =
    "RVAFNetworkingOperationFailingURLResponseErrorKey";

// The platform's URL error code for a request body that ended before its declared length.
inline constexpr long RVAFURLErrorRequestBodyStreamExhausted = -1021;

// Posted with the operation as the object when a connection operation starts and finishes.
inline constexpr const char* RVAFNetworkingOperationDidStartNotification =
    "com.rivlo.networking.operation.start";
inline constexpr const char* RVAFNetworkingOperationDidFinishNotification =
    "com.rivlo.networking.operation.finish";

// Posted (no object) on every reachability change of a client's base URL host.
inline constexpr const char* RVAFNetworkingReachabilityDidChangeNotification =
    "com.rivlo.networking.reachability.change";
inline constexpr const char* RVAFNetworkingReachabilityNotificationStatusItem =
    "RVAFNetworkingReachabilityNotificationStatusItem";

}  // namespace rivlo
