#include "CollectorNames.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include <openssl/evp.h>
#include <openssl/rand.h>

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

std::string CollectorNames::newInstallationId() {
    unsigned char bytes[16];
    if (RAND_bytes(bytes, sizeof bytes) != 1) std::abort();  // no randomness: nothing is safe
    static const char* const kHex = "0123456789abcdef";
    std::string out;
    for (unsigned char b : bytes) {
        out.push_back(kHex[b >> 4]);
        out.push_back(kHex[b & 0x0f]);
    }
    return out;
}

namespace {

// The length of the well-formed UTF-8 sequence at `at` and its code point, or 0.
size_t sequenceAt(const std::string& text, size_t at, uint32_t& code) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    size_t length;
    if (lead < 0x80) {
        code = lead;
        return 1;
    } else if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
        code = lead & 0x1f;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        code = lead & 0x0f;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        code = lead & 0x07;
    } else {
        return 0;
    }
    if (at + length > text.size()) return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xc0) != 0x80) return 0;
        code = (code << 6) | (byte(at + i) & 0x3f);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    if ((length == 3 && code < 0x800) || (length == 4 && (code < 0x10000 || code > 0x10ffff)) ||
        (code >= 0xd800 && code <= 0xdfff)) {
        return 0;
    }
    return length;
}

}  // namespace

bool CollectorNames::isUtf8(const std::string& text) {
    uint32_t code = 0;
    for (size_t at = 0; at < text.size();) {
        const size_t length = sequenceAt(text, at, code);
        if (length == 0) return false;
        at += length;
    }
    return true;
}

std::string CollectorNames::storable(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    uint32_t code = 0;
    for (size_t at = 0; at < text.size();) {
        const size_t length = sequenceAt(text, at, code);
        if (length == 0 || code == 0) {
            out += "\xEF\xBF\xBD";
            at += length == 0 ? 1 : length;
            continue;
        }
        out.append(text, at, length);
        at += length;
    }
    return out;
}

std::string CollectorNames::quoted(const std::string& text) {
    std::string out = "\"";
    uint32_t code = 0;
    char escape[16];
    for (size_t at = 0; at < text.size();) {
        const size_t length = sequenceAt(text, at, code);
        if (length == 0) {
            std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned char>(text[at]));
            out += escape;
            ++at;
            continue;
        }
        if (code == '"' || code == '\\') {
            out.push_back('\\');
            out.push_back(static_cast<char>(code));
        } else if (code == '\n') {
            out += "\\n";
        } else if (code == '\r') {
            out += "\\r";
        } else if (code == '\t') {
            out += "\\t";
        } else if (code < 0x20 || code == 0x7f) {
            std::snprintf(escape, sizeof escape, "\\x%02x", code);
            out += escape;
        } else if ((code >= 0x80 && code <= 0x9f) || code == 0x2028 || code == 0x2029 ||
                   (code >= 0x202a && code <= 0x202e) || (code >= 0x2066 && code <= 0x2069) ||
                   code == 0x200e || code == 0x200f || code == 0x061c) {
            std::snprintf(escape, sizeof escape, "\\u%04x", code);
            out += escape;
        } else {
            out.append(text, at, length);
        }
        at += length;
    }
    return out + "\"";
}

bool CollectorNames::isSafeFileName(const std::string& name) {
    if (name.empty() || name.size() > 200 || name == "." || name == "..") return false;
    if (!isUtf8(name)) return false;
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
