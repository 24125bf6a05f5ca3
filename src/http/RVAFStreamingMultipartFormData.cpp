#include "http/RVAFStreamingMultipartFormData.h"

#include "http/RVAFNetworking.h"

#include <algorithm>
#include <cctype>
#include <string_view>
#include <utility>
#include <sys/stat.h>

namespace rivlo {

namespace {

Error fileError(const std::string& reason) {
    Error error(RVAFNetworkingErrorDomain, URLErrorCode::BadURL);
    error.setInfo(ErrorKey::LocalizedFailureReason, reason);
    return error;
}

// A name or file name goes between double quotes in a header line: a quote or a line break in
// it would end the parameter or the line and let the value add headers or parts of its own, so
// they travel percent-encoded, as browsers send them.
std::string quotedParameter(const std::string& value) {
    std::string out;
    out.reserve(value.size() + 2);
    out += '"';
    for (const char c : value) {
        if (c == '"')
            out += "%22";
        else if (c == '\r')
            out += "%0D";
        else if (c == '\n')
            out += "%0A";
        else
            out += c;
    }
    out += '"';
    return out;
}

// A header value is one line.
std::string oneLine(std::string value) {
    std::replace_if(
        value.begin(), value.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    return value;
}

std::string disposition(const std::string& name) {
    return "form-data; name=" + quotedParameter(name);
}

std::string disposition(const std::string& name, const std::string& fileName) {
    return disposition(name) + "; filename=" + quotedParameter(fileName);
}

}  // namespace

std::string RVAFContentTypeForPathExtension(const std::string& extension) {
    // A fixed table: a sorted array needs no allocation.
    static constexpr std::pair<std::string_view, std::string_view> kTypes[] = {
        {"mp4", "video/mp4"},       {"m4v", "video/x-m4v"},     {"mov", "video/quicktime"},
        {"txt", "text/plain"},      {"text", "text/plain"},     {"json", "application/json"},
        {"jpeg", "image/jpeg"},     {"jpg", "image/jpeg"},      {"png", "image/png"},
        {"gif", "image/gif"},       {"tif", "image/tiff"},      {"tiff", "image/tiff"},
        {"bmp", "image/bmp"},       {"ico", "image/x-icon"},    {"html", "text/html"},
        {"htm", "text/html"},       {"xml", "application/xml"}, {"plist", "application/x-plist"},
        {"pdf", "application/pdf"}, {"zip", "application/zip"}, {"m4a", "audio/mp4"},
        {"mp3", "audio/mpeg"},      {"wav", "audio/wav"},       {"csv", "text/csv"},
    };
    std::string ext = extension;
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const auto& [known, type] : kTypes) {
        if (known == ext) return std::string(type);
    }
    return std::string();
}

RVAFStreamingMultipartFormData::RVAFStreamingMultipartFormData(const RVURLRequest& request,
                                                               unsigned stringEncoding)
    : request_(request),
      stringEncoding_(stringEncoding),
      bodyStream_(std::make_shared<RVAFMultipartBodyStream>(stringEncoding)) {}

bool RVAFStreamingMultipartFormData::appendPartWithFileURL(const URL& fileURL,
                                                           const std::string& name, Error* error) {
    if (!fileURL.isFileURL()) {
        if (error) *error = fileError("Expected URL to be a file URL");
        return false;
    }
    const std::string path = fileURL.decodedPath();
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (error) *error = fileError("File URL not reachable.");
        return false;
    }
    const std::string fileName = fileURL.lastPathComponent();
    RVHTTPHeaders headers;
    headers["Content-Disposition"] = disposition(name, fileName);
    const std::string type = RVAFContentTypeForPathExtension(fileURL.pathExtension());
    if (!type.empty()) headers["Content-Type"] = type;
    const uint64_t length = S_ISREG(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0;
    bodyStream_->appendHTTPBodyPart(std::make_shared<RVAFHTTPBodyPart>(
        stringEncoding_, std::move(headers), std::make_shared<RVFileInputStream>(path, length),
        length));
    return true;
}

void RVAFStreamingMultipartFormData::appendPartWithFileData(const std::string& data,
                                                            const std::string& name,
                                                            const std::string& fileName,
                                                            const std::string& mimeType) {
    RVHTTPHeaders headers;
    headers["Content-Disposition"] = disposition(name, fileName);
    headers["Content-Type"] = oneLine(mimeType);
    appendPartWithHeaders(headers, data);
}

void RVAFStreamingMultipartFormData::appendPartWithFormData(const std::string& data,
                                                            const std::string& name) {
    RVHTTPHeaders headers;
    headers["Content-Disposition"] = disposition(name);
    appendPartWithHeaders(headers, data);
}

void RVAFStreamingMultipartFormData::appendPartWithHeaders(const RVHTTPHeaders& headers,
                                                           const std::string& body) {
    auto data = std::make_shared<const std::string>(body);
    bodyStream_->appendHTTPBodyPart(std::make_shared<RVAFHTTPBodyPart>(
        stringEncoding_, headers, std::make_shared<RVDataInputStream>(data), data->size()));
}

void RVAFStreamingMultipartFormData::throttleBandwidthWithPacketSize(uint64_t numberOfBytes,
                                                                     double delay) {
    bodyStream_->numberOfBytesInPacket = numberOfBytes;
    bodyStream_->delay = delay;
}

RVURLRequest RVAFStreamingMultipartFormData::requestByFinalizingMultipartFormData() {
    if (bodyStream_->isEmpty()) return request_;
    bodyStream_->setInitialAndFinalBoundaries();
    request_.setValue(std::string("multipart/form-data; boundary=") + RVAFMultipartFormBoundary,
                      "Content-Type");
    request_.setValue(std::to_string(bodyStream_->contentLength()), "Content-Length");
    request_.setHTTPBodyStream(bodyStream_);
    return request_;
}

}  // namespace rivlo
