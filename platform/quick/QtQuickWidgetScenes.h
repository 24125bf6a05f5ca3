#pragma once

#include "platform/qt/QtFrameMasks.h"
#include "platform/qt/QtQuickWidgetItems.h"

#include <QMetaObject>
#include <QObject>
#include <QPointer>

#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

class QQuickWindow;

namespace rivlo {

class QtItemMasks;

// The items of QQuickWidgets, for the widget bridge's frames. A QQuickWidget renders its scene
// into a picture of its own when its items change (not when a frame is taken) and paints that
// picture into its window when the window repaints; a frame copies the window's pixels. So the
// masks must be those of the picture the widget last painted:
//  - as each rendering begins (after the synchronisation, with Animators' nodes moved), its items
//    are walked (QtItemMasks, the Qt Quick windows' rules) as that rendering draws them, and the
//    rendering is made a repaint of the whole picture (a partial one could leave a masked item's
//    old pixels where it no longer is); a rendering that cannot be made whole, or not on the
//    software scene graph, makes the items unknown;
//  - when the widget paints, the last rendering's masks become those of its pixels.
// A widget is followed from the first frame that meets it; until a rendering of its own has
// been painted, and whenever its items are unknown, the whole widget is painted over. What the
// walk would paint over in a whole window (a ShaderEffect with a vertex shader of its own) or
// cannot follow paints over the whole widget, the picture's edges. Main (GUI) thread only.
class QtQuickWidgetScenes : public QObject, public QtQuickWidgetItems {
  public:
    explicit QtQuickWidgetScenes(QtItemMasks& masks) : masks_(masks) {}
    ~QtQuickWidgetScenes() override;

    void collect(QWidget* widget, const QTransform& widgetToFrame, const QRectF& frameClip,
                 QtFrameMasks& masks) override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // Masks in the scene's points (those of the widget); none while unknown.
    using Masks = std::optional<QtFrameMasks>;
    struct Scene {
        QPointer<QWidget> widget;
        QPointer<QQuickWindow> window;
        Masks rendered;  // those of the picture last rendered
        Masks painted;   // those of the picture last painted into the window
        std::vector<QMetaObject::Connection> connections;
    };
    Scene* follow(QWidget* widget);
    void forget(const QObject* widget);

    QtItemMasks& masks_;
    std::unordered_map<const QObject*, std::unique_ptr<Scene>> scenes_;
};

}  // namespace rivlo
