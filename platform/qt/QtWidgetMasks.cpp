#include "platform/qt/QtWidgetMasks.h"

#include "platform/qt/QtFrameMasks.h"
#include "platform/qt/QtQuickWidgetItems.h"

#include <QGraphicsProxyWidget>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QWidget>

#include <algorithm>
#include <cstring>

namespace rivlo {

namespace {
// Graphics views shown inside graphics scenes shown inside graphics views...
constexpr int kMaxDepth = 8;

bool named(const char* name, std::initializer_list<const char*> names) {
    for (const char* n : names) {
        if (std::strcmp(name, n) == 0) return true;
    }
    return false;
}
}  // namespace

struct QtWidgetMasks::Walk {
    QtFrameMasks& masks;
    std::vector<QtWebArea>* webViews;
    QTransform toFrame;
    QRectF frameClip;
    const QWidget* window;  // whose pixels the masks are for
};

namespace {
// Reparented out of a graphics scene: its repaints go to its old proxy (see paintsAfresh).
bool repaintsThroughAProxy(const QWidget* widget) {
    return !widget->isWindow() && widget->graphicsProxyWidget();
}
}  // namespace

QtWidgetMasks::QtWidgetMasks() = default;

void QtWidgetMasks::registerWidget(QWidget* widget) {
    if (registered_.contains(widget)) return;
    registered_.insert(widget);
    QObject::connect(widget, &QObject::destroyed, this,
                     [this](QObject* object) { registered_.remove(object); });
}

void QtWidgetMasks::allowUnmasked(QWidget* widget) {
    if (allowed_.contains(widget)) return;
    allowed_.insert(widget);
    QObject::connect(widget, &QObject::destroyed, this,
                     [this](QObject* object) { allowed_.remove(object); });
}

unsigned QtWidgetMasks::kindOf(const QWidget* widget) const {
    const QMetaObject* meta = widget->metaObject();
    // A window is mostly widgets of a few classes, met one after the other.
    if (meta == lastMeta_) return lastKind_;
    auto it = kinds_.constFind(meta);
    if (it != kinds_.constEnd()) {
        lastMeta_ = meta;
        lastKind_ = it.value();
        return lastKind_;
    }
    unsigned kind = 0;
    // By name: the bridge needs none of these modules to know their widgets.
    for (const QMetaObject* m = meta; m; m = m->superClass()) {
        const char* name = m->className();
        if (named(name, {"QLineEdit", "QTextEdit", "QPlainTextEdit", "QAbstractSpinBox"}))
            kind |= TextInput;
        if (named(name, {"QOpenGLWidget", "QQuickWidget", "QWindowContainer"})) kind |= Opaque;
        if (named(name, {"QQuickWidget"})) kind |= Quick;
        if (named(name, {"QWebEngineView"})) kind |= Web;
        if (named(name, {"QGraphicsView"})) kind |= Graphics;
    }
    kinds_.insert(meta, kind);
    lastMeta_ = meta;
    lastKind_ = kind;
    return kind;
}

bool QtWidgetMasks::covers(const QWidget* widget, unsigned kind, unsigned parentKind) const {
    if (!registered_.isEmpty() && registered_.contains(widget)) return true;
    const int hints = widget->inputMethodQuery(Qt::ImHints).toInt();
    if (hints & (Qt::ImhHiddenText | Qt::ImhSensitiveData)) return true;
    if (maskAllTextInputs_ &&
        ((kind & TextInput) || widget->testAttribute(Qt::WA_InputMethodEnabled)))
        return true;
    // A web view draws its page with a widget of its own: the page's masks cover that.
    const bool page = (parentKind & Web) && (kind & Opaque);
    // A native child window may be drawn by something else than the widget (Qt makes its
    // siblings native too, unless the application says otherwise): not looked into. A window's
    // own native window is the one its pixels are taken from.
    const bool opaque =
        (kind & Opaque) || (!widget->isWindow() && widget->testAttribute(Qt::WA_NativeWindow));
    return opaque && !page && !allowed_.contains(widget);
}

void QtWidgetMasks::visit(Walk& walk, QWidget* widget, QPoint at, const QRect& shown,
                          unsigned parentKind, int depth) const {
    const unsigned kind = kindOf(widget);
    // A QQuickWidget's input-method hints are those of the item with focus in its scene: its
    // items are looked into instead (also when the host allowed it: the library can look into
    // it now), unless it is registered or all text inputs are masked.
    if ((kind & Quick) && quickItems_ && !maskAllTextInputs_ && !registered_.contains(widget)) {
        quickItems_->collect(widget, QTransform::fromTranslate(at.x(), at.y()) * walk.toFrame,
                             walk.toFrame.mapRect(QRectF(shown)) & walk.frameClip, walk.masks);
        children(walk, widget, at, shown, kind, depth);
        return;
    }
    if (covers(widget, kind, parentKind)) {
        // Everything drawn inside it is covered too.
        walk.masks.add(QRectF(shown), walk.toFrame, walk.frameClip);
        return;
    }
    if ((kind & Web) && walk.webViews) {
        walk.webViews->push_back(QtWebArea{widget,
                                           QTransform::fromTranslate(at.x(), at.y()) * walk.toFrame,
                                           walk.frameClip, shown.translated(-at)});
    }
    if (kind & Graphics) graphicsView(walk, static_cast<QGraphicsView*>(widget), at, shown, depth);
    children(walk, widget, at, shown, kind, depth);
}

void QtWidgetMasks::children(Walk& walk, QWidget* parent, QPoint at, const QRect& shown,
                             unsigned kind, int depth) const {
    for (QObject* object : parent->children()) {
        if (!object->isWidgetType()) continue;
        auto* child = static_cast<QWidget*>(object);
        // Hidden or not: where it showed before may still be in the window's pixels.
        if (repaintsThroughAProxy(child) && !paintsAfresh(walk.window)) {
            paintAfresh(walk.window);
            walk.masks.drop(
                "a widget taken out of a graphics scene repaints through its old proxy; its "
                "window is painted afresh from the next frame on");
        }
        // Windows (dialogs, popups) are drawn, and looked at, on their own.
        if (child->isWindow() || child->isHidden()) continue;
        const QPoint childAt = at + child->pos();
        // A widget draws only inside its parent: what its parents cut off does not show.
        const QRect childShown = QRect(childAt, child->size()) & shown;
        if (childShown.isEmpty()) continue;
        visit(walk, child, childAt, childShown, kind, depth);
    }
}

void QtWidgetMasks::graphicsView(Walk& walk, QGraphicsView* view, QPoint at, const QRect& shown,
                                 int depth) const {
    QGraphicsScene* scene = view->scene();
    QWidget* viewport = view->viewport();
    if (!scene || !viewport || viewport->isHidden()) return;
    if (depth >= kMaxDepth) {
        walk.masks.drop("graphics views are nested too deep to follow");
        return;
    }
    if (depth > 0 &&
        std::find(nestedScenes_.begin(), nestedScenes_.end(), scene) == nestedScenes_.end()) {
        nestedScenes_.erase(std::remove(nestedScenes_.begin(), nestedScenes_.end(), nullptr),
                            nestedScenes_.end());
        nestedScenes_.emplace_back(scene);
    }
    const QPoint viewportAt = at + viewport->pos();
    const QRect viewportShown = QRect(viewportAt, viewport->size()) & shown;
    if (viewportShown.isEmpty()) return;
    const QTransform sceneToFrame = view->viewportTransform() *
                                    QTransform::fromTranslate(viewportAt.x(), viewportAt.y()) *
                                    walk.toFrame;
    const QRectF clip = walk.toFrame.mapRect(QRectF(viewportShown)) & walk.frameClip;
    const QPolygonF inScene = view->mapToScene(viewportShown.translated(-viewportAt));
    for (QGraphicsItem* item : scene->items(inScene, Qt::IntersectsItemBoundingRect)) {
        if (!item->isWidget()) continue;
        auto* proxy = dynamic_cast<QGraphicsProxyWidget*>(item);
        if (!proxy || !proxy->widget() || !proxy->isVisible() || proxy->effectiveOpacity() <= 0)
            continue;
        // The embedded widget's points are the proxy's own; the proxy may draw beyond the
        // widget's size (it keeps to the widget's minimum size while the widget is resized).
        QWidget* embedded = proxy->widget();
        const QRect area =
            QRect(QPoint(0, 0), embedded->size()) | proxy->boundingRect().toAlignedRect();
        walkRoot(walk, embedded, proxy->sceneTransform() * sceneToFrame, clip, area, depth + 1);
    }
}

void QtWidgetMasks::walkRoot(Walk& outer, QWidget* root, const QTransform& rootToFrame,
                             const QRectF& frameClip, const QRect& area, int depth) const {
    Walk walk{outer.masks, outer.webViews, rootToFrame, frameClip, outer.window};
    visit(walk, root, QPoint(0, 0), area, 0, depth);
}

void QtWidgetMasks::collect(QWidget* root, const QTransform& rootToFrame, const QRectF& frameClip,
                            QtFrameMasks& masks, std::vector<QtWebArea>* webViews) const {
    if (!root) return;
    Walk walk{masks, webViews, rootToFrame, frameClip, root};
    walkRoot(walk, root, rootToFrame, frameClip, QRect(QPoint(0, 0), root->size()), 0);
}

void QtWidgetMasks::noteParentChange(QWidget* widget) {
    if (repaintsThroughAProxy(widget)) paintAfresh(widget->window());
}

bool QtWidgetMasks::paintsAfresh(const QWidget* window) const {
    return std::find(paintedAfresh_.begin(), paintedAfresh_.end(), window) != paintedAfresh_.end();
}

void QtWidgetMasks::paintAfresh(const QWidget* window) const {
    if (paintsAfresh(window)) return;
    paintedAfresh_.erase(std::remove(paintedAfresh_.begin(), paintedAfresh_.end(), nullptr),
                         paintedAfresh_.end());
    paintedAfresh_.emplace_back(window);
}

bool QtWidgetMasks::isWithinRegistered(const QWidget* widget) const {
    int steps = 0;
    for (const QWidget* w = widget; w; w = w->parentWidget()) {
        if (++steps > 1000) return true;  // a loop of parents cannot be followed: painted over
        if (registered_.contains(w)) return true;
        if (QGraphicsProxyWidget* proxy = w->graphicsProxyWidget()) {
            // Embedded in a scene: held by whatever holds a view showing it.
            if (QGraphicsScene* scene = proxy->scene()) {
                for (QGraphicsView* view : scene->views()) {
                    if (view != widget && isWithinRegistered(view)) return true;
                }
            }
            return false;
        }
    }
    return false;
}

std::string QtWidgetMasks::wholeFrameReason(const QWidget* main) const {
    for (const QObject* object : registered_) {
        const auto* widget = static_cast<const QWidget*>(object);
        if (!widget->isVisible()) continue;
        if (widget->isWindow() && !widget->graphicsProxyWidget() &&
            !widget->testAttribute(Qt::WA_DontShowOnScreen)) {
            return std::string("a registered widget (") + widget->metaObject()->className() +
                   ") shows as a window of its own";
        }
        for (const QWidget* p = main; p; p = p->parentWidget()) {
            if (p == widget) {
                return std::string("the window recorded is a registered widget (") +
                       widget->metaObject()->className() + ") or inside one";
            }
        }
    }
    return {};
}

}  // namespace rivlo
