#pragma once

#include "platform/qt/QtWebViewHost.h"

namespace rivlo {

class QtWidgetMasks;

// The web views of widget windows (QWebEngineView): their pictures are the view's own pixels
// with the masks of the widgets inside it (QtWidgetMasks) and of its page. Main thread only.
class QtWidgetWebViews final : public QtWebViewHost {
  public:
    explicit QtWidgetWebViews(const QtWidgetMasks& widgets) : widgets_(widgets) {}

    QtWebEngine::Kind kind() const override { return QtWebEngine::Kind::Widget; }
    QSize size(const QObject* view) const override;
    bool isShown(const QObject* view) const override;
    bool isWithinRegistered(const QObject* view) const override;
    std::shared_ptr<QtFrame> picture(QObject* view, QtWebMasks& pages, QRect& area) override;

  private:
    const QtWidgetMasks& widgets_;
};

}  // namespace rivlo
