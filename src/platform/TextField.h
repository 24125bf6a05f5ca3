#pragma once

#include "platform/View.h"

#include <string>

namespace rivlo {

// An editable one-line text field. With secure text entry the text is shown as bullets.
// Main thread only.
class TextField : public View {
  public:
    static ObjClass* classObject();  // "UITextField"
    explicit TextField(Rect frame = {}, ObjClass* cls = classObject());

    const std::string& text() const { return text_; }
    void setText(std::string text) { text_ = std::move(text); }
    const std::string& placeholder() const { return placeholder_; }
    void setPlaceholder(std::string p) { placeholder_ = std::move(p); }
    bool isSecureTextEntry() const { return secure_; }
    void setSecureTextEntry(bool secure) { secure_ = secure; }
    double fontSize() const { return fontSize_; }
    void setFontSize(double size) { fontSize_ = size > 0 ? size : 17.0; }
    Color textColor() const { return textColor_; }
    void setTextColor(Color c) { textColor_ = c; }
    // What the field shows: the text (bullets when secure), or the placeholder when empty.
    std::string displayText() const;

  private:
    std::string text_;
    std::string placeholder_;
    bool secure_ = false;
    double fontSize_ = 17.0;
    Color textColor_ = Color::black();
};

}  // namespace rivlo
