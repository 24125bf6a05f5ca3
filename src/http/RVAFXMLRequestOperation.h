#pragma once

#include "http/RVAFHTTPRequestOperation.h"
#include "http/RVXMLParser.h"

namespace rivlo {

// An HTTP request operation that hands out an XML parser over the successful body; parsing is
// left to the receiver. Accepts application/xml, text/xml and text/html.
class RVAFXMLRequestOperation : public RVAFHTTPRequestOperation {
  public:
    using XMLSuccessBlock =
        std::function<void(const RVURLRequest&, const std::optional<RVHTTPURLResponse>&,
                           const std::shared_ptr<RVXMLParser>& parser)>;
    using XMLFailureBlock =
        std::function<void(const RVURLRequest&, const std::optional<RVHTTPURLResponse>&,
                           const Error&, const std::shared_ptr<RVXMLParser>& parser)>;

    explicit RVAFXMLRequestOperation(RVURLRequest request);
    static std::shared_ptr<RVAFXMLRequestOperation> XMLParserRequestOperationWithRequest(
        const RVURLRequest& request, XMLSuccessBlock success, XMLFailureBlock failure);

    std::string className() const override { return "RVAFXMLRequestOperation"; }

    // Made once when finished with a non-empty body.
    std::shared_ptr<RVXMLParser> responseXMLParser();
    std::optional<Error> XMLError() const;
    std::optional<Error> error() const override;
    // Also detaches the parser's delegate.
    void cancel() override;

    // Success gets a null value; the parser is responseXMLParser().
    void setCompletionBlockWithSuccess(SuccessBlock success, FailureBlock failure) override;

    static std::optional<std::set<std::string>> acceptableContentTypes();
    static void addAcceptableContentTypes(const std::set<std::string>& types);
    static bool canProcessRequest(const RVURLRequest& request);
    static DispatchQueue& processingQueue();

  protected:
    std::optional<std::set<std::string>> classAcceptableContentTypes() const override;

  private:
    std::shared_ptr<RVXMLParser> parser_;
    std::optional<Error> XMLError_;
};

}  // namespace rivlo
