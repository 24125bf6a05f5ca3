#pragma once

#include <QRectF>
#include <QTransform>

class QWidget;

namespace rivlo {

class QtFrameMasks;

// What the widget bridge asks about the items inside a QQuickWidget: the Qt Quick bridge answers
// when it is installed (QtQuickPlatform::install), so that this library needs no Qt Quick of its
// own; without it a QQuickWidget is content the bridge cannot look into, painted over whole.
// Main (GUI) thread only.
class QtQuickWidgetItems {
  public:
    virtual ~QtQuickWidgetItems() = default;

    // Adds the masks of the items the QQuickWidget `widget` shows in the pixels its window holds
    // now (the picture it last painted); `widgetToFrame` maps the widget's points to frame
    // pixels, and nothing is painted outside `frameClip`. When those items are not known (not
    // rendered yet, a renderer that cannot be followed) the whole widget is painted over.
    virtual void collect(QWidget* widget, const QTransform& widgetToFrame, const QRectF& frameClip,
                         QtFrameMasks& masks) = 0;
};

}  // namespace rivlo
