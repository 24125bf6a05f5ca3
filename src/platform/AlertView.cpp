#include "platform/AlertView.h"

#include "foundation/Log.h"
#include "platform/Application.h"
#include "platform/Platform.h"

namespace rivlo {

AlertView::AlertView(std::string title, std::string message,
                     std::weak_ptr<AlertViewDelegate> delegate, std::string cancelButtonTitle,
                     std::vector<std::string> otherButtonTitles)
    : title_(std::move(title)),
      message_(std::move(message)),
      delegate_(std::move(delegate)),
      cancelButtonTitle_(std::move(cancelButtonTitle)),
      otherButtonTitles_(std::move(otherButtonTitles)) {}

int AlertView::numberOfButtons() const {
    return static_cast<int>(otherButtonTitles_.size()) + (cancelButtonTitle_.empty() ? 0 : 1);
}

std::string AlertView::buttonTitleAtIndex(int index) const {
    if (index < 0 || index >= numberOfButtons()) return "";
    if (!cancelButtonTitle_.empty()) {
        if (index == 0) return cancelButtonTitle_;
        --index;
    }
    return otherButtonTitles_[static_cast<size_t>(index)];
}

void AlertView::show() {
    auto app = Platform::current().application();
    auto self = weak_from_this().lock();
    if (!app || !self) {
        RVLog("AlertView: cannot show \"%s\": no application", title_.c_str());
        return;
    }
    if (visible_) return;
    visible_ = true;
    app->presentAlert(self);
}

void AlertView::dismissWithClickedButtonIndex(int, bool) {
    if (!visible_) return;
    visible_ = false;
    if (auto app = Platform::current().application()) app->alertClosed(*this);
}

bool AlertView::clickButton(int buttonIndex) {
    if (!visible_) {
        RVLog("AlertView: \"%s\" is not showing; button %d ignored", title_.c_str(), buttonIndex);
        return false;
    }
    if (buttonIndex < 0 || buttonIndex >= numberOfButtons()) {
        RVLog("AlertView: \"%s\" has no button %d", title_.c_str(), buttonIndex);
        return false;
    }
    auto self = shared_from_this();
    dismissWithClickedButtonIndex(buttonIndex, true);
    if (auto d = delegate_.lock()) d->alertViewClickedButtonAtIndex(*this, buttonIndex);
    return true;
}

}  // namespace rivlo
