#include "http/RVXMLParser.h"

#include <expat.h>

namespace rivlo {

namespace {

inline constexpr const char* kXMLParserErrorDomain = "NSXMLParserErrorDomain";

struct Context {
    RVXMLParser* parser;
    std::shared_ptr<RVXMLParserDelegate> delegate;
    XML_Parser expat;
    std::string text;  // character data gathered until the next element event

    void flushText() {
        if (!text.empty() && delegate) delegate->foundCharacters(*parser, text);
        text.clear();
    }
};

void onStart(void* user, const XML_Char* name, const XML_Char** attributes) {
    auto* c = static_cast<Context*>(user);
    c->flushText();
    std::map<std::string, std::string> attrs;
    for (size_t i = 0; attributes && attributes[i]; i += 2)
        attrs[attributes[i]] = attributes[i + 1];
    if (c->delegate) c->delegate->didStartElement(*c->parser, name, attrs);
}

void onEnd(void* user, const XML_Char* name) {
    auto* c = static_cast<Context*>(user);
    c->flushText();
    if (c->delegate) c->delegate->didEndElement(*c->parser, name);
}

void onText(void* user, const XML_Char* text, int length) {
    static_cast<Context*>(user)->text.append(text, static_cast<size_t>(length));
}

}  // namespace

RVXMLParser::RVXMLParser(std::string data) : data_(std::move(data)) {}

void RVXMLParser::setDelegate(std::weak_ptr<RVXMLParserDelegate> delegate) {
    std::lock_guard<std::mutex> lock(mutex_);
    delegate_ = std::move(delegate);
}

std::shared_ptr<RVXMLParserDelegate> RVXMLParser::delegate() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return delegate_.lock();
}

void RVXMLParser::abortParsing() {
    std::lock_guard<std::mutex> lock(mutex_);
    aborted_ = true;
}

std::optional<Error> RVXMLParser::parserError() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return error_;
}

bool RVXMLParser::parse() {
    XML_Parser expat = XML_ParserCreate("UTF-8");
    if (!expat) return false;
    Context context{this, delegate(), expat, {}};
    XML_SetUserData(expat, &context);
    XML_SetElementHandler(expat, onStart, onEnd);
    XML_SetCharacterDataHandler(expat, onText);
    if (context.delegate) context.delegate->parserDidStartDocument(*this);

    // Fed in slices so an abort from a callback takes effect soon.
    constexpr size_t kSlice = 64 * 1024;
    bool ok = true;
    size_t offset = 0;
    std::optional<Error> error;
    do {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (aborted_) {
                error = Error(kXMLParserErrorDomain, 512);  // delegate aborted
                error->setInfo(ErrorKey::LocalizedDescription, "parsing was aborted");
                ok = false;
                break;
            }
        }
        const size_t n = std::min(kSlice, data_.size() - offset);
        const bool last = offset + n >= data_.size();
        if (XML_Parse(expat, data_.data() + offset, static_cast<int>(n), last) ==
            XML_STATUS_ERROR) {
            error = Error(kXMLParserErrorDomain, static_cast<long>(XML_GetErrorCode(expat)));
            error->setInfo(ErrorKey::LocalizedDescription,
                           std::string(XML_ErrorString(XML_GetErrorCode(expat))) + " at line " +
                               std::to_string(XML_GetCurrentLineNumber(expat)));
            ok = false;
            break;
        }
        offset += n;
    } while (offset < data_.size());
    XML_ParserFree(expat);
    if (error) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            error_ = error;
        }
        if (context.delegate) context.delegate->parseErrorOccurred(*this, *error);
    } else if (context.delegate) {
        context.delegate->parserDidEndDocument(*this);
    }
    return ok;
}

}  // namespace rivlo
