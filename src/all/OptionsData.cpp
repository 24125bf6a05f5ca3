#include "all/OptionsData.h"

#include "core/RVServiceConfig.h"
#include "foundation/Log.h"

#include <cmath>
#include <cstdlib>

#include <unistd.h>

namespace rivlo {

namespace {

bool usableLength(double value, double limit) {
    return std::isfinite(value) && value > 0 && value <= limit;
}

}  // namespace

Options::Data Options::Data::fromEnvironment() {
    Data data;
    data.device = LinuxDeviceConfig::fromEnvironment();
    // Both log an unusable value once and fall back.
    const std::string base = RVServiceConfig::serviceBaseURL();
    if (base != RVServiceConfig::kDefaultBaseURL) data.serviceBaseURL = base;
    data.caFile = RVServiceConfig::caFile();
    return data;
}

int Options::Data::setServiceURL(const char* function, const std::string& url) {
    if (url.empty()) {
        serviceBaseURL.reset();
        return RIVLO_OK;
    }
    const RVServiceConfig::Override checked = RVServiceConfig::checkOverride(url);
    if (!checked.baseURL) {
        RVLog("Rivlo: %s: \"%s\" cannot be used (%s); ignored", function, url.c_str(),
              checked.problem.c_str());
        return RIVLO_ERROR_INVALID_ARGUMENT;
    }
    serviceBaseURL = *checked.baseURL;
    return RIVLO_OK;
}

int Options::Data::setCAFile(const char* function, const std::string& path) {
    if (path.empty()) {
        caFile.reset();
        return RIVLO_OK;
    }
    if (::access(path.c_str(), R_OK) != 0) {
        RVLog("Rivlo: %s: \"%s\" is not a readable file; ignored", function, path.c_str());
        return RIVLO_ERROR_INVALID_ARGUMENT;
    }
    caFile = path;
    return RIVLO_OK;
}

int Options::Data::setScreen(const char* function, double width, double height, double scale) {
    if (!usableLength(width, 1e5) || !usableLength(height, 1e5) || !usableLength(scale, 16)) {
        RVLog("Rivlo: %s: %g x %g @ %g is not a screen; ignored", function, width, height, scale);
        return RIVLO_ERROR_INVALID_ARGUMENT;
    }
    device.screenBounds = Rect(0, 0, width, height);
    device.screenScale = scale;
    return RIVLO_OK;
}

int Options::Data::setIdiom(const char* function, const std::string& idiom) {
    if (idiom == "phone") {
        device.idiom = UserInterfaceIdiom::Phone;
    } else if (idiom == "pad") {
        device.idiom = UserInterfaceIdiom::Pad;
    } else if (idiom == "unspecified") {
        device.idiom = UserInterfaceIdiom::Unspecified;
    } else {
        RVLog("Rivlo: %s: \"%s\" is not phone, pad or unspecified; ignored", function,
              idiom.c_str());
        return RIVLO_ERROR_INVALID_ARGUMENT;
    }
    return RIVLO_OK;
}

}  // namespace rivlo
