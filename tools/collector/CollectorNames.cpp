#include "CollectorNames.h"

#include <ctime>

#include <openssl/evp.h>

namespace rivlo::collector {

std::string CollectorNames::sha256Hex(const std::string& bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
    static const char* const kHex = "0123456789abcdef";
    std::string out;
    out.reserve(length * 2);
    for (unsigned int i = 0; i < length; ++i) {
        out.push_back(kHex[digest[i] >> 4]);
        out.push_back(kHex[digest[i] & 0x0f]);
    }
    return out;
}

std::string CollectorNames::appDeviceId(const std::string& appKey, const std::string& deviceId) {
    // The length prefix keeps ("ab", "c") and ("a", "bc") apart.
    std::string material = std::to_string(appKey.size()) + ":" + appKey + deviceId;
    return sha256Hex(material).substr(0, 24);
}

bool CollectorNames::isSafeFileName(const std::string& name) {
    if (name.empty() || name.size() > 200 || name == "." || name == "..") return false;
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7f || c == '/' || c == '\\') return false;
    }
    return true;
}

std::string CollectorNames::folderName(const std::string& text) {
    bool plain = !text.empty() && text.size() <= 64 && text != "." && text != "..";
    for (unsigned char c : text) {
        bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '.' || c == '_' || c == '-';
        if (!allowed) {
            plain = false;
            break;
        }
    }
    if (plain) return text;
    return "x-" + sha256Hex(text).substr(0, 16);
}

std::string CollectorNames::readableFolderName(const std::string& text) {
    std::string out;
    for (unsigned char c : text.substr(0, 40)) {
        bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '.' || c == '_' || c == '-';
        out.push_back(allowed ? static_cast<char>(c) : '_');
    }
    // A leading dot would hide the folder or form "." and "..".
    if (!out.empty() && out[0] == '.') out[0] = '_';
    return out.empty() ? std::string("app") : out;
}

std::string CollectorNames::printable(const std::string& text) {
    std::string out = text.substr(0, 200);
    for (char& c : out) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f) c = '?';
    }
    if (text.size() > 200) out += "...";
    return out;
}

std::string CollectorNames::utcNow() {
    std::time_t now = std::time(nullptr);
    std::tm parts{};
    gmtime_r(&now, &parts);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return stamp;
}

}  // namespace rivlo::collector
