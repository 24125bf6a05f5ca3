#pragma once

#include "platform/View.h"

#include <string>

namespace rivlo {

enum class TextAlignment { Left = 0, Center = 1, Right = 2 };

// A view showing one or more lines of text. Main thread only.
class Label : public View {
  public:
    static ObjClass* classObject();  // "UILabel"
    explicit Label(Rect frame = {}, ObjClass* cls = classObject());

    const std::string& text() const { return text_; }
    void setText(std::string text) { text_ = std::move(text); }
    double fontSize() const { return fontSize_; }
    void setFontSize(double size) { fontSize_ = size > 0 ? size : 17.0; }
    bool isBold() const { return bold_; }
    void setBold(bool bold) { bold_ = bold; }
    Color textColor() const { return textColor_; }
    void setTextColor(Color c) { textColor_ = c; }
    TextAlignment textAlignment() const { return alignment_; }
    void setTextAlignment(TextAlignment a) { alignment_ = a; }
    int numberOfLines() const { return numberOfLines_; }
    void setNumberOfLines(int n) { numberOfLines_ = n < 0 ? 0 : n; }

  private:
    std::string text_;
    double fontSize_ = 17.0;
    bool bold_ = false;
    Color textColor_ = Color::black();
    TextAlignment alignment_ = TextAlignment::Left;
    int numberOfLines_ = 1;
};

}  // namespace rivlo
