#include "http/RVInputStream.h"

#include "foundation/Log.h"
#include "http/RVAFNetworking.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace rivlo {

// ---- RVDataInputStream --------------------------------------------------------------------

RVDataInputStream::RVDataInputStream(std::shared_ptr<const std::string> data)
    : data_(data ? std::move(data) : std::make_shared<const std::string>()) {}

RVDataInputStream::RVDataInputStream(std::string data)
    : data_(std::make_shared<const std::string>(std::move(data))) {}

void RVDataInputStream::open() {
    if (status_ == NotOpen) status_ = Open;
}

void RVDataInputStream::close() {
    status_ = Closed;
}

int64_t RVDataInputStream::read(uint8_t* buffer, size_t maxLength) {
    const Status s = status_;
    if (s != Open) return s == Failed ? -1 : 0;
    const size_t n = std::min(maxLength, data_->size() - offset_);
    if (n > 0) std::memcpy(buffer, data_->data() + offset_, n);
    offset_ += n;
    if (offset_ >= data_->size()) status_ = AtEnd;
    return static_cast<int64_t>(n);
}

bool RVDataInputStream::hasBytesAvailable() const {
    return status_ < AtEnd;
}

RVInputStream::Status RVDataInputStream::streamStatus() const {
    return status_;
}

bool RVDataInputStream::rewind() {
    offset_ = 0;
    status_ = NotOpen;
    return true;
}

// ---- RVFileInputStream --------------------------------------------------------------------

RVFileInputStream::RVFileInputStream(std::string path, uint64_t expectedLength)
    : path_(std::move(path)), expected_(expectedLength) {}

RVFileInputStream::~RVFileInputStream() {
    if (fd_ >= 0) ::close(fd_);
}

void RVFileInputStream::fail(const std::string& reason, int errnoValue) {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    Error error(URLErrorDomain, RVAFURLErrorRequestBodyStreamExhausted);
    std::string description = reason + ": " + path_;
    if (errnoValue != 0) description += std::string(" (") + std::strerror(errnoValue) + ")";
    error.setInfo(ErrorKey::LocalizedDescription, description);
    {
        std::lock_guard<std::mutex> lock(errorMutex_);
        error_ = error;
    }
    status_ = Failed;
    RVLog("Rivlo: upload body failed: %s", description.c_str());
}

void RVFileInputStream::open() {
    if (status_ != NotOpen) return;
    fd_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) {
        fail("File could not be opened", errno);
        return;
    }
    struct stat st {};
    if (::fstat(fd_, &st) != 0) {
        fail("File could not be read", errno);
        return;
    }
    if (static_cast<uint64_t>(st.st_size) != expected_) {
        fail("File changed size since it was added (" + std::to_string(expected_) + " -> " +
                 std::to_string(st.st_size) + " bytes)",
             0);
        return;
    }
    status_ = expected_ == 0 ? AtEnd : Open;
}

void RVFileInputStream::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (status_ != Failed) status_ = Closed;
}

int64_t RVFileInputStream::read(uint8_t* buffer, size_t maxLength) {
    const Status s = status_;
    if (s == Failed) return -1;
    if (s != Open) return 0;
    const uint64_t remaining = expected_ - delivered_;
    const size_t want = static_cast<size_t>(std::min<uint64_t>(remaining, maxLength));
    if (want == 0) return 0;
    ssize_t n;
    do {
        n = ::read(fd_, buffer, want);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        fail("File could not be read", errno);
        return -1;
    }
    if (n == 0) {
        fail("File shrank while it was sent (" + std::to_string(delivered_) + " of " +
                 std::to_string(expected_) + " bytes)",
             0);
        return -1;
    }
    delivered_ += static_cast<uint64_t>(n);
    if (delivered_ == expected_) {
        // The declared bytes are all sent; a file that grew meanwhile would send a body that
        // no longer matches the file, so that is a failure too.
        uint8_t probe;
        ssize_t more;
        do {
            more = ::read(fd_, &probe, 1);
        } while (more < 0 && errno == EINTR);
        if (more > 0) {
            fail("File grew while it was sent", 0);
            return -1;
        }
        status_ = AtEnd;
    }
    return n;
}

bool RVFileInputStream::hasBytesAvailable() const {
    return status_ < AtEnd;
}

RVInputStream::Status RVFileInputStream::streamStatus() const {
    return status_;
}

std::optional<Error> RVFileInputStream::streamError() const {
    std::lock_guard<std::mutex> lock(errorMutex_);
    return error_;
}

bool RVFileInputStream::rewind() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    delivered_ = 0;
    {
        std::lock_guard<std::mutex> lock(errorMutex_);
        error_.reset();
    }
    status_ = NotOpen;
    return true;
}

}  // namespace rivlo
