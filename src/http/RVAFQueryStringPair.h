#pragma once

#include "foundation/Value.h"

#include <optional>
#include <string>
#include <vector>

namespace rivlo {

// One member of a query string: the field (already in nested form, e.g. "user[name]",
// "ids[]") and its value. A null value renders as the bare field name. Immutable value type.
class RVAFQueryStringPair {
  public:
    RVAFQueryStringPair(std::string field, Value value)
        : field(std::move(field)), value(std::move(value)) {}

    // "field=value", both percent-escaped in `encoding`; the escaped field alone for null.
    std::string URLEncodedStringValueWithEncoding(unsigned encoding) const;

    std::string field;
    Value value;
};

// Escapes every character except ASCII letters, digits and "-_.*',[]": each other character
// becomes its bytes in `encoding`, each written as "%" and two upper-case hex digits. A text
// that cannot be encoded gives "". Any thread.
std::string RVAFPercentEscapedQueryStringPairMemberFromStringWithEncoding(const std::string& text,
                                                                          unsigned encoding);

// Flattens a value into ordered pairs: dictionary keys sorted case-insensitively and nested
// as "outer[inner]", array elements as "outer[]", anything else as one pair.
std::vector<RVAFQueryStringPair> RVAFQueryStringPairsFromKeyAndValue(
    const std::optional<std::string>& key, const Value& value);
std::vector<RVAFQueryStringPair> RVAFQueryStringPairsFromDictionary(const Value& dictionary);

// The pairs of a parameter dictionary rendered and joined with "&".
std::string RVAFQueryStringFromParametersWithEncoding(const Value& parameters, unsigned encoding);

}  // namespace rivlo
