#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace rivlo::collector {

// A streaming multipart/form-data parser: the body is fed in pieces of any size as it arrives
// and each part's bytes are handed on without holding the body, so memory stays bounded by
// the part header limit whatever the body's size. One instance per body; one thread at a time.
class MultipartParser {
  public:
    static constexpr size_t kMaxPartHeaderBytes = 8 * 1024;
    static constexpr size_t kMaxParts = 128;

    // `onPart` gets the part's name, file name ("" for a text field) and content type;
    // `onData` the part's bytes. Either returning false stops the parser (failed()).
    using PartHandler = std::function<bool(const std::string& name, const std::string& fileName,
                                           const std::string& contentType)>;
    using DataHandler = std::function<bool(const char* data, size_t length)>;

    MultipartParser(std::string boundary, PartHandler onPart, DataHandler onData);

    // The boundary parameter of a Content-Type value, "" when it is not multipart/form-data
    // or has none.
    static std::string boundaryOf(const std::string& contentType);

    void feed(const char* data, size_t length);
    // True once the closing delimiter has been read.
    bool done() const { return state_ == State::Done; }
    bool failed() const { return state_ == State::Failed; }
    const std::string& error() const { return error_; }

  private:
    enum class State { Preamble, AfterDelimiter, Headers, Body, Done, Failed };

    void fail(const std::string& message);
    void run();
    bool parseHeaders(const std::string& block);
    bool emit(const char* data, size_t length);

    std::string delimiter_;  // CR LF "--" boundary
    PartHandler onPart_;
    DataHandler onData_;
    State state_ = State::Preamble;
    std::string pending_;
    size_t parts_ = 0;
    std::string error_;
};

}  // namespace rivlo::collector
