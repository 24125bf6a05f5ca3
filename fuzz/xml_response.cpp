// An XML response body: the operation hands out a parser over it, and parsing it reports
// every element start with its end, or an error, whatever the bytes.

#include "ResponseArchive.h"

#include "http/RVAFXMLRequestOperation.h"
#include "http/RVXMLParser.h"

using namespace rivlo;

namespace {

class Counter : public RVXMLParserDelegate {
  public:
    void didStartElement(RVXMLParser&, const std::string&,
                         const std::map<std::string, std::string>&) override {
        ++depth;
        ++starts;
    }
    void didEndElement(RVXMLParser&, const std::string&) override { --depth; }
    void parseErrorOccurred(RVXMLParser&, const Error&) override { errored = true; }
    long depth = 0;
    long starts = 0;
    bool errored = false;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::silenceLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::FuzzInput in(data, size);
    static const char* const types[] = {"application/xml", "text/xml"};
    const Value archive = fuzz::responseArchive(in, types, 2);
    const auto body = PropertyList::dataBytes(archive["responseData"]);
    auto op = RVAFURLConnectionOperation::fromArchive<RVAFXMLRequestOperation>(archive);
    auto parser = op->responseXMLParser();
    (void)op->error();
    if (body.empty() || !parser) return 0;
    auto counter = std::make_shared<Counter>();
    parser->setDelegate(counter);
    const bool ok = parser->parse();
    if (ok) {
        FUZZ_CHECK(counter->depth == 0);
        FUZZ_CHECK(counter->starts > 0);
        FUZZ_CHECK(!parser->parserError());
    } else {
        FUZZ_CHECK(parser->parserError().has_value());
    }
    return 0;
}
