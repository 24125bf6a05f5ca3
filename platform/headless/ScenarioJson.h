#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace rivlo {

// A JSON value that remembers the line it starts on, so that scenario files can be refused
// with the line of the offending value. Strict JSON (RFC 8259); nesting is limited to 64 levels.
struct JsonNode {
    struct Member;
    enum class Type { Null, Bool, Number, String, Array, Object };
    Type type = Type::Null;
    int line = 1;
    bool boolean = false;
    double number = 0;
    std::string string;
    std::vector<JsonNode> items;  // arrays
    std::vector<Member> members;  // objects, in file order

    const JsonNode* get(const std::string& key) const;
    bool isNumber() const { return type == Type::Number; }
    bool isString() const { return type == Type::String; }
    bool isObject() const { return type == Type::Object; }
    bool isArray() const { return type == Type::Array; }
    static const char* typeName(Type type);

    // Parses a whole text. On failure answers nullopt with the line and the reason.
    static std::optional<JsonNode> parse(const std::string& text, int& errorLine,
                                         std::string& errorReason);
};

// A member of an object. Not a std::pair: a pair cannot hold the node type it is declared in
// (an incomplete type), which some standard libraries refuse to instantiate.
struct JsonNode::Member {
    std::string first;
    JsonNode second;
};

}  // namespace rivlo
