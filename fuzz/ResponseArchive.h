#pragma once

#include "FuzzInput.h"

#include "foundation/Value.h"

#include <string>

namespace rivlo::fuzz {

// A finished operation's archive around a response body from the fuzzer: the first byte picks
// the status and the Content-Type (with or without a charset) the body arrives with, the rest
// is the body. Decoders are then asked for their value exactly as the success callback would.
inline Value responseArchive(FuzzInput& in, const char* const* types, size_t typeCount) {
    static const char* const charsets[] = {"", "; charset=utf-8", "; charset=iso-8859-1",
                                           "; charset=utf-16", "; charset=x-unknown"};
    const uint8_t pick = in.byte();
    const std::string contentType =
        std::string(types[pick % typeCount]) + charsets[(pick / typeCount) % 5];
    const long status = (pick & 0x80) ? 200 : 203;
    const std::string body = in.rest();
    return Value{{"state", 3},
                 {"request", {{"URL", "http://127.0.0.1/answer"}, {"HTTPMethod", "GET"}}},
                 {"response",
                  {{"URL", "http://127.0.0.1/answer"},
                   {"statusCode", status},
                   {"allHeaderFields", {{"Content-Type", contentType}}}}},
                 {"responseData", PropertyList::data(body)},
                 {"totalBytesRead", static_cast<int64_t>(body.size())}};
}

}  // namespace rivlo::fuzz
