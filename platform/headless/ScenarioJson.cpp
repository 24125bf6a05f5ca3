#include "platform/headless/ScenarioJson.h"

#include <cmath>
#include <cstdlib>

namespace rivlo {

const JsonNode* JsonNode::get(const std::string& key) const {
    for (const auto& [k, v] : members) {
        if (k == key) return &v;
    }
    return nullptr;
}

const char* JsonNode::typeName(Type t) {
    switch (t) {
        case Type::Null:
            return "null";
        case Type::Bool:
            return "a boolean";
        case Type::Number:
            return "a number";
        case Type::String:
            return "a text";
        case Type::Array:
            return "a list";
        case Type::Object:
            return "an object";
    }
    return "?";
}

namespace {

class Parser {
  public:
    explicit Parser(const std::string& text) : s_(text) {}

    bool parseDocument(JsonNode& out) {
        skipSpace();
        if (!parseValue(out, 0)) return false;
        skipSpace();
        if (pos_ != s_.size()) return fail("unexpected text after the end of the document");
        return true;
    }

    int line() const { return line_; }
    const std::string& reason() const { return reason_; }

  private:
    bool fail(const std::string& reason) {
        if (reason_.empty()) reason_ = reason;
        return false;
    }

    void skipSpace() {
        while (pos_ < s_.size()) {
            const char c = s_[pos_];
            if (c == '\n') {
                ++line_;
            } else if (c != ' ' && c != '\t' && c != '\r') {
                return;
            }
            ++pos_;
        }
    }

    bool parseValue(JsonNode& out, int depth) {
        if (depth > 64) return fail("nesting deeper than 64 levels");
        skipSpace();
        out.line = line_;
        if (pos_ >= s_.size()) return fail("unexpected end of the file");
        const char c = s_[pos_];
        if (c == '{') return parseObject(out, depth);
        if (c == '[') return parseArray(out, depth);
        if (c == '"') {
            out.type = JsonNode::Type::String;
            return parseString(out.string);
        }
        if (c == '-' || (c >= '0' && c <= '9')) return parseNumber(out);
        if (literal("true")) {
            out.type = JsonNode::Type::Bool;
            out.boolean = true;
            return true;
        }
        if (literal("false")) {
            out.type = JsonNode::Type::Bool;
            return true;
        }
        if (literal("null")) {
            out.type = JsonNode::Type::Null;
            return true;
        }
        return fail(std::string("unexpected character '") + c + "'");
    }

    bool literal(const char* word) {
        const size_t n = std::char_traits<char>::length(word);
        if (s_.compare(pos_, n, word) != 0) return false;
        pos_ += n;
        return true;
    }

    bool parseObject(JsonNode& out, int depth) {
        out.type = JsonNode::Type::Object;
        ++pos_;
        skipSpace();
        if (pos_ < s_.size() && s_[pos_] == '}') {
            ++pos_;
            return true;
        }
        while (true) {
            skipSpace();
            if (pos_ >= s_.size() || s_[pos_] != '"') return fail("expected a quoted key");
            std::string key;
            if (!parseString(key)) return false;
            for (const auto& m : out.members) {
                if (m.first == key) return fail("duplicate key \"" + key + "\"");
            }
            skipSpace();
            if (pos_ >= s_.size() || s_[pos_] != ':')
                return fail("expected ':' after \"" + key + "\"");
            ++pos_;
            JsonNode value;
            if (!parseValue(value, depth + 1)) return false;
            out.members.push_back({std::move(key), std::move(value)});
            skipSpace();
            if (pos_ < s_.size() && s_[pos_] == ',') {
                ++pos_;
                continue;
            }
            if (pos_ < s_.size() && s_[pos_] == '}') {
                ++pos_;
                return true;
            }
            if (pos_ >= s_.size()) return fail("unexpected end of the file");
            return fail("expected ',' or '}' in an object");
        }
    }

    bool parseArray(JsonNode& out, int depth) {
        out.type = JsonNode::Type::Array;
        ++pos_;
        skipSpace();
        if (pos_ < s_.size() && s_[pos_] == ']') {
            ++pos_;
            return true;
        }
        while (true) {
            JsonNode item;
            if (!parseValue(item, depth + 1)) return false;
            out.items.push_back(std::move(item));
            skipSpace();
            if (pos_ < s_.size() && s_[pos_] == ',') {
                ++pos_;
                continue;
            }
            if (pos_ < s_.size() && s_[pos_] == ']') {
                ++pos_;
                return true;
            }
            if (pos_ >= s_.size()) return fail("unexpected end of the file");
            return fail("expected ',' or ']' in a list");
        }
    }

    static void appendUtf8(std::string& out, unsigned cp) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }

    bool hex4(unsigned& out) {
        if (pos_ + 4 > s_.size()) return fail("incomplete \\u escape");
        out = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = s_[pos_++];
            out <<= 4;
            if (c >= '0' && c <= '9')
                out |= static_cast<unsigned>(c - '0');
            else if (c >= 'a' && c <= 'f')
                out |= static_cast<unsigned>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                out |= static_cast<unsigned>(c - 'A' + 10);
            else
                return fail("bad \\u escape");
        }
        return true;
    }

    bool parseString(std::string& out) {
        ++pos_;  // opening quote
        while (pos_ < s_.size()) {
            const char c = s_[pos_++];
            if (c == '"') return true;
            if (c == '\n') return fail("line break inside a text");
            if (static_cast<unsigned char>(c) < 0x20)
                return fail("control character inside a text");
            if (c != '\\') {
                out += c;
                continue;
            }
            if (pos_ >= s_.size()) break;
            const char e = s_[pos_++];
            switch (e) {
                case '"':
                    out += '"';
                    break;
                case '\\':
                    out += '\\';
                    break;
                case '/':
                    out += '/';
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'u': {
                    unsigned cp;
                    if (!hex4(cp)) return false;
                    if (cp >= 0xD800 && cp <= 0xDBFF) {
                        unsigned low;
                        if (pos_ + 2 > s_.size() || s_[pos_] != '\\' || s_[pos_ + 1] != 'u') {
                            return fail("unpaired surrogate in a \\u escape");
                        }
                        pos_ += 2;
                        if (!hex4(low)) return false;
                        if (low < 0xDC00 || low > 0xDFFF)
                            return fail("unpaired surrogate in a \\u escape");
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
                        return fail("unpaired surrogate in a \\u escape");
                    }
                    appendUtf8(out, cp);
                    break;
                }
                default:
                    return fail(std::string("bad escape '\\") + e + "'");
            }
        }
        return fail("unterminated text");
    }

    bool parseNumber(JsonNode& out) {
        const size_t start = pos_;
        if (s_[pos_] == '-') ++pos_;
        auto digits = [&] {
            size_t n = 0;
            while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9') {
                ++pos_;
                ++n;
            }
            return n;
        };
        if (pos_ < s_.size() && s_[pos_] == '0') {
            ++pos_;
            if (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9') {
                return fail("bad number: leading zero");
            }
        } else if (digits() == 0) {
            return fail("bad number");
        }
        if (pos_ < s_.size() && s_[pos_] == '.') {
            ++pos_;
            if (digits() == 0) return fail("bad number");
        }
        if (pos_ < s_.size() && (s_[pos_] == 'e' || s_[pos_] == 'E')) {
            ++pos_;
            if (pos_ < s_.size() && (s_[pos_] == '+' || s_[pos_] == '-')) ++pos_;
            if (digits() == 0) return fail("bad number");
        }
        const std::string text = s_.substr(start, pos_ - start);
        out.type = JsonNode::Type::Number;
        out.number = std::strtod(text.c_str(), nullptr);
        if (!std::isfinite(out.number)) return fail("number out of range");
        return true;
    }

    const std::string& s_;
    size_t pos_ = 0;
    int line_ = 1;
    std::string reason_;
};

}  // namespace

std::optional<JsonNode> JsonNode::parse(const std::string& text, int& errorLine,
                                        std::string& errorReason) {
    Parser p(text);
    JsonNode root;
    if (!p.parseDocument(root)) {
        errorLine = p.line();
        errorReason = p.reason();
        return std::nullopt;
    }
    return root;
}

}  // namespace rivlo
