// A property-list response body (XML or binary): decoded once into a value or an error.

#include "ResponseArchive.h"

#include "http/RVAFPropertyListRequestOperation.h"

using namespace rivlo;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::silenceLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::FuzzInput in(data, size);
    static const char* const types[] = {"application/x-plist"};
    const Value archive = fuzz::responseArchive(in, types, 1);
    const auto body = PropertyList::dataBytes(archive["responseData"]);
    auto op = RVAFURLConnectionOperation::fromArchive<RVAFPropertyListRequestOperation>(archive);
    const auto list = op->responsePropertyList();
    const auto error = op->error();
    (void)op->description();
    if (body.empty()) return 0;
    FUZZ_CHECK(list.has_value() || error.has_value());
    FUZZ_CHECK(op->responsePropertyList() == list);
    return 0;
}
