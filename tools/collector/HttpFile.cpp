#include "HttpFile.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace rivlo::collector {

namespace {

// Digits only (no sign, no space), at most 19 of them.
std::optional<uint64_t> number(const std::string& text) {
    if (text.empty() || text.size() > 19) return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return value;
}

std::string trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    const size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

}  // namespace

HttpFile::~HttpFile() {
    if (fd_ >= 0) ::close(fd_);
}

std::shared_ptr<const HttpFile> HttpFile::open(const std::string& path, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        error = path + " is not a regular file";
        ::close(fd);
        return nullptr;
    }
    return std::shared_ptr<const HttpFile>(new HttpFile(fd, static_cast<uint64_t>(info.st_size)));
}

long HttpFile::read(uint64_t offset, char* into, size_t length) const {
    for (;;) {
        const ssize_t got = ::pread(fd_, into, length, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        return static_cast<long>(got);
    }
}

std::optional<HttpFile::Span> HttpFile::requestedRange(const std::string& header, uint64_t size) {
    const std::string value = trimmed(header);
    if (value.rfind("bytes=", 0) != 0) return std::nullopt;
    const std::string range = trimmed(value.substr(6));
    if (range.find(',') != std::string::npos) return std::nullopt;
    const size_t dash = range.find('-');
    if (dash == std::string::npos) return std::nullopt;
    const std::string first = trimmed(range.substr(0, dash));
    const std::string last = trimmed(range.substr(dash + 1));
    if (first.empty()) {
        // The last N bytes.
        const auto suffix = number(last);
        if (!suffix) return std::nullopt;
        if (*suffix == 0 || size == 0) return Span{0, 0};
        const uint64_t length = std::min(*suffix, size);
        return Span{size - length, length};
    }
    const auto start = number(first);
    if (!start) return std::nullopt;
    if (*start >= size) return Span{0, 0};
    uint64_t end = size - 1;
    if (!last.empty()) {
        const auto given = number(last);
        if (!given || *given < *start) return std::nullopt;
        end = std::min(*given, size - 1);
    }
    return Span{*start, end - *start + 1};
}

HttpResponse HttpFile::answer(const HttpRequest& request, std::shared_ptr<const HttpFile> file,
                              const std::string& contentType) {
    HttpResponse response;
    response.contentType = contentType;
    response.headers.emplace("Accept-Ranges", "bytes");
    const uint64_t size = file->size();
    const auto range = requestedRange(request.header("range"), size);
    if (range && range->length == 0) {
        response.status = 416;
        response.contentType = "application/json";
        response.body = "{\"error\":\"the range is beyond the file\"}";
        response.headers.emplace("Content-Range", "bytes */" + std::to_string(size));
        return response;
    }
    HttpFileSpan span{std::move(file), 0, size};
    if (range) {
        response.status = 206;
        span.offset = range->offset;
        span.length = range->length;
        response.headers.emplace("Content-Range",
                                 "bytes " + std::to_string(range->offset) + "-" +
                                     std::to_string(range->offset + range->length - 1) + "/" +
                                     std::to_string(size));
    }
    response.file = std::move(span);
    return response;
}

}  // namespace rivlo::collector
