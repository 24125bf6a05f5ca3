#include "http/RVAFStringEncoding.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>

namespace rivlo {

namespace {

// Decodes one UTF-8 sequence starting at `i`; returns false for malformed input.
bool nextCodePoint(const std::string& s, size_t& i, uint32_t& cp) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    size_t len = 0;
    if (b0 < 0x80) {
        cp = b0;
        len = 1;
    } else if ((b0 & 0xE0) == 0xC0) {
        cp = b0 & 0x1F;
        len = 2;
    } else if ((b0 & 0xF0) == 0xE0) {
        cp = b0 & 0x0F;
        len = 3;
    } else if ((b0 & 0xF8) == 0xF0) {
        cp = b0 & 0x07;
        len = 4;
    } else {
        return false;
    }
    if (i + len > s.size()) return false;
    for (size_t k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) return false;
        cp = (cp << 6) | (b & 0x3F);
    }
    static constexpr uint32_t minimum[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < minimum[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += len;
    return true;
}

bool isValidUTF8(const std::string& s) {
    size_t i = 0;
    uint32_t cp = 0;
    while (i < s.size()) {
        if (!nextCodePoint(s, i, cp)) return false;
    }
    return true;
}

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

}  // namespace

std::optional<std::string> RVAFEncodeString(const std::string& utf8, unsigned encoding) {
    if (encoding == StringEncoding::UTF8) {
        if (!isValidUTF8(utf8)) return std::nullopt;
        return utf8;
    }
    if (encoding != StringEncoding::ASCII && encoding != StringEncoding::ISOLatin1) {
        return std::nullopt;
    }
    const uint32_t limit = encoding == StringEncoding::ASCII ? 0x7F : 0xFF;
    std::string out;
    out.reserve(utf8.size());
    size_t i = 0;
    uint32_t cp = 0;
    while (i < utf8.size()) {
        if (!nextCodePoint(utf8, i, cp) || cp > limit) return std::nullopt;
        out.push_back(static_cast<char>(cp));
    }
    return out;
}

std::optional<std::string> RVAFDecodeString(const std::string& bytes, unsigned encoding) {
    switch (encoding) {
        case StringEncoding::UTF8:
            if (!isValidUTF8(bytes)) return std::nullopt;
            return bytes;
        case StringEncoding::ASCII:
            for (const char c : bytes) {
                if (static_cast<unsigned char>(c) > 0x7F) return std::nullopt;
            }
            return bytes;
        case StringEncoding::ISOLatin1: {
            std::string out;
            out.reserve(bytes.size() + bytes.size() / 4);
            for (const char c : bytes) {
                const auto b = static_cast<unsigned char>(c);
                if (b < 0x80) {
                    out.push_back(c);
                } else {
                    out.push_back(static_cast<char>(0xC0 | (b >> 6)));
                    out.push_back(static_cast<char>(0x80 | (b & 0x3F)));
                }
            }
            return out;
        }
        default:
            return std::nullopt;
    }
}

std::string RVAFCharsetNameForEncoding(unsigned encoding) {
    switch (encoding) {
        case StringEncoding::UTF8:
            return "utf-8";
        case StringEncoding::ISOLatin1:
            return "iso-8859-1";
        case StringEncoding::ASCII:
            return "us-ascii";
        default:
            return "";
    }
}

unsigned RVAFEncodingForCharsetName(const std::string& name) {
    const std::string n = lower(name);
    if (n == "utf-8" || n == "utf8") return StringEncoding::UTF8;
    if (n == "iso-8859-1" || n == "latin1" || n == "iso_8859-1" || n == "iso-latin-1") {
        return StringEncoding::ISOLatin1;
    }
    if (n == "us-ascii" || n == "ascii") return StringEncoding::ASCII;
    return 0;
}

std::string RVAFDescriptionOfValue(const Value& value) {
    switch (value.type()) {
        case Value::value_t::string:
            return value.get<std::string>();
        case Value::value_t::boolean:
            return value.get<bool>() ? "1" : "0";
        case Value::value_t::number_integer:
            return std::to_string(value.get<int64_t>());
        case Value::value_t::number_unsigned:
            return std::to_string(value.get<uint64_t>());
        case Value::value_t::number_float: {
            char buf[64];
            const auto res = std::to_chars(buf, buf + sizeof buf, value.get<double>());
            return std::string(buf, res.ptr);
        }
        case Value::value_t::null:
            return "<null>";
        case Value::value_t::binary: {
            std::string out = "<";
            const auto& bytes = value.get_binary();
            for (size_t i = 0; i < bytes.size(); ++i) {
                char hex[3];
                std::snprintf(hex, sizeof hex, "%02x", bytes[i]);
                if (i > 0 && i % 4 == 0) out += ' ';
                out += hex;
            }
            return out + ">";
        }
        default:
            return value.dump();
    }
}

}  // namespace rivlo
