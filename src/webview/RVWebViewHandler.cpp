#include "webview/RVWebViewHandler.h"

#include "core/RVSessionSteps.h"
#include "foundation/SharedInstance.h"
#include "platform/Application.h"
#include "store/RVPlistHandler.h"
#include "webview/RVWebView.h"

#include <utility>

namespace rivlo {

RVWebViewHandler* RVWebViewHandler::sharedHandler() {
    static SharedInstance<RVWebViewHandler> handler;
    return &handler.get([] { return new RVWebViewHandler; });
}

RVWebViewHandler::RVWebViewHandler() {
    // Observed until the library closes.
    activationObserver_ = NotificationCenter::defaultCenter().addObserver(
        ApplicationNotification::DidBecomeActive, nullptr,
        [this](const Notification&) { applicationDidBecomeActive(); });
}

RVWebViewHandler::~RVWebViewHandler() {
    NotificationCenter::defaultCenter().removeObserver(activationObserver_);
}

RVWebViewHandler::WebViewDict RVWebViewHandler::webViewDict() const {
    std::lock_guard lock(mutex_);
    return webViewDict_;
}

bool RVWebViewHandler::isNewWebView(const std::string& key) {
    RVWebViewHandler* handler = sharedHandler();
    std::lock_guard lock(handler->mutex_);
    return handler->webViewDict_.find(key) == handler->webViewDict_.end();
}

std::shared_ptr<RVWebView> RVWebViewHandler::webViewForKey(const std::string& key) {
    {
        std::lock_guard lock(mutex_);
        auto found = webViewDict_.find(key);
        if (found != webViewDict_.end()) return found->second;
    }
    // Made outside the lock (it asks the platform for the orientation); the first one stored
    // wins should two threads race.
    auto record = RVWebView::initWithWebViewName(key);
    std::lock_guard lock(mutex_);
    return webViewDict_.try_emplace(key, std::move(record)).first->second;
}

void RVWebViewHandler::applicationDidBecomeActive() {
    WebViewDict dropped;
    {
        std::lock_guard lock(mutex_);
        dropped.swap(webViewDict_);
    }
    // The dropped records are released here, outside the lock.
}

void RVWebViewHandler::saveWebViewData() {
    RVWebViewHandler* handler = sharedHandler();
    WebViewDict saved;
    {
        std::lock_guard lock(handler->mutex_);
        saved.swap(handler->webViewDict_);
    }
    if (saved.empty()) return;
    RVPlistHandler::sharedHandler()->addWebView(saved);
}

void RVWebViewHandler::registerSessionSteps() {
    RVWebViewSteps steps;
    steps.saveWebViewData = [] { saveWebViewData(); };
    steps.postWebViewData = [] { postWebViewData(); };
    RVSessionSteps::registerWebViews(std::move(steps));
}

}  // namespace rivlo
