#include "foundation/Value.h"

#include <plist/plist.h>

#include <cmath>
#include <cstdlib>
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
            // process on its own consistency check. The bytes are kept as they are.
            uint64_t length = 0;
            const char* s = plist_get_string_ptr(node, &length);
            return s ? Value(std::string(s, length)) : Value("");
        }
        case PLIST_KEY: {
            char* s = nullptr;
            plist_get_key_val(node, &s);
            Value v = s ? Value(std::string(s)) : Value("");
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
                if (key) dict[std::string(key)] = fromPlist(val, depth + 1);
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
        plist_from_bin(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
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
