#include "UploadReceiver.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "CollectorNames.h"

namespace rivlo::collector {

UploadReceiver::UploadReceiver(std::string tempDir, bool storeFile, const std::string& boundary)
    : tempDir_(std::move(tempDir)), storeFile_(storeFile) {
    if (boundary.empty()) return;
    parser_ = std::make_unique<MultipartParser>(
        boundary,
        [this](const std::string& name, const std::string& fileName,
               const std::string& contentType) {
            if (resetAtFile_ && name == "file") {
                resetRequested_ = true;
                return false;
            }
            return onPartHeader(name, fileName, contentType);
        },
        [this](const char* data, size_t length) { return onPartData(data, length); });
}

bool UploadReceiver::write(const char* data, size_t length) {
    receivedBytes_ += length;
    if (parser_) parser_->feed(data, length);
    return !resetRequested_;
}

void UploadReceiver::finish(bool complete) {
    if (!complete) discard();
}

UploadReceiver::~UploadReceiver() {
    closeFile();
    if (!tempPath_.empty()) ::unlink(tempPath_.c_str());
}

void UploadReceiver::fail(int status, const std::string& message) {
    if (status_ != 0) return;  // the first problem is the one reported
    status_ = status;
    error_ = message;
    closeFile();
    if (!tempPath_.empty()) {
        ::unlink(tempPath_.c_str());
        tempPath_.clear();
    }
}

void UploadReceiver::closeFile() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool UploadReceiver::onPartHeader(const std::string& name, const std::string& fileName,
                                  const std::string& contentType) {
    target_ = Target::Ignored;
    if (failed()) return true;
    if (name == "file") {
        if (hasFile_) {
            fail(400, "more than one file part named \"file\"");
            return true;
        }
        if (fileName.empty()) {
            fail(400, "the file part \"file\" has no file name");
            return true;
        }
        if (!CollectorNames::isSafeFileName(fileName)) {
            fail(400, "the file name of the part \"file\" is not a plain file name");
            return true;
        }
        hasFile_ = true;
        fileName_ = fileName;
        contentType_ = contentType;
        target_ = Target::File;
        if (!storeFile_) return true;
        std::string pattern = tempDir_ + "/upload-XXXXXX";
        std::vector<char> path(pattern.begin(), pattern.end());
        path.push_back('\0');
        fd_ = ::mkstemp(path.data());
        if (fd_ < 0 && (errno == ENOSPC || errno == EDQUOT)) {
            fail(507, "the collector's disk is full");
            return true;
        }
        if (fd_ < 0) {
            fail(500, std::string("cannot create a temporary file: ") + std::strerror(errno));
            return true;
        }
        tempPath_ = path.data();
        return true;
    }
    if (!fileName.empty()) return true;  // a file part the service does not know: dropped
    if (fields_.count(name)) {
        fail(400, "the form field \"" + name + "\" is given twice");
        return true;
    }
    if (fields_.size() >= kMaxFields) {
        fail(400, "too many form fields");
        return true;
    }
    fields_[name];
    currentField_ = name;
    target_ = Target::Field;
    return true;
}

bool UploadReceiver::onPartData(const char* data, size_t length) {
    bodyBytes_ += length;
    if (failed()) return true;
    switch (target_) {
        case Target::Ignored:
            return true;
        case Target::Field: {
            std::string& value = fields_[currentField_];
            if (value.size() + length > kMaxFieldBytes) {
                fail(400, "the form field \"" + currentField_ + "\" is too large");
                return true;
            }
            value.append(data, length);
            return true;
        }
        case Target::File:
            fileSize_ += length;
            if (fd_ < 0) return true;
            while (length > 0) {
                ssize_t written = ::write(fd_, data, length);
                if (written < 0 && errno == EINTR) continue;
                if (written <= 0) {
                    if (errno == ENOSPC || errno == EDQUOT) {
                        fail(507, "the collector's disk is full");
                        return true;
                    }
                    fail(500, std::string("cannot write the upload: ") + std::strerror(errno));
                    return true;
                }
                data += written;
                length -= static_cast<size_t>(written);
            }
            return true;
    }
    return true;
}

void UploadReceiver::discard() {
    closeFile();
    if (!tempPath_.empty()) {
        ::unlink(tempPath_.c_str());
        tempPath_.clear();
    }
}

void UploadReceiver::sync() {
    int code = 0;
    if (fd_ >= 0 && ::fsync(fd_) != 0) code = errno;
    if (fd_ >= 0 && ::close(fd_) != 0 && code == 0) code = errno;
    if (code != 0) {
        fd_ = -1;
        if (code == ENOSPC || code == EDQUOT) {
            fail(507, "the collector's disk is full");
        } else {
            fail(500, std::string("cannot finish the upload: ") + std::strerror(code));
        }
    }
    fd_ = -1;
    target_ = Target::Ignored;
}

}  // namespace rivlo::collector
