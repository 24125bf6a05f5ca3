#include "core/RVServiceConfig.h"

#include "foundation/Log.h"
#include "foundation/URL.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <mutex>
#include <unistd.h>

namespace rivlo {

namespace {

struct Configuration {
    std::optional<std::string> baseURL;
    std::optional<std::string> caFile;
};
std::mutex gMutex;
std::optional<Configuration> gConfiguration;  // guarded by gMutex; set while the library runs

std::optional<Configuration> configuration() {
    std::lock_guard lock(gMutex);
    return gConfiguration;
}

std::string lowercase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

}  // namespace

bool RVServiceConfig::isLoopbackHost(const std::string& hostText) {
    const std::string host = lowercase(hostText);
    if (host == "localhost" || host == "::1" || host == "[::1]") return true;
    if (host.rfind("127.", 0) != 0) return false;
    // A dotted IPv4 address in 127.0.0.0/8: four numeric parts.
    int parts = 1;
    for (char c : host) {
        if (c == '.') {
            ++parts;
        } else if (!std::isdigit(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return parts == 4;
}

RVServiceConfig::Override RVServiceConfig::checkOverride(const std::string& text) {
    Override result;
    const auto url = URL::parse(text);
    if (!url) {
        result.problem = "not a URL";
        return result;
    }
    const std::string scheme = lowercase(url->scheme());
    const std::string host = url->host();
    if (host.empty()) {
        result.problem = "no host";
        return result;
    }
    if (scheme == "http") {
        if (!isLoopbackHost(host)) {
            result.problem = "plain http is only allowed towards the loopback interface";
            return result;
        }
    } else if (scheme != "https") {
        result.problem = "scheme must be https";
        return result;
    }
    std::string base = text;
    // Paths resolve against the base, so it must end in "/" to keep its own path.
    const auto query = base.find_first_of("?#");
    if (query != std::string::npos) base.erase(query);
    if (base.empty() || base.back() != '/') base += '/';
    result.baseURL = base;
    return result;
}

void RVServiceConfig::configure(const std::optional<std::string>& baseURL,
                                const std::optional<std::string>& caFile) {
    std::lock_guard lock(gMutex);
    gConfiguration = Configuration{baseURL, caFile};
}

void RVServiceConfig::forgetConfiguration() {
    std::lock_guard lock(gMutex);
    gConfiguration.reset();
}

std::string RVServiceConfig::serviceBaseURL() {
    if (auto configured = configuration()) return configured->baseURL.value_or(kDefaultBaseURL);
    const char* text = std::getenv("RIVLO_SERVICE_URL");
    if (!text || !*text) return kDefaultBaseURL;
    const Override checked = checkOverride(text);
    if (checked.baseURL) return *checked.baseURL;
    Log::line(std::string("Rivlo: RIVLO_SERVICE_URL \"") + text + "\" cannot be used (" +
              checked.problem + "); using " + kDefaultBaseURL);
    return kDefaultBaseURL;
}

std::optional<std::string> RVServiceConfig::caFile() {
    if (auto configured = configuration()) return configured->caFile;
    const char* path = std::getenv("RIVLO_CA_FILE");
    if (!path || !*path) return std::nullopt;
    if (::access(path, R_OK) != 0) {
        Log::line(std::string("Rivlo: RIVLO_CA_FILE \"") + path +
                  "\" is not a readable file; trusting the system certificates only.");
        return std::nullopt;
    }
    return std::string(path);
}

}  // namespace rivlo
