#pragma once

#include "http/RVAFHTTPRequestOperation.h"

namespace rivlo {

// Property-list formats (the platform's values).
namespace PropertyListFormat {
inline constexpr unsigned OpenStep = 1;
inline constexpr unsigned XML = 100;
inline constexpr unsigned Binary = 200;
}  // namespace PropertyListFormat

// An HTTP request operation whose successful body is decoded as a property list (XML or
// binary) on the class's processing queue. Accepts application/x-plist.
class RVAFPropertyListRequestOperation : public RVAFHTTPRequestOperation {
  public:
    using PropertyListSuccessBlock = std::function<void(
        const RVURLRequest&, const std::optional<RVHTTPURLResponse>&, const Value& plist)>;
    using PropertyListFailureBlock =
        std::function<void(const RVURLRequest&, const std::optional<RVHTTPURLResponse>&,
                           const Error&, const Value& plist)>;

    explicit RVAFPropertyListRequestOperation(RVURLRequest request);
    static std::shared_ptr<RVAFPropertyListRequestOperation>
    propertyListRequestOperationWithRequest(const RVURLRequest& request,
                                            PropertyListSuccessBlock success,
                                            PropertyListFailureBlock failure);

    std::string className() const override { return "RVAFPropertyListRequestOperation"; }

    // Computed once when finished with a non-empty body.
    std::optional<Value> responsePropertyList();
    unsigned propertyListReadOptions() const { return 0; }
    // The detected format (0 until decoded).
    unsigned propertyListFormat() const;
    std::optional<Error> propertyListError() const;
    std::optional<Error> error() const override;

    void setCompletionBlockWithSuccess(SuccessBlock success, FailureBlock failure) override;

    static std::optional<std::set<std::string>> acceptableContentTypes();
    static void addAcceptableContentTypes(const std::set<std::string>& types);
    static bool canProcessRequest(const RVURLRequest& request);
    static DispatchQueue& processingQueue();

  protected:
    std::optional<std::set<std::string>> classAcceptableContentTypes() const override;

  private:
    bool decoded_ = false;
    std::optional<Value> responsePropertyList_;
    unsigned propertyListFormat_ = 0;
    std::optional<Error> propertyListError_;
};

}  // namespace rivlo
