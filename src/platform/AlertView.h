#pragma once

#include <memory>
#include <string>
#include <vector>

namespace rivlo {

class AlertView;

class AlertViewDelegate {
  public:
    virtual ~AlertViewDelegate() = default;
    // The user chose a button; called on the main thread after the alert has closed.
    virtual void alertViewClickedButtonAtIndex(AlertView& alert, int buttonIndex) = 0;
};

// A modal question with buttons. The cancel button (when given) has index 0 and the other
// buttons follow in order. show() hands it to the installed application, which keeps it until
// it is answered or dismissed. Main thread only.
class AlertView : public std::enable_shared_from_this<AlertView> {
  public:
    AlertView(std::string title, std::string message, std::weak_ptr<AlertViewDelegate> delegate,
              std::string cancelButtonTitle, std::vector<std::string> otherButtonTitles);

    const std::string& title() const { return title_; }
    const std::string& message() const { return message_; }
    int tag() const { return tag_; }
    void setTag(int tag) { tag_ = tag; }
    std::weak_ptr<AlertViewDelegate> delegate() const { return delegate_; }
    // -1 when there is no cancel button.
    int cancelButtonIndex() const { return cancelButtonTitle_.empty() ? -1 : 0; }
    int numberOfButtons() const;
    std::string buttonTitleAtIndex(int index) const;
    bool isVisible() const { return visible_; }

    void show();
    // Closes the alert without telling the delegate.
    void dismissWithClickedButtonIndex(int buttonIndex, bool animated);

    // Toolkit side: the user pressed a button. Closes the alert and tells the delegate.
    // Out-of-range indexes are refused (false, logged).
    bool clickButton(int buttonIndex);
    // Toolkit side: the application took or dropped the alert.
    void setVisible(bool visible) { visible_ = visible; }

  private:
    std::string title_;
    std::string message_;
    std::weak_ptr<AlertViewDelegate> delegate_;
    std::string cancelButtonTitle_;
    std::vector<std::string> otherButtonTitles_;
    int tag_ = 0;
    bool visible_ = false;
};

}  // namespace rivlo
