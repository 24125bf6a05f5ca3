#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace rivlo::demo {

// Never-throwing reads of what arrived: a document may hold any type under any key.

// A text value as it stands, another value in its JSON form, "" when absent.
inline std::string textOf(const nlohmann::json& o, const char* key) {
    if (!o.is_object() || !o.contains(key)) return {};
    const auto& v = o[key];
    return v.is_string() ? v.get<std::string>() : v.dump();
}

// A number, or a numeric text; `fallback` otherwise.
inline double numberOf(const nlohmann::json& v, double fallback) {
    if (v.is_number()) return v.get<double>();
    if (v.is_string()) {
        try {
            return std::stod(v.get<std::string>());
        } catch (...) {
        }
    }
    return fallback;
}

inline double numberOf(const nlohmann::json& o, const char* key, double fallback) {
    if (!o.is_object() || !o.contains(key)) return fallback;
    return numberOf(o[key], fallback);
}

// A coordinate record: a list of exactly eight numbers.
inline bool isRecord(const nlohmann::json& r) {
    if (!r.is_array() || r.size() != 8) return false;
    for (const auto& v : r) {
        if (!v.is_number()) return false;
    }
    return true;
}

// A list under a key, or an empty list.
inline const nlohmann::json& listOf(const nlohmann::json& o, const char* key) {
    static const nlohmann::json empty = nlohmann::json::array();
    if (!o.is_object() || !o.contains(key) || !o[key].is_array()) return empty;
    return o[key];
}

}  // namespace rivlo::demo
