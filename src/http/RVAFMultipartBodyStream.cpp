#include "http/RVAFMultipartBodyStream.h"

#include "foundation/Log.h"
#include "http/RVAFNetworking.h"
#include "http/RVAFStringEncoding.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace rivlo {

namespace {

const std::string kCRLF = "\r\n";

std::string initialBoundary() {
    return "--" + std::string(RVAFMultipartFormBoundary) + kCRLF;
}
std::string encapsulationBoundary() {
    return kCRLF + "--" + std::string(RVAFMultipartFormBoundary) + kCRLF;
}
std::string finalBoundary() {
    return kCRLF + "--" + std::string(RVAFMultipartFormBoundary) + "--" + kCRLF;
}

const std::string& emptyText() {
    static const std::string empty;  // constant-initialised, nothing to free
    return empty;
}

}  // namespace

// ---- RVAFHTTPBodyPart ---------------------------------------------------------------------

RVAFHTTPBodyPart::RVAFHTTPBodyPart(unsigned stringEncoding, RVHTTPHeaders headers,
                                   std::shared_ptr<RVInputStream> inputStream,
                                   uint64_t bodyContentLength)
    : stringEncoding_(stringEncoding),
      headers_(std::move(headers)),
      inputStream_(inputStream ? std::move(inputStream)
                               : std::make_shared<RVDataInputStream>(std::string())),
      bodyContentLength_(bodyContentLength) {
    const std::string text = stringForHeaders();
    // Header texts that cannot be written in the part's encoding go out as UTF-8 rather than
    // vanishing, so the declared length and the bytes sent always agree.
    encodedHeaders_ = RVAFEncodeString(text, stringEncoding_).value_or(text);
}

RVAFHTTPBodyPart::~RVAFHTTPBodyPart() {
    if (inputStream_) inputStream_->close();
}

std::string RVAFHTTPBodyPart::stringForHeaders() const {
    std::string out;
    for (const auto& [name, value] : headers_)
        out += name + ": " + value + kCRLF;
    out += kCRLF;
    return out;
}

uint64_t RVAFHTTPBodyPart::contentLength() const {
    uint64_t length =
        hasInitialBoundary ? initialBoundary().size() : encapsulationBoundary().size();
    length += encodedHeaders_.size();
    length += bodyContentLength_;
    if (hasFinalBoundary) length += finalBoundary().size();
    return length;
}

bool RVAFHTTPBodyPart::hasBytesAvailable() const {
    return phase_ != Done && !failed_;
}

const std::string& RVAFHTTPBodyPart::textForPhase(Phase phase) {
    switch (phase) {
        case Boundary:
            if (boundaryText_.empty()) {
                boundaryText_ = hasInitialBoundary ? initialBoundary() : encapsulationBoundary();
            }
            return boundaryText_;
        case Headers:
            return encodedHeaders_;
        case FinalBoundary:
            if (finalBoundaryText_.empty()) finalBoundaryText_ = finalBoundary();
            return hasFinalBoundary ? finalBoundaryText_ : emptyText();
        default:
            return emptyText();
    }
}

size_t RVAFHTTPBodyPart::readText(const std::string& text, uint8_t* buffer, size_t maxLength) {
    const uint64_t left = text.size() - std::min<uint64_t>(phaseReadOffset_, text.size());
    const size_t n = static_cast<size_t>(std::min<uint64_t>(left, maxLength));
    if (n > 0) std::memcpy(buffer, text.data() + phaseReadOffset_, n);
    phaseReadOffset_ += n;
    if (phaseReadOffset_ >= text.size()) transitionToNextPhase();
    return n;
}

void RVAFHTTPBodyPart::transitionToNextPhase() {
    // Runs on the reading thread; nothing here waits for another thread.
    switch (phase_) {
        case Boundary:
            phase_ = Headers;
            break;
        case Headers:
            phase_ = Body;
            inputStream_->open();
            break;
        case Body:
            inputStream_->close();
            phase_ = FinalBoundary;
            break;
        case FinalBoundary:
        case Done:
            phase_ = Done;
            break;
    }
    phaseReadOffset_ = 0;
}

int64_t RVAFHTTPBodyPart::read(uint8_t* buffer, size_t maxLength) {
    if (failed_) return -1;
    size_t total = 0;
    // The boundary text depends on the flags, which are final once reading starts.
    if (phase_ == Boundary && phaseReadOffset_ == 0) boundaryText_.clear();
    while (total < maxLength && phase_ != Done) {
        if (phase_ == Body) {
            if (inputStream_->hasBytesAvailable()) {
                const int64_t n = inputStream_->read(buffer + total, maxLength - total);
                if (n < 0 || inputStream_->streamStatus() == RVInputStream::Failed) {
                    failed_ = true;
                    return -1;
                }
                total += static_cast<size_t>(n);
                if (n == 0 && inputStream_->hasBytesAvailable()) break;  // nothing yet
            }
            if (!inputStream_->hasBytesAvailable()) {
                if (inputStream_->streamStatus() == RVInputStream::Failed) {
                    failed_ = true;
                    return -1;
                }
                transitionToNextPhase();
            }
            continue;
        }
        const std::string& text = textForPhase(phase_);
        if (text.empty()) {
            transitionToNextPhase();
            continue;
        }
        total += readText(text, buffer + total, maxLength - total);
    }
    return static_cast<int64_t>(total);
}

bool RVAFHTTPBodyPart::rewind() {
    inputStream_->close();
    if (!inputStream_->rewind()) return false;
    phase_ = Boundary;
    phaseReadOffset_ = 0;
    boundaryText_.clear();
    failed_ = false;
    return true;
}

// ---- RVAFMultipartBodyStream --------------------------------------------------------------

RVAFMultipartBodyStream::RVAFMultipartBodyStream(unsigned stringEncoding)
    : stringEncoding_(stringEncoding) {}

void RVAFMultipartBodyStream::appendHTTPBodyPart(std::shared_ptr<RVAFHTTPBodyPart> part) {
    if (part) parts_.push_back(std::move(part));
}

void RVAFMultipartBodyStream::setInitialAndFinalBoundaries() {
    if (parts_.empty()) return;
    for (auto& part : parts_) {
        part->hasInitialBoundary = false;
        part->hasFinalBoundary = false;
    }
    parts_.front()->hasInitialBoundary = true;
    parts_.back()->hasFinalBoundary = true;
}

uint64_t RVAFMultipartBodyStream::contentLength() const {
    uint64_t length = 0;
    for (const auto& part : parts_)
        length += part->contentLength();
    return length;
}

void RVAFMultipartBodyStream::open() {
    if (status_ == Open) return;
    status_ = Open;
    setInitialAndFinalBoundaries();
    nextPart_ = 0;
    currentPart_.reset();
}

void RVAFMultipartBodyStream::close() {
    if (status_ != Failed) status_ = Closed;
}

int64_t RVAFMultipartBodyStream::read(uint8_t* buffer, size_t maxLength) {
    const Status status = status_;
    if (status == Failed) return -1;
    if (status != Open) return 0;
    size_t delivered = 0;
    const uint64_t limit = std::min<uint64_t>(numberOfBytesInPacket, maxLength);
    while (delivered < limit) {
        if (currentPart_ && currentPart_->hasBytesAvailable()) {
            const int64_t n = currentPart_->read(buffer + delivered, maxLength - delivered);
            if (n < 0) {
                std::optional<Error> partError = currentPart_->inputStream()->streamError();
                if (!partError) {
                    partError = Error(URLErrorDomain, RVAFURLErrorRequestBodyStreamExhausted);
                    partError->setInfo(ErrorKey::LocalizedDescription,
                                       "A part of the request body could not be read");
                }
                {
                    std::lock_guard<std::mutex> lock(errorMutex_);
                    error_ = partError;
                }
                status_ = Failed;
                return -1;
            }
            delivered += static_cast<size_t>(n);
            if (delay > 0) {
                std::this_thread::sleep_for(std::chrono::duration<double>(delay));
            }
            if (n == 0 && currentPart_->hasBytesAvailable()) break;
        } else {
            if (nextPart_ >= parts_.size()) {
                currentPart_.reset();
                break;
            }
            currentPart_ = parts_[nextPart_++];
        }
    }
    return static_cast<int64_t>(delivered);
}

bool RVAFMultipartBodyStream::hasBytesAvailable() const {
    return status_ == Open;
}

RVInputStream::Status RVAFMultipartBodyStream::streamStatus() const {
    return status_;
}

std::optional<Error> RVAFMultipartBodyStream::streamError() const {
    std::lock_guard<std::mutex> lock(errorMutex_);
    return error_;
}

bool RVAFMultipartBodyStream::rewind() {
    for (auto& part : parts_) {
        if (!part->rewind()) return false;
    }
    {
        std::lock_guard<std::mutex> lock(errorMutex_);
        error_.reset();
    }
    status_ = NotOpen;
    nextPart_ = 0;
    currentPart_.reset();
    open();
    return true;
}

}  // namespace rivlo
