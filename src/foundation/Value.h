#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <vector>

namespace rivlo {

// One dynamic value for dictionaries, arrays, texts, numbers, booleans and data (the binary
// type) — the property-list values the library stores and sends.
using Value = nlohmann::json;
using Data = std::vector<uint8_t>;

namespace PropertyList {

enum class Format { XML, Binary };

// JSON text. Throws nothing: an unreadable text gives std::nullopt.
std::optional<Value> fromJSON(const std::string& text);
std::string toJSON(const Value& value, bool pretty = false);

// Property-list bytes (XML or binary, detected). std::nullopt when unreadable. Dates become
// numbers (seconds since 1970).
std::optional<Value> read(const std::string& bytes);
// Null values cannot be stored in a property list: they are left out of dictionaries and
// arrays. Returns an empty text when the value cannot be written.
std::string write(const Value& value, Format format);

// Data helpers.
Value data(const Data& bytes);
Value data(const std::string& bytes);
bool isData(const Value& value);
Data dataBytes(const Value& value);

// Typed readers that never throw: the fallback when the value is missing or of another type.
std::string text(const Value& dict, const std::string& key, const std::string& fallback = "");
std::optional<std::string> optionalText(const Value& dict, const std::string& key);
int64_t integer(const Value& dict, const std::string& key, int64_t fallback = 0);
double number(const Value& dict, const std::string& key, double fallback = 0);
bool boolean(const Value& dict, const std::string& key, bool fallback = false);

}  // namespace PropertyList
}  // namespace rivlo
