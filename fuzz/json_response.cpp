// A JSON response body as the service may send it, in any declared character set: decoded
// once, it gives either a value or a decoding error, never both and never a failure.

#include "ResponseArchive.h"

#include "http/RVAFJSONRequestOperation.h"

using namespace rivlo;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::silenceLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::FuzzInput in(data, size);
    static const char* const types[] = {"application/json", "text/json", "text/javascript",
                                        "text/html"};
    const Value archive = fuzz::responseArchive(in, types, 4);
    const auto body = PropertyList::dataBytes(archive["responseData"]);
    auto op = RVAFURLConnectionOperation::fromArchive<RVAFJSONRequestOperation>(archive);
    const auto json = op->responseJSON();
    const auto error = op->JSONError();
    (void)op->responseString();
    (void)op->description();
    if (body.empty()) return 0;
    FUZZ_CHECK(json.has_value() != error.has_value());
    FUZZ_CHECK(op->responseJSON() == json);  // decoded once
    return 0;
}
