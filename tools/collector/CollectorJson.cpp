#include "CollectorJson.h"

#include <fstream>
#include <iterator>

namespace rivlo::collector {

int CollectorJson::depthOf(const std::string& text) {
    int depth = 0, deepest = 0;
    bool inString = false, escaped = false;
    for (char c : text) {
        if (inString) {
            if (escaped) {
                escaped = false;
            } else if (c == '\\') {
                escaped = true;
            } else if (c == '"') {
                inString = false;
            }
            continue;
        }
        if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            deepest = std::max(deepest, ++depth);
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return deepest;
}

nlohmann::json CollectorJson::parse(const std::string& text, int maxDepth) {
    if (depthOf(text) > maxDepth) return nlohmann::json(nlohmann::json::value_t::discarded);
    return nlohmann::json::parse(text, nullptr, false);
}

nlohmann::json CollectorJson::parseFile(const std::string& path, uint64_t maxBytes,
                                        std::string& problem) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        problem = "cannot be read";
        return nlohmann::json(nlohmann::json::value_t::discarded);
    }
    in.seekg(0, std::ios::end);
    const auto size = static_cast<uint64_t>(std::max<std::streamoff>(0, in.tellg()));
    if (size > maxBytes) {
        problem = "is larger than " + std::to_string(maxBytes) + " bytes";
        return nlohmann::json(nlohmann::json::value_t::discarded);
    }
    in.seekg(0);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (depthOf(text) > kMaxDepth) {
        problem = "is nested deeper than " + std::to_string(kMaxDepth) + " levels";
        return nlohmann::json(nlohmann::json::value_t::discarded);
    }
    nlohmann::json value = nlohmann::json::parse(text, nullptr, false);
    if (value.is_discarded()) problem = "is not JSON";
    return value;
}

}  // namespace rivlo::collector
