// Small views: label, text field, image view, scroll view, web view.
#include "platform/ImageView.h"
#include "platform/Label.h"
#include "platform/ScrollView.h"
#include "platform/TextField.h"
#include "platform/WebView.h"

#include <algorithm>

namespace rivlo {

Label::Label(Rect frame, ObjClass* cls) : View(frame, cls) {}

TextField::TextField(Rect frame, ObjClass* cls) : View(frame, cls) {}

std::string TextField::displayText() const {
    if (text_.empty()) return placeholder_;
    if (!secure_) return text_;
    // One bullet per character (UTF-8 continuation bytes do not count).
    std::string out;
    for (unsigned char c : text_) {
        if ((c & 0xC0) != 0x80) out += "\xE2\x80\xA2";
    }
    return out;
}

ImageView::ImageView(Rect frame, ObjClass* cls) : View(frame, cls) {}

ScrollView::ScrollView(Rect frame, ObjClass* cls) : View(frame, cls) {
    setClipsToBounds(true);
}

void ScrollView::setContentOffset(Point offset) {
    const double maxX = std::max(0.0, contentSize_.width - bounds().width());
    const double maxY = std::max(0.0, contentSize_.height - bounds().height());
    if (!(offset.x == offset.x)) offset.x = 0;  // NaN
    if (!(offset.y == offset.y)) offset.y = 0;
    Rect b = bounds();
    b.origin = {std::clamp(offset.x, 0.0, maxX), std::clamp(offset.y, 0.0, maxY)};
    setBounds(b);
}

WebView::WebView(Rect frame, ObjClass* cls) : View(frame, cls) {
    setBackgroundColor(Color::white());
    scrollView_ = std::make_shared<ScrollView>(Rect(0, 0, frame.width(), frame.height()));
    contentView_ =
        std::make_shared<View>(Rect(0, 0, frame.width(), frame.height()),
                               ObjClass::define("UIWebBrowserView", View::classObject()));
    contentView_->setBackgroundColor(Color::white());
    scrollView_->addSubview(contentView_);
    scrollView_->setContentSize(frame.size);
    addSubview(scrollView_);
}

void WebView::setBounds(const Rect& b) {
    View::setBounds(b);
    if (scrollView_) {
        const Point offset = scrollView_->contentOffset();
        scrollView_->setFrame(Rect(0, 0, b.width(), b.height()));
        scrollView_->setContentOffset(offset);
    }
}

void WebView::loadPage(const std::string& url, Size contentSize) {
    url_ = url;
    auto subs = contentView_->subviews();
    for (auto& s : subs)
        s->removeFromSuperview();
    setContentSize(contentSize);
    scrollView_->setContentOffset({0, 0});
}

void WebView::setContentSize(Size size) {
    size.width = std::max(0.0, size.width);
    size.height = std::max(0.0, size.height);
    contentView_->setFrame(Rect(0, 0, size.width, size.height));
    scrollView_->setContentSize(size);
    scrollView_->setContentOffset(scrollView_->contentOffset());
}

std::string WebView::stringByEvaluatingJavaScript(const std::string& script) {
    std::string s = script;
    // Allow surrounding spaces and a trailing semicolon.
    while (!s.empty() && (s.back() == ' ' || s.back() == ';' || s.back() == '\n'))
        s.pop_back();
    size_t start = s.find_first_not_of(" \n");
    if (start != std::string::npos) s = s.substr(start);
    if (s == "document.URL") return url_;
    return "";
}

}  // namespace rivlo
