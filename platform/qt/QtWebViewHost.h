#pragma once

#include "platform/qt/QtWebEngine.h"

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QRectF>
#include <QSize>
#include <QTransform>

#include <memory>

namespace rivlo {

class QtFrame;
class QtWebMasks;
class QtWebViewProxy;
class View;

// A web page drawn in a frame (or a tile): the web view, where its points land in the frame,
// the part of the frame it may show in, and the part of the view that is not cut off by what
// holds it (view coordinates). Its page's own masks are asked for separately (QtWebMasks).
struct QtWebArea {
    QPointer<QObject> view;
    QTransform viewToFrame;
    QRectF frameClip;
    QRect visible;
};

// What shows web views of one kind: QWebEngineView widgets in widget windows (the Qt bridge),
// WebEngineView items in Qt Quick windows (the Qt Quick bridge). The pages' masks (QtWebMasks),
// the web view proxies and the tiles reach the views through it, whatever their kind.
// Main thread only.
class QtWebViewHost {
  public:
    virtual ~QtWebViewHost() = default;

    virtual QtWebEngine::Kind kind() const = 0;
    // Its kind's module, or null when it cannot be had.
    QtWebEngine* engine() const { return QtWebEngine::module(kind()); }
    bool hosts(const QObject* view) const { return QtWebEngine::isWebView(view, kind()); }

    // The view's size in points, and whether it shows now.
    virtual QSize size(const QObject* view) const = 0;
    virtual bool isShown(const QObject* view) const = 0;
    // The proxy of one of its views whose content view this is, or null.
    virtual QtWebViewProxy* proxyOf(const View& contentView) const = 0;
    // Whether the view, or anything holding it, is registered: nothing of its page may leave.
    virtual bool isWithinRegistered(const QObject* view) const = 0;
    // A frame holding what the view shows now, taken as a frame of the recording is: its pixels
    // with the masks of what is drawn inside and over it, its page's answer (and those of pages
    // shown inside it) asked of `pages`; `area` is where the view is in it (frame pixels). Null
    // when none can be taken now.
    virtual std::shared_ptr<QtFrame> picture(QObject* view, QtWebMasks& pages, QRect& area) = 0;
};

}  // namespace rivlo
