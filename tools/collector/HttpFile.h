#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "HttpTypes.h"

namespace rivlo::collector {

// A file opened to be answered with, whole or by byte ranges (RFC 9110 "Range": one range per
// request; a request for several gets the whole file). The file stays readable through this
// object when its name is removed meanwhile. Read from any thread (positioned reads).
class HttpFile {
  public:
    ~HttpFile();
    HttpFile(const HttpFile&) = delete;
    HttpFile& operator=(const HttpFile&) = delete;

    // Opens a regular file; null (with the reason) when it cannot be.
    static std::shared_ptr<const HttpFile> open(const std::string& path, std::string& error);

    uint64_t size() const { return size_; }
    // Reads up to `length` bytes at `offset`; the count read, or -1.
    long read(uint64_t offset, char* into, size_t length) const;

    // The bytes a "Range" header asks for in a file of `size` bytes: nullopt for the whole
    // file (no header, a form this server does not serve by parts, several ranges), else the
    // first byte and the length, which is 0 when the range cannot be satisfied (answered 416).
    struct Span {
        uint64_t offset = 0;
        uint64_t length = 0;
    };
    static std::optional<Span> requestedRange(const std::string& header, uint64_t size);

    // The answer to `request` for the whole file or the range it asks for: 200 with
    // "Accept-Ranges", 206 with "Content-Range", or 416 with "Content-Range: bytes */size".
    static HttpResponse answer(const HttpRequest& request, std::shared_ptr<const HttpFile> file,
                               const std::string& contentType);

  private:
    HttpFile(int fd, uint64_t size) : fd_(fd), size_(size) {}
    int fd_ = -1;
    uint64_t size_ = 0;
};

}  // namespace rivlo::collector
