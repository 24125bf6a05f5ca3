// Form and query-string encoding of arbitrary keys and values (the host's names and tags reach
// it): decoded by libcurl's unescaping after splitting at "&" and the first "=", every pair
// must come back exactly as given, in the encoder's order.

#include "FuzzInput.h"

#include "foundation/Value.h"
#include "http/RVAFQueryStringPair.h"
#include "http/RVAFStringEncoding.h"

#include <curl/curl.h>

#include <map>

using namespace rivlo;

namespace {

std::string unescape(const std::string& text) {
    int length = 0;
    char* raw = curl_easy_unescape(nullptr, text.c_str(), static_cast<int>(text.size()), &length);
    FUZZ_CHECK(raw != nullptr);
    std::string out(raw, static_cast<size_t>(length));
    curl_free(raw);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::silenceLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::FuzzInput in(data, size);
    const unsigned encoding = (in.byte() & 1) ? StringEncoding::UTF8 : StringEncoding::ISOLatin1;
    Value parameters = Value::object();
    bool encodable = true;
    const size_t count = in.byte() % 16;
    for (size_t i = 0; i < count; ++i) {
        std::string key = in.text();
        std::string value = in.text();
        if (!RVAFEncodeString(key, encoding) || !RVAFEncodeString(value, encoding))
            encodable = false;
        parameters[key] = value;
    }
    if (in.byte() & 1) parameters["n"] = static_cast<int64_t>(in.byte()) - 128;
    const std::string query = RVAFQueryStringFromParametersWithEncoding(parameters, encoding);
    if (!encodable) return 0;

    std::map<std::string, std::string> decoded;
    size_t pairs = 0;
    size_t from = 0;
    while (!query.empty() && from <= query.size()) {
        size_t end = query.find('&', from);
        if (end == std::string::npos) end = query.size();
        const std::string pair = query.substr(from, end - from);
        const size_t eq = pair.find('=');
        FUZZ_CHECK(eq != std::string::npos);
        decoded[unescape(pair.substr(0, eq))] = unescape(pair.substr(eq + 1));
        ++pairs;
        from = end + 1;
    }
    FUZZ_CHECK(pairs == parameters.size());
    for (auto it = parameters.begin(); it != parameters.end(); ++it) {
        const auto found = decoded.find(*RVAFEncodeString(it.key(), encoding));
        FUZZ_CHECK(found != decoded.end());
        const std::string expected =
            it->is_string() ? it->get<std::string>() : std::to_string(it->get<int64_t>());
        FUZZ_CHECK(found->second == *RVAFEncodeString(expected, encoding));
    }
    return 0;
}
