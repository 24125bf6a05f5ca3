#pragma once

#include "platform/qt/QtWebViewHost.h"

namespace rivlo {

class QtShadowTree;
class QtWidgetMasks;

// The web views of widget windows (QWebEngineView): their proxies are the shadow tree's, their
// pictures the view's own pixels with the masks of the widgets inside it (QtWidgetMasks) and of
// its page. Main thread only.
class QtWidgetWebViews final : public QtWebViewHost {
  public:
    QtWidgetWebViews(const QtShadowTree& tree, const QtWidgetMasks& widgets)
        : tree_(tree), widgets_(widgets) {}

    QtWebEngine::Kind kind() const override { return QtWebEngine::Kind::Widget; }
    QSize size(const QObject* view) const override;
    bool isShown(const QObject* view) const override;
    QtWebViewProxy* proxyOf(const View& contentView) const override;
    bool isWithinRegistered(const QObject* view) const override;
    std::shared_ptr<QtFrame> picture(QObject* view, QtWebMasks& pages, QRect& area) override;

  private:
    const QtShadowTree& tree_;
    const QtWidgetMasks& widgets_;
};

}  // namespace rivlo
