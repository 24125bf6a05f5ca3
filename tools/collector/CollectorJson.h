#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

namespace rivlo::collector {

// Reading client JSON without trusting its shape: the nesting is measured by a flat scan first,
// so a document nested a hundred thousand levels deep is refused before any code recurses over
// it (parsing, printing and destroying a value all recurse on its depth).
class CollectorJson {
  public:
    static constexpr int kMaxDepth = 64;
    static constexpr uint64_t kMaxDocumentBytes = 16ull * 1024 * 1024;

    // The deepest nesting of arrays and objects in the text (strings skipped).
    static int depthOf(const std::string& text);
    // The parsed value, or a discarded one when the text is not JSON or is nested deeper than
    // `maxDepth`.
    static nlohmann::json parse(const std::string& text, int maxDepth = kMaxDepth);
    // The same for a file of at most `maxBytes`; `problem` says why the result is discarded.
    static nlohmann::json parseFile(const std::string& path, uint64_t maxBytes,
                                    std::string& problem);
};

}  // namespace rivlo::collector
