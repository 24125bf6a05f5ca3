#pragma once

#include "foundation/Error.h"
#include "foundation/URL.h"
#include "http/RVAFMultipartBodyStream.h"
#include "http/RVURLRequest.h"

#include <memory>
#include <string>

namespace rivlo {

// The MIME type registered for a file-name extension (case-insensitive), "" when none.
std::string RVAFContentTypeForPathExtension(const std::string& extension);

// Builds the multipart/form-data body of one request. Used on one thread (the caller's); the
// finished request owns the body stream, which streams file parts from disk when it is sent.
class RVAFStreamingMultipartFormData {
  public:
    RVAFStreamingMultipartFormData(const RVURLRequest& request, unsigned stringEncoding);

    // Appends a part that streams the file; its length is the file's size now. False (with the
    // error filled in when one is given) for a URL that is not a file URL or a missing file.
    bool appendPartWithFileURL(const URL& fileURL, const std::string& name, Error* error = nullptr);
    void appendPartWithFileData(const std::string& data, const std::string& name,
                                const std::string& fileName, const std::string& mimeType);
    void appendPartWithFormData(const std::string& data, const std::string& name);
    void appendPartWithHeaders(const RVHTTPHeaders& headers, const std::string& body);
    void throttleBandwidthWithPacketSize(uint64_t numberOfBytes, double delay);

    // The request with Content-Type, Content-Length and the body stream set (unchanged when
    // nothing was appended).
    RVURLRequest requestByFinalizingMultipartFormData();

    const RVURLRequest& request() const { return request_; }
    const std::shared_ptr<RVAFMultipartBodyStream>& bodyStream() const { return bodyStream_; }
    unsigned stringEncoding() const { return stringEncoding_; }

  private:
    RVURLRequest request_;
    unsigned stringEncoding_;
    std::shared_ptr<RVAFMultipartBodyStream> bodyStream_;
};

}  // namespace rivlo
