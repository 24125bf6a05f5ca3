#pragma once

#include "foundation/Value.h"

#include <optional>
#include <string>

namespace rivlo {

// Text encodings by their platform ids. The client's texts are UTF-8 unless configured
// otherwise; ISO Latin 1 decodes text responses that name no charset.
namespace StringEncoding {
inline constexpr unsigned ASCII = 1;
inline constexpr unsigned UTF8 = 4;
inline constexpr unsigned ISOLatin1 = 5;
}  // namespace StringEncoding

// Converts UTF-8 text to bytes in `encoding`; std::nullopt when a character has no byte form
// there (or the encoding is unknown). Any thread.
std::optional<std::string> RVAFEncodeString(const std::string& utf8, unsigned encoding);
// Converts bytes in `encoding` to UTF-8 text; std::nullopt when the bytes are not valid there.
std::optional<std::string> RVAFDecodeString(const std::string& bytes, unsigned encoding);
// The IANA character-set name ("utf-8", "iso-8859-1", "us-ascii"); "" for an unknown id.
std::string RVAFCharsetNameForEncoding(unsigned encoding);
// The encoding for an IANA name (case-insensitive); 0 when unknown.
unsigned RVAFEncodingForCharsetName(const std::string& name);

// The description text of a value as the platform prints it inside query strings and form
// fields: texts as they are, integers in decimal, other numbers in their shortest exact form,
// booleans as 1 or 0, null as "<null>", data as "<hex bytes>", containers as JSON.
std::string RVAFDescriptionOfValue(const Value& value);

}  // namespace rivlo
