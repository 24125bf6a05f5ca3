#pragma once

#include "platform/ScrollView.h"

#include <string>

namespace rivlo {

// A view that shows a web page. It holds a scroll view, and inside it the page's content view
// (sized to the whole page), so a hit test inside the page normally answers the content view.
// The page's painted content is built by the platform as subviews of the content view.
// Main thread only.
class WebView : public View {
  public:
    static ObjClass* classObject();  // "UIWebView"
    explicit WebView(Rect frame = {}, ObjClass* cls = classObject());

    std::shared_ptr<ScrollView> scrollView() const { return scrollView_; }
    // The internal view that holds the page, sized to the page.
    std::shared_ptr<View> contentView() const { return contentView_; }

    // Shows a new page: sets the address, sizes the content view and scrolls to the top.
    // The content view's old subviews are removed.
    void loadPage(const std::string& url, Size contentSize);
    const std::string& url() const { return url_; }
    // Resizes the page (for example when more of it has loaded).
    void setContentSize(Size size);

    // Evaluates a script in the page and answers its text result; "document.URL" answers the
    // page address, anything else the empty text.
    virtual std::string stringByEvaluatingJavaScript(const std::string& script);

    void setBounds(const Rect& bounds) override;

  private:
    std::shared_ptr<ScrollView> scrollView_;
    std::shared_ptr<View> contentView_;
    std::string url_;
};

}  // namespace rivlo
