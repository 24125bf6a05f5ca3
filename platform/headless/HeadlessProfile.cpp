#include "platform/headless/HeadlessProfile.h"

namespace rivlo {

namespace {

bool readString(const Value& v, const char* key, std::string& out, std::string& error) {
    if (!v.contains(key)) return true;
    if (!v[key].is_string()) {
        error = std::string("\"") + key + "\" must be a text";
        return false;
    }
    out = v[key].get<std::string>();
    return true;
}

bool readNumber(const Value& v, const char* key, double& out, std::string& error) {
    if (!v.contains(key)) return true;
    if (!v[key].is_number()) {
        error = std::string("\"") + key + "\" must be a number";
        return false;
    }
    out = v[key].get<double>();
    return true;
}

bool readBool(const Value& v, const char* key, bool& out, std::string& error) {
    if (!v.contains(key)) return true;
    if (!v[key].is_boolean()) {
        error = std::string("\"") + key + "\" must be true or false";
        return false;
    }
    out = v[key].get<bool>();
    return true;
}

}  // namespace

bool HeadlessProfile::fromValue(const Value& v, HeadlessProfile& p, std::string& error) {
    if (!v.is_object()) {
        error = "the profile must be an object";
        return false;
    }
    double idiom = p.idiom, width = p.screenBounds.width(), height = p.screenBounds.height();
    std::string network;
    bool ok = readString(v, "systemName", p.systemName, error) &&
              readString(v, "systemVersion", p.systemVersion, error) &&
              readString(v, "machine", p.machineIdentifier, error) &&
              readString(v, "name", p.deviceName, error) &&
              readString(v, "model", p.model, error) && readNumber(v, "idiom", idiom, error) &&
              readNumber(v, "screenWidth", width, error) &&
              readNumber(v, "screenHeight", height, error) &&
              readNumber(v, "scale", p.screenScale, error) &&
              readString(v, "vendorIdentifier", p.vendorIdentifier, error) &&
              readBool(v, "camera", p.hasCamera, error) &&
              readBool(v, "frontCamera", p.frontCamera, error) &&
              readBool(v, "cameraAccessDenied", p.cameraAccessDenied, error) &&
              readBool(v, "microphone", p.microphone, error) &&
              readString(v, "network", network, error) &&
              readString(v, "sandbox", p.sandboxDirectory, error) &&
              readNumber(v, "backgroundTaskAllowance", p.backgroundTaskAllowance, error);
    if (!ok) return false;
    if (idiom != -1 && idiom != 0 && idiom != 1) {
        error = "\"idiom\" must be -1, 0 or 1";
        return false;
    }
    p.idiom = static_cast<int>(idiom);
    if (!(width > 0 && height > 0 && width < 100000 && height < 100000)) {
        error = "the screen size must be positive";
        return false;
    }
    p.screenBounds = Rect(0, 0, width, height);
    if (!(p.screenScale >= 1 && p.screenScale <= 4)) {
        error = "\"scale\" must be between 1 and 4";
        return false;
    }
    if (!network.empty()) {
        if (network == "wifi")
            p.network = NetworkStatus::WiFi;
        else if (network == "cellular")
            p.network = NetworkStatus::Cellular;
        else if (network == "none")
            p.network = NetworkStatus::None;
        else {
            error = "\"network\" must be \"wifi\", \"cellular\" or \"none\"";
            return false;
        }
    }
    if (v.contains("languages")) {
        const Value& l = v["languages"];
        if (!l.is_array()) {
            error = "\"languages\" must be a list of texts";
            return false;
        }
        p.preferredLanguages.clear();
        for (const auto& item : l) {
            if (!item.is_string()) {
                error = "\"languages\" must be a list of texts";
                return false;
            }
            p.preferredLanguages.push_back(item.get<std::string>());
        }
    }
    if (v.contains("bundle")) {
        const Value& b = v["bundle"];
        if (!b.is_object()) {
            error = "\"bundle\" must be an object";
            return false;
        }
        auto opt = [&](const char* key, std::optional<std::string>& out) {
            if (!b.contains(key)) return true;
            if (b[key].is_null()) {
                out.reset();
                return true;
            }
            if (!b[key].is_string()) {
                error = std::string("bundle \"") + key + "\" must be a text";
                return false;
            }
            out = b[key].get<std::string>();
            return true;
        };
        if (!opt("displayName", p.bundle.displayName) || !opt("name", p.bundle.bundleName) ||
            !opt("executable", p.bundle.executable) || !opt("identifier", p.bundle.identifier) ||
            !opt("version", p.bundle.version) || !opt("shortVersion", p.bundle.shortVersion)) {
            return false;
        }
    }
    return true;
}

}  // namespace rivlo
