#pragma once

#include "platform/qt/QtWebViewHost.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QRectF>
#include <QSet>
#include <QTransform>
#include <QWidget>

#include <string>
#include <vector>

class QGraphicsScene;
class QGraphicsView;

namespace rivlo {

class QtFrameMasks;
class QtQuickWidgetItems;

// Which widgets are painted over, decided from the live widgets each time a frame's or a
// tile's pixels are taken, never from events seen before:
//  - every widget the host registered, wherever it is now: a child, a window of its own, inside
//    a QGraphicsProxyWidget, a child of a web view; with everything drawn inside it;
//  - every widget whose input-method hints say hidden or sensitive text
//    (inputMethodQuery(Qt::ImHints) with Qt::ImhHiddenText or Qt::ImhSensitiveData: a QLineEdit
//    in Password, NoEcho or PasswordEchoOnEdit mode, a third-party editor that sets them);
//  - with maskAllTextInputs, every text editor (QLineEdit, QTextEdit, QPlainTextEdit, spin
//    boxes, any widget taking text input);
//  - content the library cannot look into (QOpenGLWidget, window containers, native child
//    windows) unless the host declared that widget safe;
//  - in a QQuickWidget, its items by the Qt Quick bridge's rules (QtQuickWidgetItems) when that
//    bridge is installed, else the whole widget (with all text inputs masked, the whole widget
//    while it takes text input).
// Each area is the widget's rectangle cut to what its parents let show (a scroll area's
// viewport, a graphics view's viewport). A registered widget that is a window, or holds the
// window being recorded, paints over the whole frame while it shows.
// Main thread only.
class QtWidgetMasks : public QObject {
  public:
    QtWidgetMasks();

    // The widget is painted over while it lives; forgotten when destroyed.
    void registerWidget(QWidget* widget);
    // The host says the widget's content is safe to record although the library cannot look
    // into it (a QOpenGLWidget, a QQuickWidget, a native child window).
    void allowUnmasked(QWidget* widget);
    void setMaskAllTextInputs(bool mask) { maskAllTextInputs_ = mask; }
    // Who looks into QQuickWidgets (the Qt Quick bridge), or null.
    void setQuickWidgetItems(QtQuickWidgetItems* items) { quickItems_ = items; }
    QtQuickWidgetItems* quickWidgetItems() const { return quickItems_; }
    bool maskAllTextInputs() const { return maskAllTextInputs_; }

    bool isRegistered(const QWidget* widget) const { return registered_.contains(widget); }
    // Whether the widget or anything holding it (parents, the windows they are in, the graphics
    // views showing the scene it is embedded in) is registered.
    bool isWithinRegistered(const QWidget* widget) const;
    // Why the whole frame is painted over while `main` is recorded: a registered widget shows as
    // a window of its own, or is `main` or holds it. Empty when not.
    std::string wholeFrameReason(const QWidget* main) const;

    // Adds the masks of `root` and of everything drawn inside it; `rootToFrame` maps the root's
    // coordinates (points) to frame pixels, and nothing is painted outside `frameClip`. Web
    // views met are added to `webViews` (their pages' masks are asked for separately).
    void collect(QWidget* root, const QTransform& rootToFrame, const QRectF& frameClip,
                 QtFrameMasks& masks, std::vector<QtWebArea>* webViews) const;

    // A widget reparented out of a graphics scene keeps its proxy, and Qt then sends its
    // repaints (and its children's) to that proxy instead of its window's backing store, which
    // keeps pictures of it where it used to be. Its window is painted afresh for its frames
    // from then on, never copied. Seen when the widget changes parent (noteParentChange) and by
    // every walk; a walk that meets one in a window not yet painted afresh drops that frame.
    void noteParentChange(QWidget* widget);
    bool paintsAfresh(const QWidget* window) const;

    // Graphics scenes the walks met inside widgets embedded in other scenes (a frame brings
    // their views up to date before its pixels are taken).
    const std::vector<QPointer<QGraphicsScene>>& nestedScenes() const { return nestedScenes_; }

  private:
    enum Kind : unsigned {
        TextInput = 1,
        Opaque = 2,
        Web = 4,
        Graphics = 8,
        Quick = 16,
    };
    struct Walk;
    unsigned kindOf(const QWidget* widget) const;
    bool covers(const QWidget* widget, unsigned kind, unsigned parentKind) const;
    void paintAfresh(const QWidget* window) const;
    void visit(Walk& walk, QWidget* widget, QPoint at, const QRect& shown, unsigned parentKind,
               int depth) const;
    void children(Walk& walk, QWidget* parent, QPoint at, const QRect& shown, unsigned kind,
                  int depth) const;
    void graphicsView(Walk& walk, QGraphicsView* view, QPoint at, const QRect& shown,
                      int depth) const;
    // `area`: what of the root is drawn, in its points.
    void walkRoot(Walk& walk, QWidget* root, const QTransform& rootToFrame, const QRectF& frameClip,
                  const QRect& area, int depth) const;

    QSet<const QObject*> registered_;
    QSet<const QObject*> allowed_;
    bool maskAllTextInputs_ = false;
    QtQuickWidgetItems* quickItems_ = nullptr;
    mutable QHash<const QMetaObject*, unsigned> kinds_;
    mutable const QMetaObject* lastMeta_ = nullptr;
    mutable unsigned lastKind_ = 0;
    mutable std::vector<QPointer<QGraphicsScene>> nestedScenes_;
    mutable std::vector<QPointer<const QWidget>> paintedAfresh_;
};

}  // namespace rivlo
