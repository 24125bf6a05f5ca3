#pragma once

#include "foundation/Error.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace rivlo {

// A pull stream of bytes, read by polling read(). Used for request bodies: the multipart body
// stream and the streams of its parts. A stream is read on one thread at a time (the network
// thread once a request runs); status and error may be queried from any thread.
class RVInputStream {
  public:
    // The platform's stream status values.
    enum Status : unsigned {
        NotOpen = 0,
        Opening = 1,
        Open = 2,
        Reading = 3,
        Writing = 4,
        AtEnd = 5,
        Closed = 6,
        Failed = 7,
    };

    virtual ~RVInputStream() = default;

    virtual void open() = 0;
    virtual void close() = 0;
    // Copies up to `maxLength` bytes; returns the count, 0 at the end, -1 on error (then
    // streamError() says why).
    virtual int64_t read(uint8_t* buffer, size_t maxLength) = 0;
    virtual bool hasBytesAvailable() const = 0;
    virtual Status streamStatus() const = 0;
    virtual std::optional<Error> streamError() const { return std::nullopt; }
    // Starts the stream again from its first byte, for a retransmission. Returns false when
    // the stream cannot do that.
    virtual bool rewind() { return false; }
};

// A stream over bytes in memory.
class RVDataInputStream : public RVInputStream {
  public:
    explicit RVDataInputStream(std::shared_ptr<const std::string> data);
    explicit RVDataInputStream(std::string data);

    void open() override;
    void close() override;
    int64_t read(uint8_t* buffer, size_t maxLength) override;
    bool hasBytesAvailable() const override;
    Status streamStatus() const override;
    bool rewind() override;

  private:
    std::shared_ptr<const std::string> data_;
    size_t offset_ = 0;
    std::atomic<Status> status_{NotOpen};
};

// A stream over a file that must hold exactly `expectedLength` bytes: the length declared for
// the request when the file was added. The file is opened at open(). A file that is missing,
// or whose size differs from the expected length, makes the stream fail instead of delivering
// a body that disagrees with the declared length.
class RVFileInputStream : public RVInputStream {
  public:
    RVFileInputStream(std::string path, uint64_t expectedLength);
    ~RVFileInputStream() override;

    void open() override;
    void close() override;
    int64_t read(uint8_t* buffer, size_t maxLength) override;
    bool hasBytesAvailable() const override;
    Status streamStatus() const override;
    std::optional<Error> streamError() const override;
    bool rewind() override;

    const std::string& path() const { return path_; }

  private:
    void fail(const std::string& reason, int errnoValue);

    std::string path_;
    uint64_t expected_;
    uint64_t delivered_ = 0;
    int fd_ = -1;
    std::atomic<Status> status_{NotOpen};
    mutable std::mutex errorMutex_;
    std::optional<Error> error_;
};

}  // namespace rivlo
