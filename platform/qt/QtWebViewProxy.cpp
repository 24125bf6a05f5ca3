#include "platform/qt/QtWebViewProxy.h"

#include "platform/qt/QtWebViewHost.h"

#include <algorithm>

namespace rivlo {

QtWebViewProxy::QtWebViewProxy(ObjClass* cls, QObject* view, std::weak_ptr<QtWebViewHost> host)
    : WebView(Rect(), cls), view_(view), host_(std::move(host)) {}

void QtWebViewProxy::follow() {
    QObject* view = webView();
    std::shared_ptr<QtWebViewHost> shows = host();
    QtWebEngine* engine = shows ? shows->engine() : nullptr;
    if (!view || !engine || !engine->page(view)) return;
    const std::string address = engine->url(view).toString().toStdString();
    const QSizeF contents = engine->contentsSize(view);
    const QSize viewSize = shows->size(view);
    Size size{std::max<double>(contents.width(), viewSize.width()),
              std::max<double>(contents.height(), viewSize.height())};
    if (address != url()) {
        loadPage(address, size);
    } else if (!(contentView()->bounds().size == size)) {
        setContentSize(size);
    }
    const QPointF scroll = engine->scrollPosition(view);
    scrollView()->setContentOffset(Point{scroll.x(), scroll.y()});
}

}  // namespace rivlo
