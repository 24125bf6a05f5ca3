#pragma once

#include "platform/WebView.h"

#include <QObject>
#include <QPointer>

#include <memory>

namespace rivlo {

class QtWebViewHost;

// A web view's proxy in a bridge's shadow of its windows: the page address, contents size and
// scroll position of a QWebEngineView or a Qt Quick WebEngineView (read through its host's web
// view module). Hit tests inside it answer its content view, sized to the whole page and
// scrolled like it. Main thread only.
class QtWebViewProxy : public WebView {
  public:
    QtWebViewProxy(ObjClass* cls, QObject* view, std::weak_ptr<QtWebViewHost> host);
    // Copies the page's address, contents size and scroll position.
    void follow();
    QObject* webView() const { return view_.data(); }
    // What shows the view (null once that is gone).
    std::shared_ptr<QtWebViewHost> host() const { return host_.lock(); }

  private:
    QPointer<QObject> view_;
    std::weak_ptr<QtWebViewHost> host_;
};

}  // namespace rivlo
