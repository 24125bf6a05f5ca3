#include "http/RVAFQueryStringPair.h"

#include "http/RVAFStringEncoding.h"

#include <algorithm>

namespace rivlo {

namespace {

// ASCII rules throughout, never the process locale's: under a single-byte locale the C
// library calls bytes above 127 letters (0xC3 is A with a tilde in Latin-1), which would
// leave the bytes of UTF-8 text unescaped and reorder the keys.
bool isAsciiAlnum(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

unsigned char asciiLower(unsigned char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

bool isUnescaped(unsigned char c) {
    if (isAsciiAlnum(c)) return true;
    switch (c) {
        case '-':
        case '_':
        case '.':
        case '*':
        case '\'':
        case ',':
        case '[':
        case ']':
            return true;
        default:
            return false;
    }
}

// Case-insensitive ordering of texts (ASCII letters compared by their lower-case forms, other
// bytes by value); equal texts under that rule keep a stable byte order so the output never
// depends on chance.
bool caseInsensitiveLess(const std::string& a, const std::string& b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const unsigned char ca = asciiLower(static_cast<unsigned char>(a[i]));
        const unsigned char cb = asciiLower(static_cast<unsigned char>(b[i]));
        if (ca != cb) return ca < cb;
    }
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;
}

void appendPairs(const std::optional<std::string>& key, const Value& value,
                 std::vector<RVAFQueryStringPair>& out) {
    if (value.is_object()) {
        std::vector<std::string> keys;
        keys.reserve(value.size());
        for (auto it = value.begin(); it != value.end(); ++it)
            keys.push_back(it.key());
        std::sort(keys.begin(), keys.end(), caseInsensitiveLess);
        for (const auto& inner : keys) {
            const std::string nested = key ? *key + "[" + inner + "]" : inner;
            appendPairs(nested, value.at(inner), out);
        }
    } else if (value.is_array()) {
        const std::string nested = key.value_or("") + "[]";
        for (const auto& element : value)
            appendPairs(nested, element, out);
    } else {
        out.emplace_back(key.value_or(""), value);
    }
}

}  // namespace

std::string RVAFPercentEscapedQueryStringPairMemberFromStringWithEncoding(const std::string& text,
                                                                          unsigned encoding) {
    const auto bytes = RVAFEncodeString(text, encoding);
    if (!bytes) return "";
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes->size() * 3);
    for (const char ch : *bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (isUnescaped(c)) {
            out.push_back(ch);
        } else {
            out.push_back('%');
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 0x0F]);
        }
    }
    return out;
}

std::string RVAFQueryStringPair::URLEncodedStringValueWithEncoding(unsigned encoding) const {
    const std::string escapedField =
        RVAFPercentEscapedQueryStringPairMemberFromStringWithEncoding(field, encoding);
    if (value.is_null()) return escapedField;
    return escapedField + "=" +
           RVAFPercentEscapedQueryStringPairMemberFromStringWithEncoding(
               RVAFDescriptionOfValue(value), encoding);
}

std::vector<RVAFQueryStringPair> RVAFQueryStringPairsFromKeyAndValue(
    const std::optional<std::string>& key, const Value& value) {
    std::vector<RVAFQueryStringPair> out;
    appendPairs(key, value, out);
    return out;
}

std::vector<RVAFQueryStringPair> RVAFQueryStringPairsFromDictionary(const Value& dictionary) {
    return RVAFQueryStringPairsFromKeyAndValue(std::nullopt, dictionary);
}

std::string RVAFQueryStringFromParametersWithEncoding(const Value& parameters, unsigned encoding) {
    std::string out;
    bool first = true;
    for (const auto& pair : RVAFQueryStringPairsFromDictionary(parameters)) {
        if (!first) out += '&';
        first = false;
        out += pair.URLEncodedStringValueWithEncoding(encoding);
    }
    return out;
}

}  // namespace rivlo
