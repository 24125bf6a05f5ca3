// Multipart bodies built from arbitrary field names, values, file names and types, read back
// by the test server's multipart parser: the same parts come back in order, each body byte
// for byte, and no name or type can add a header line or a part of its own.

#include "FuzzInput.h"

#include "foundation/URL.h"
#include "http/RVAFStreamingMultipartFormData.h"
#include "http/RVAFStringEncoding.h"
#include "support/LoopbackHTTPServer.h"

#include <vector>

using namespace rivlo;

namespace {

struct Part {
    std::string name, body, fileName, type;
    bool isFile = false;
};

std::string readAll(RVInputStream& stream) {
    stream.open();
    std::string out;
    uint8_t buffer[997];
    for (;;) {
        const int64_t n = stream.read(buffer, sizeof buffer);
        FUZZ_CHECK(n >= 0);
        if (n == 0) break;
        out.append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(n));
    }
    stream.close();
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::silenceLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::FuzzInput in(data, size);
    RVURLRequest request(URL::parse("http://127.0.0.1/webservices/v2/uploaddata"));
    request.HTTPMethod = "POST";
    RVAFStreamingMultipartFormData form(request, StringEncoding::UTF8);
    std::vector<Part> parts;
    const size_t count = 1 + in.byte() % 6;
    for (size_t i = 0; i < count; ++i) {
        Part part;
        part.isFile = in.byte() & 1;
        part.name = in.text();
        part.body = in.text();
        if (part.isFile) {
            part.fileName = in.text();
            part.type = in.text();
            form.appendPartWithFileData(part.body, part.name, part.fileName, part.type);
        } else {
            form.appendPartWithFormData(part.body, part.name);
        }
        parts.push_back(std::move(part));
    }
    const RVURLRequest finished = form.requestByFinalizingMultipartFormData();
    FUZZ_CHECK(finished.HTTPBodyStream != nullptr);
    const std::string body = readAll(*finished.HTTPBodyStream);
    const auto type = finished.valueForHTTPHeaderField("Content-Type");
    FUZZ_CHECK(type.has_value());
    const size_t at = type->find("boundary=");
    FUZZ_CHECK(at != std::string::npos);
    const std::string boundary = type->substr(at + 9);
    // A body that happens to contain the boundary cannot be told apart; the boundary is random
    // and long, so only a fuzzer that copied it could get here.
    for (const auto& part : parts)
        if (part.body.find(boundary) != std::string::npos) return 0;

    const auto parsed = test::parseMultipart(body, boundary);
    FUZZ_CHECK(parsed.has_value());
    FUZZ_CHECK(parsed->size() == parts.size());
    for (size_t i = 0; i < parts.size(); ++i) {
        const auto& sent = parts[i];
        const auto& got = (*parsed)[i];
        FUZZ_CHECK(got.body == sent.body);
        FUZZ_CHECK(got.headerLines.size() == (sent.isFile ? 2u : 1u));
        FUZZ_CHECK(got.fileName.has_value() == sent.isFile);
        // Names travel as they are unless they hold a quote or a line break.
        if (sent.name.find_first_of("\"\r\n") == std::string::npos)
            FUZZ_CHECK(got.name == sent.name);
        if (sent.isFile && sent.fileName.find_first_of("\"\r\n") == std::string::npos)
            FUZZ_CHECK(*got.fileName == sent.fileName);
    }
    return 0;
}
