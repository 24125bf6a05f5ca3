#pragma once

#include "http/RVInputStream.h"
#include "http/RVURLRequest.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace rivlo {

// The boundary that separates the parts of every multipart body the client sends.
inline constexpr const char* RVAFMultipartFormBoundary = "Boundary+0xAbCdEfGbOuNdArY";
// Suggested throttling for slow links (nothing in the library throttles by default).
inline constexpr uint64_t kRVAFUploadStream3GSuggestedPacketSize = 16384;
inline constexpr double kRVAFUploadStream3GSuggestedDelay = 0.2;

// One part of a multipart body: its boundary, its header block, its body bytes (from memory or
// from a file, read only while the part's body is being sent) and, for the last part, the
// closing boundary. A small state machine lets reads of any size resume exactly where the
// previous read stopped. Read on one thread at a time (the reading thread does every phase
// change itself; nothing is handed to another thread).
class RVAFHTTPBodyPart {
  public:
    RVAFHTTPBodyPart(unsigned stringEncoding, RVHTTPHeaders headers,
                     std::shared_ptr<RVInputStream> inputStream, uint64_t bodyContentLength);
    ~RVAFHTTPBodyPart();

    unsigned stringEncoding() const { return stringEncoding_; }
    const RVHTTPHeaders& headers() const { return headers_; }
    const std::shared_ptr<RVInputStream>& inputStream() const { return inputStream_; }
    uint64_t bodyContentLength() const { return bodyContentLength_; }

    bool hasInitialBoundary = false;
    bool hasFinalBoundary = false;

    // One "Name: value\r\n" line per header, then "\r\n".
    std::string stringForHeaders() const;
    // Boundary + header block + body + closing boundary, from the current flags.
    uint64_t contentLength() const;
    // True until every byte of the part has been delivered (false after a stream failure).
    bool hasBytesAvailable() const;
    // Delivers up to maxLength bytes; -1 when the body stream failed (see inputStream()).
    int64_t read(uint8_t* buffer, size_t maxLength);
    // Back to the first byte, for a retransmission.
    bool rewind();

  private:
    enum Phase { Boundary = 1, Headers = 2, Body = 3, FinalBoundary = 4, Done = 5 };
    const std::string& textForPhase(Phase phase);
    size_t readText(const std::string& text, uint8_t* buffer, size_t maxLength);
    void transitionToNextPhase();

    unsigned stringEncoding_;
    RVHTTPHeaders headers_;
    std::shared_ptr<RVInputStream> inputStream_;
    uint64_t bodyContentLength_;
    std::string encodedHeaders_;
    std::string boundaryText_;
    std::string finalBoundaryText_;
    Phase phase_ = Boundary;
    uint64_t phaseReadOffset_ = 0;
    bool failed_ = false;
};

// The body of a multipart request as an input stream: the parts' bytes in append order.
// Parts are appended on the building thread before the request is sent; the stream is then
// read by polling read() on the network thread. It never calls back.
class RVAFMultipartBodyStream : public RVInputStream {
  public:
    explicit RVAFMultipartBodyStream(unsigned stringEncoding);

    uint64_t numberOfBytesInPacket = static_cast<uint64_t>(INT64_MAX);
    double delay = 0;

    unsigned stringEncoding() const { return stringEncoding_; }
    void appendHTTPBodyPart(std::shared_ptr<RVAFHTTPBodyPart> part);
    const std::vector<std::shared_ptr<RVAFHTTPBodyPart>>& HTTPBodyParts() const { return parts_; }
    // Marks the first part with the opening boundary and the last with the closing one.
    void setInitialAndFinalBoundaries();
    bool isEmpty() const { return parts_.empty(); }
    uint64_t contentLength() const;

    void open() override;
    void close() override;
    int64_t read(uint8_t* buffer, size_t maxLength) override;
    bool hasBytesAvailable() const override;
    Status streamStatus() const override;
    std::optional<Error> streamError() const override;
    // Restarts the whole body (every part from its first byte).
    bool rewind() override;

  private:
    unsigned stringEncoding_;
    std::vector<std::shared_ptr<RVAFHTTPBodyPart>> parts_;
    size_t nextPart_ = 0;
    std::shared_ptr<RVAFHTTPBodyPart> currentPart_;
    std::atomic<Status> status_{NotOpen};
    mutable std::mutex errorMutex_;
    std::optional<Error> error_;
};

}  // namespace rivlo
