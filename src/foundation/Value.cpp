#include "foundation/Value.h"

#include <plist/plist.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

namespace rivlo::PropertyList {
namespace {

struct PlistDeleter {
    void operator()(void* p) const {
        if (p) plist_free(static_cast<plist_t>(p));
    }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

// Seconds between 1970 and the property-list epoch (2001-01-01).
constexpr double kPlistEpoch = 978307200.0;

// A text as the list writer can store it again: valid UTF-8 without NUL characters. A damaged
// file or a foreign writer can hold bytes that are neither (an "ASCII" string with high bytes, a
// NUL); the writer would cut such a text short or drop it, so a value read would not survive
// the next write. Each byte that does not start a well-formed character, and each NUL, becomes
// U+FFFD; everything else is kept byte for byte.
std::string storableText(const char* s, size_t length) {
    static constexpr char kReplacement[] = "\xEF\xBF\xBD";
    std::string out;
    out.reserve(length);
    const auto* p = reinterpret_cast<const unsigned char*>(s);
    size_t i = 0;
    while (i < length) {
        const unsigned char c = p[i];
        size_t n = 0;
        uint32_t min = 0;
        if (c >= 0x01 && c < 0x80) {
            out += static_cast<char>(c);
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            n = 1, min = 0x80;
        } else if (c >= 0xE0 && c <= 0xEF) {
            n = 2, min = 0x800;
        } else if (c >= 0xF0 && c <= 0xF4) {
            n = 3, min = 0x10000;
        }
        bool ok = n > 0;
        uint32_t code = n == 1 ? (c & 0x1Fu) : n == 2 ? (c & 0x0Fu) : (c & 0x07u);
        for (size_t k = 1; ok && k <= n; ++k) {
            if (i + k >= length || (p[i + k] & 0xC0) != 0x80)
                ok = false;
            else
                code = (code << 6) | (p[i + k] & 0x3Fu);
        }
        ok = ok && code >= min && code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF);
        if (ok) {
            out.append(s + i, n + 1);
            i += n + 1;
        } else {
            out += kReplacement;
            ++i;
        }
    }
    return out;
}

// A binary list whose strings hold a NUL character: the list reader keeps such a dictionary key
// whole but its key getter checks the length against the C string and aborts the process, and a
// damaged file or a hostile answer can hold one. Before reading, every NUL in a string object of
// a copy of the bytes becomes a character the reader keeps (0xFF in a one-byte string, U+FFFD in
// a two-byte one), which storableText then shows as U+FFFD. Malformed tables are left for the
// reader to refuse.
std::string withoutNulInStrings(const std::string& bytes) {
    std::string out = bytes;
    const size_t size = out.size();
    if (size < 8 + 32) return out;
    const auto* p = reinterpret_cast<const unsigned char*>(out.data());
    auto bigEndian = [&](size_t at, size_t width) {
        uint64_t v = 0;
        for (size_t k = 0; k < width; ++k)
            v = (v << 8) | p[at + k];
        return v;
    };
    const size_t trailer = size - 32;
    const size_t offsetSize = p[trailer + 6];
    const uint64_t objects = bigEndian(trailer + 8, 8);
    const uint64_t table = bigEndian(trailer + 24, 8);
    if (offsetSize < 1 || offsetSize > 8 || table >= trailer ||
        objects > (trailer - table) / offsetSize)
        return out;
    for (uint64_t i = 0; i < objects; ++i) {
        const uint64_t at = bigEndian(static_cast<size_t>(table + i * offsetSize), offsetSize);
        if (at < 8 || at >= trailer) continue;
        const unsigned kind = p[at] >> 4;
        if (kind != 0x5 && kind != 0x6) continue;
        uint64_t length = p[at] & 0x0F;
        uint64_t start = at + 1;
        if (length == 0x0F) {
            // The length follows as an integer object of 1, 2, 4 or 8 bytes.
            if (start >= trailer || (p[start] >> 4) != 0x1) continue;
            const size_t width = size_t{1} << (p[start] & 0x03);
            if (start + 1 + width > trailer) continue;
            length = bigEndian(static_cast<size_t>(start + 1), width);
            start += 1 + width;
        }
        const uint64_t unit = kind == 0x5 ? 1 : 2;
        if (length > (trailer - start) / unit) continue;
        for (uint64_t k = 0; k < length; ++k) {
            char* c = out.data() + start + k * unit;
            if (unit == 1 && c[0] == '\0') {
                c[0] = '\xFF';
            } else if (unit == 2 && c[0] == '\0' && c[1] == '\0') {
                c[0] = '\xFF';
                c[1] = '\xFD';
            }
        }
    }
    return out;
}

Value fromPlist(plist_t node, int depth) {
    if (!node || depth > 256) return nullptr;
    switch (plist_get_node_type(node)) {
        case PLIST_BOOLEAN: {
            uint8_t b = 0;
            plist_get_bool_val(node, &b);
            return Value(b != 0);
        }
        case PLIST_UINT: {
            uint64_t u = 0;
            plist_get_uint_val(node, &u);
            // Negative integers are stored as their two's complement.
            return Value(static_cast<int64_t>(u));
        }
        case PLIST_REAL: {
            double d = 0;
            plist_get_real_val(node, &d);
            return Value(d);
        }
        case PLIST_STRING: {
            // By pointer and length: a string holding a NUL character (possible in a binary
            // list from the service or a damaged file) makes the copying getter abort the
            // process on its own consistency check.
            uint64_t length = 0;
            const char* s = plist_get_string_ptr(node, &length);
            return s ? Value(storableText(s, static_cast<size_t>(length))) : Value("");
        }
        case PLIST_KEY: {
            char* s = nullptr;
            plist_get_key_val(node, &s);
            Value v = s ? Value(storableText(s, std::strlen(s))) : Value("");
            free(s);
            return v;
        }
        case PLIST_DATA: {
            char* bytes = nullptr;
            uint64_t length = 0;
            plist_get_data_val(node, &bytes, &length);
            Data d(reinterpret_cast<uint8_t*>(bytes), reinterpret_cast<uint8_t*>(bytes) + length);
            free(bytes);
            return Value::binary(std::move(d));
        }
        case PLIST_DATE: {
            int32_t sec = 0, usec = 0;
            plist_get_date_val(node, &sec, &usec);
            return Value(kPlistEpoch + sec + usec / 1e6);
        }
        case PLIST_ARRAY: {
            Value arr = Value::array();
            uint32_t n = plist_array_get_size(node);
            for (uint32_t i = 0; i < n; ++i)
                arr.push_back(fromPlist(plist_array_get_item(node, i), depth + 1));
            return arr;
        }
        case PLIST_DICT: {
            Value dict = Value::object();
            plist_dict_iter it = nullptr;
            plist_dict_new_iter(node, &it);
            for (;;) {
                char* key = nullptr;
                plist_t val = nullptr;
                plist_dict_next_item(node, it, &key, &val);
                if (!val) {
                    free(key);
                    break;
                }
                if (key) dict[storableText(key, std::strlen(key))] = fromPlist(val, depth + 1);
                free(key);
            }
            free(it);
            return dict;
        }
        default:
            return nullptr;
    }
}

// Returns nullptr for values that cannot be stored (null, NaN).
plist_t toPlist(const Value& v) {
    switch (v.type()) {
        case Value::value_t::boolean:
            return plist_new_bool(v.get<bool>() ? 1 : 0);
        case Value::value_t::number_integer:
            return plist_new_uint(static_cast<uint64_t>(v.get<int64_t>()));
        case Value::value_t::number_unsigned:
            return plist_new_uint(v.get<uint64_t>());
        case Value::value_t::number_float: {
            double d = v.get<double>();
            if (std::isnan(d)) return nullptr;
            return plist_new_real(d);
        }
        case Value::value_t::string:
            return plist_new_string(v.get_ref<const std::string&>().c_str());
        case Value::value_t::binary: {
            const auto& bin = v.get_binary();
            return plist_new_data(reinterpret_cast<const char*>(bin.data()), bin.size());
        }
        case Value::value_t::array: {
            plist_t arr = plist_new_array();
            for (const auto& item : v) {
                if (plist_t p = toPlist(item)) plist_array_append_item(arr, p);
            }
            return arr;
        }
        case Value::value_t::object: {
            plist_t dict = plist_new_dict();
            for (auto it = v.begin(); it != v.end(); ++it) {
                if (plist_t p = toPlist(it.value())) plist_dict_set_item(dict, it.key().c_str(), p);
            }
            return dict;
        }
        default:
            return nullptr;
    }
}

}  // namespace

std::optional<Value> fromJSON(const std::string& text) {
    Value v = Value::parse(text, nullptr, false);
    if (v.is_discarded()) return std::nullopt;
    return v;
}

std::string toJSON(const Value& value, bool pretty) {
    // Data has no JSON form; it is written as base64-free byte arrays by nlohmann's default
    // binary handling, so callers should not hand data here.
    return value.dump(pretty ? 2 : -1, ' ', false, Value::error_handler_t::replace);
}

std::optional<Value> read(const std::string& bytes) {
    if (bytes.empty() || bytes.size() > std::numeric_limits<uint32_t>::max()) return std::nullopt;
    plist_t root = nullptr;
    if (bytes.size() >= 8 && bytes.compare(0, 6, "bplist") == 0) {
        const std::string safe = withoutNulInStrings(bytes);
        plist_from_bin(safe.data(), static_cast<uint32_t>(safe.size()), &root);
    } else {
        // The XML reader wants a document that starts with '<' (after white space).
        auto first = bytes.find_first_not_of(" \t\r\n");
        if (first == std::string::npos || bytes[first] != '<') return std::nullopt;
        plist_from_xml(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
    }
    if (!root) return std::nullopt;
    PlistPtr holder(root);
    return fromPlist(root, 0);
}

std::string write(const Value& value, Format format) {
    plist_t root = toPlist(value);
    if (!root) return std::string();
    PlistPtr holder(root);
    char* out = nullptr;
    uint32_t length = 0;
    if (format == Format::Binary) {
        plist_to_bin(root, &out, &length);
    } else {
        plist_to_xml(root, &out, &length);
    }
    std::string result = out ? std::string(out, length) : std::string();
    if (format == Format::Binary) {
        plist_to_bin_free(out);
    } else {
        plist_to_xml_free(out);
    }
    return result;
}

Value data(const Data& bytes) {
    return Value::binary(Data(bytes));
}

Value data(const std::string& bytes) {
    return Value::binary(Data(bytes.begin(), bytes.end()));
}

bool isData(const Value& value) {
    return value.is_binary();
}

Data dataBytes(const Value& value) {
    if (!value.is_binary()) return {};
    const auto& bin = value.get_binary();
    return Data(bin.begin(), bin.end());
}

std::string text(const Value& dict, const std::string& key, const std::string& fallback) {
    auto v = optionalText(dict, key);
    return v ? *v : fallback;
}

std::optional<std::string> optionalText(const Value& dict, const std::string& key) {
    if (!dict.is_object()) return std::nullopt;
    auto it = dict.find(key);
    if (it == dict.end() || !it->is_string()) return std::nullopt;
    return it->get<std::string>();
}

int64_t integer(const Value& dict, const std::string& key, int64_t fallback) {
    if (!dict.is_object()) return fallback;
    auto it = dict.find(key);
    if (it == dict.end()) return fallback;
    if (it->is_number_integer()) return it->get<int64_t>();
    if (it->is_number_float()) {
        double d = it->get<double>();
        if (!std::isfinite(d) || d > 9.2e18 || d < -9.2e18) return fallback;
        return static_cast<int64_t>(d);
    }
    if (it->is_boolean()) return it->get<bool>() ? 1 : 0;
    return fallback;
}

double number(const Value& dict, const std::string& key, double fallback) {
    if (!dict.is_object()) return fallback;
    auto it = dict.find(key);
    if (it == dict.end()) return fallback;
    if (it->is_number()) return it->get<double>();
    if (it->is_boolean()) return it->get<bool>() ? 1 : 0;
    return fallback;
}

bool boolean(const Value& dict, const std::string& key, bool fallback) {
    if (!dict.is_object()) return fallback;
    auto it = dict.find(key);
    if (it == dict.end()) return fallback;
    if (it->is_boolean()) return it->get<bool>();
    if (it->is_number()) return it->get<double>() != 0;
    return fallback;
}

}  // namespace rivlo::PropertyList
