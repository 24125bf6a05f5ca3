#pragma once

#include <optional>
#include <string>

namespace rivlo {

// Where the service lives. The base URL is a fixed HTTPS endpoint; the library's options (or,
// before the library started, the environment variable RIVLO_SERVICE_URL) replace it (plain
// http only towards the loopback interface, for local work with the reference collector), and
// name an extra certificate bundle to trust (RIVLO_CA_FILE). Certificate and host verification
// always stay on. Any thread; until configure() the environment is read at each call.
class RVServiceConfig {
  public:
    static constexpr const char* kDefaultBaseURL = "https://service.rivlo.com/";

    // The base URL every request path is resolved against, ending in "/". An unusable
    // RIVLO_SERVICE_URL is logged and the default is used.
    static std::string serviceBaseURL();
    // The value RIVLO_SERVICE_URL would give, or the reason it cannot be used.
    struct Override {
        std::optional<std::string> baseURL;
        std::string problem;
    };
    static Override checkOverride(const std::string& text);
    // The extra certificate bundle, when RIVLO_CA_FILE names a readable file (logged otherwise).
    static std::optional<std::string> caFile();
    // True for "localhost", "127.x.x.x" and "::1" / "[::1]".
    static bool isLoopbackHost(const std::string& host);

    // What the library was started with (already checked): from here on the environment is not
    // read. A base URL of nullopt means the built-in one, a CA file of nullopt none.
    static void configure(const std::optional<std::string>& baseURL,
                          const std::optional<std::string>& caFile);
    // Back to reading the environment (the library closing).
    static void forgetConfiguration();
};

}  // namespace rivlo
