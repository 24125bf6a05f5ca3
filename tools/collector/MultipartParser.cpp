#include "MultipartParser.h"

#include <algorithm>
#include <cctype>

namespace rivlo::collector {

namespace {

std::string trim(const std::string& text) {
    size_t from = 0, to = text.size();
    while (from < to && (text[from] == ' ' || text[from] == '\t'))
        ++from;
    while (to > from && (text[to - 1] == ' ' || text[to - 1] == '\t'))
        --to;
    return text.substr(from, to - from);
}

std::string lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The value of `key` among the ';'-separated parameters of a header value: a quoted string
// (without its quotes) or a token. `found` tells an empty value from a missing one.
std::string parameter(const std::string& value, const std::string& key, bool& found) {
    found = false;
    size_t at = value.find(';');
    while (at != std::string::npos) {
        ++at;
        while (at < value.size() && (value[at] == ' ' || value[at] == '\t'))
            ++at;
        const size_t equals = value.find('=', at);
        if (equals == std::string::npos) return {};
        const std::string name = lower(trim(value.substr(at, equals - at)));
        size_t start = equals + 1;
        std::string result;
        size_t next;
        if (start < value.size() && value[start] == '"') {
            const size_t close = value.find('"', start + 1);
            if (close == std::string::npos) return {};
            result = value.substr(start + 1, close - start - 1);
            next = value.find(';', close);
        } else {
            next = value.find(';', start);
            result = trim(
                value.substr(start, next == std::string::npos ? std::string::npos : next - start));
        }
        if (name == key) {
            found = true;
            return result;
        }
        at = next;
    }
    return {};
}

}  // namespace

MultipartParser::MultipartParser(std::string boundary, PartHandler onPart, DataHandler onData)
    : delimiter_("\r\n--" + boundary), onPart_(std::move(onPart)), onData_(std::move(onData)) {
    // The first delimiter may open the body without a line break before it.
    pending_ = "\r\n";
}

std::string MultipartParser::boundaryOf(const std::string& contentType) {
    const size_t semicolon = contentType.find(';');
    if (lower(trim(contentType.substr(0, semicolon))) != "multipart/form-data") return {};
    bool found = false;
    std::string boundary = parameter(contentType, "boundary", found);
    if (boundary.size() > 200) return {};
    return boundary;
}

void MultipartParser::fail(const std::string& message) {
    if (state_ == State::Failed) return;
    state_ = State::Failed;
    error_ = message;
    pending_.clear();
}

void MultipartParser::feed(const char* data, size_t length) {
    if (state_ == State::Failed || state_ == State::Done) return;
    pending_.append(data, length);
    run();
}

bool MultipartParser::emit(const char* data, size_t length) {
    if (length == 0) return true;
    if (!onData_(data, length)) {
        fail("the part's bytes were refused");
        return false;
    }
    return true;
}

void MultipartParser::run() {
    for (;;) {
        switch (state_) {
            case State::Preamble:
            case State::Body: {
                const size_t at = pending_.find(delimiter_);
                if (at == std::string::npos) {
                    // Everything but a tail that could begin the delimiter is part data (or
                    // preamble, which is dropped).
                    const size_t keep = std::min(pending_.size(), delimiter_.size() - 1);
                    const size_t ready = pending_.size() - keep;
                    if (state_ == State::Body && !emit(pending_.data(), ready)) return;
                    pending_.erase(0, ready);
                    return;
                }
                if (state_ == State::Body && !emit(pending_.data(), at)) return;
                pending_.erase(0, at + delimiter_.size());
                state_ = State::AfterDelimiter;
                break;
            }
            case State::AfterDelimiter: {
                // "--" closes the body; otherwise optional white space and CR LF open a part.
                if (pending_.size() < 2) return;
                if (pending_.compare(0, 2, "--") == 0) {
                    state_ = State::Done;
                    pending_.clear();
                    return;
                }
                size_t at = 0;
                while (at < pending_.size() && (pending_[at] == ' ' || pending_[at] == '\t'))
                    ++at;
                if (at >= 64) return fail("malformed multipart delimiter line");
                if (pending_.size() < at + 2) return;
                if (pending_.compare(at, 2, "\r\n") != 0) {
                    return fail("malformed multipart delimiter line");
                }
                pending_.erase(0, at + 2);
                state_ = State::Headers;
                break;
            }
            case State::Headers: {
                // A part with no header lines starts straight with the empty line.
                size_t end = pending_.compare(0, 2, "\r\n") == 0 ? 0 : pending_.find("\r\n\r\n");
                if (end == std::string::npos) {
                    if (pending_.size() > kMaxPartHeaderBytes) {
                        return fail("a part's header lines are too long");
                    }
                    return;
                }
                if (end > kMaxPartHeaderBytes) return fail("a part's header lines are too long");
                const std::string block = end == 0 ? std::string() : pending_.substr(0, end + 2);
                pending_.erase(0, end == 0 ? 2 : end + 4);
                if (++parts_ > kMaxParts) return fail("too many parts");
                if (!parseHeaders(block)) return;
                state_ = State::Body;
                break;
            }
            case State::Done:
            case State::Failed:
                return;
        }
    }
}

bool MultipartParser::parseHeaders(const std::string& block) {
    std::string name, fileName, contentType;
    bool disposition = false;
    size_t at = 0;
    while (at < block.size()) {
        size_t end = block.find("\r\n", at);
        if (end == std::string::npos) end = block.size();
        const std::string line = block.substr(at, end - at);
        at = end + 2;
        const size_t colon = line.find(':');
        if (colon == std::string::npos) {
            fail("malformed part header line");
            return false;
        }
        const std::string field = lower(trim(line.substr(0, colon)));
        const std::string value = trim(line.substr(colon + 1));
        if (field == "content-disposition") {
            if (lower(trim(value.substr(0, value.find(';')))) != "form-data") {
                fail("a part is not form-data");
                return false;
            }
            bool found = false;
            name = parameter(value, "name", found);
            disposition = found;
            fileName = parameter(value, "filename", found);
        } else if (field == "content-type") {
            contentType = value;
        }
    }
    if (!disposition) {
        fail("a part has no name");
        return false;
    }
    if (!onPart_(name, fileName, contentType)) {
        fail("a part was refused");
        return false;
    }
    return true;
}

}  // namespace rivlo::collector
