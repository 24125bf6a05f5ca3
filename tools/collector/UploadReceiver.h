#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "HttpTypes.h"
#include "MultipartParser.h"

namespace rivlo::collector {

// Receives the parts of one multipart upload as they stream in on an I/O thread: text fields
// are kept (small and bounded), the part named "file" goes straight into a temporary file, so a
// movie of any size costs a fixed amount of memory. A problem found on the way is remembered
// and the rest of the body is drained, so the client still gets a clean answer. One instance
// per request; the I/O thread feeds it, then the worker that handles the request reads it.
class UploadReceiver : public HttpBodySink {
  public:
    static constexpr size_t kMaxFieldBytes = 64 * 1024;
    static constexpr size_t kMaxFields = 64;

    // `tempDir` must exist. With `storeFile` false the file bytes are counted but not written
    // (used when the request is going to be refused anyway).
    // With a `boundary`, write() takes the raw multipart body; without, the parts are handed in
    // through onPartHeader() and onPartData().
    UploadReceiver(std::string tempDir, bool storeFile, const std::string& boundary = {});
    ~UploadReceiver() override;

    // The body as it arrives (I/O thread). False once the transfer is to be reset.
    bool write(const char* data, size_t length) override;
    // The transfer ended; an incomplete one drops the temporary file at once.
    void finish(bool complete) override;
    // The connection is reset as the file part begins (an injected fault).
    void resetAtFilePart() { resetAtFile_ = true; }
    bool resetRequested() const { return resetRequested_; }
    // The whole multipart body arrived, up to its closing delimiter.
    bool complete() const { return parser_ && parser_->done(); }
    uint64_t receivedBytes() const { return receivedBytes_; }
    UploadReceiver(const UploadReceiver&) = delete;
    UploadReceiver& operator=(const UploadReceiver&) = delete;

    // Called at the start of each part; `fileName` is empty for a text field. Always returns
    // true: refusals are remembered, not signalled by stopping the transfer.
    bool onPartHeader(const std::string& name, const std::string& fileName,
                      const std::string& contentType);
    // Called with each piece of the current part's body.
    bool onPartData(const char* data, size_t length);
    // Called after the last part, on a worker: writes the temporary file through to the disk
    // (fsync) and closes it, so it can be moved into place and indexed.
    void sync();

    bool failed() const { return status_ != 0; }
    int errorStatus() const { return status_; }
    const std::string& error() const { return error_; }

    const std::map<std::string, std::string>& fields() const { return fields_; }
    bool hasFile() const { return hasFile_; }
    const std::string& fileName() const { return fileName_; }
    const std::string& contentType() const { return contentType_; }
    uint64_t fileSize() const { return fileSize_; }
    uint64_t bodyBytes() const { return bodyBytes_; }
    const std::string& tempPath() const { return tempPath_; }

    // The temporary file has been moved away; the destructor must not delete it.
    void releaseTempFile() { tempPath_.clear(); }
    // Drops what was received so far (the temporary file) now, before the refusal is logged.
    void discard();

  private:
    enum class Target { Field, File, Ignored };

    void fail(int status, const std::string& message);
    void closeFile();

    std::string tempDir_;
    bool storeFile_;
    int status_ = 0;
    std::string error_;

    Target target_ = Target::Ignored;
    std::string currentField_;
    std::map<std::string, std::string> fields_;
    bool hasFile_ = false;
    std::string fileName_;
    std::string contentType_;
    uint64_t fileSize_ = 0;
    uint64_t bodyBytes_ = 0;
    std::string tempPath_;
    int fd_ = -1;
    std::unique_ptr<MultipartParser> parser_;
    uint64_t receivedBytes_ = 0;
    bool resetAtFile_ = false;
    bool resetRequested_ = false;
};

}  // namespace rivlo::collector
