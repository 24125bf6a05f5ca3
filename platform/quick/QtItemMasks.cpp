#include "platform/quick/QtItemMasks.h"

#include "platform/qt/QtBridge.h"
#include "platform/qt/QtFrameMasks.h"
#include "platform/qt/QtWidgetMasks.h"
#include "platform/qt/QtWebViewHost.h"
#include "platform/quick/QtQmlModule.h"

#include <QQuickItem>
#include <QQuickWindow>
#include <QSGOpacityNode>
#include <QSGTransformNode>
#include <QUrl>
#include <QVariant>
#include <private/qquickitem_p.h>

#include <cstring>

namespace rivlo {

namespace {
// Deeper than any scene a person works in; a deeper one is not followed and its frame dropped.
constexpr int kMaxDepth = 512;

bool named(const char* name, std::initializer_list<const char*> names) {
    for (const char* n : names) {
        if (std::strcmp(name, n) == 0) return true;
    }
    return false;
}

// What the item draws, in its own coordinates: its rectangle, and its bounding rectangle where
// that reaches further (text wider than the field, a cursor).
QRectF drawnArea(const QQuickItem* item) {
    const QRectF own(0, 0, std::max(0.0, item->width()), std::max(0.0, item->height()));
    const QRectF bounds = item->boundingRect().normalized();
    return bounds.isEmpty() ? own : own | bounds;
}

// Where the scene graph draws `area` of the item: through the transforms its nodes hold, which
// Animators (XAnimator and the like: a StackView's page transitions) change while the items'
// properties keep their values until the animation ends. Null when the item has no node yet.
QRectF drawnInScene(const QQuickItem* item, const QRectF& area) {
    QTransform toScene;
    for (const QQuickItem* i = item; i; i = i->parentItem()) {
        const QSGTransformNode* node = QQuickItemPrivate::get(i)->itemNodeInstance;
        if (!node) return {};
        toScene = toScene * node->matrix().toTransform();
    }
    return toScene.mapRect(area);
}

// An item at opacity 0 an OpacityAnimator is fading in is drawn through its opacity node.
bool drawnTransparent(const QQuickItem* item) {
    if (item->opacity() > 0) return false;
    const QSGOpacityNode* node = QQuickItemPrivate::get(item)->opacityNode();
    return !node || node->opacity() <= 0;
}
}  // namespace

struct QtItemMasks::Walk {
    QtFrameMasks& masks;
    QTransform toFrame;
    QRectF frameClip;
    bool allTextInputs = false;                  // every item taking text is painted over
    std::vector<QtWebArea>* webViews = nullptr;  // WebEngineViews met, when asked for
};

QtItemMasks::QtItemMasks() = default;

void QtItemMasks::registerItem(QQuickItem* item) {
    if (registered_.contains(item)) return;
    registered_.insert(item);
    QObject::connect(item, &QObject::destroyed, this,
                     [this](QObject* object) { registered_.remove(object); });
}

void QtItemMasks::allowUnmasked(QQuickItem* item) {
    if (allowed_.contains(item)) return;
    allowed_.insert(item);
    QObject::connect(item, &QObject::destroyed, this,
                     [this](QObject* object) { allowed_.remove(object); });
}

bool QtItemMasks::isRegistered(const QQuickItem* item) const {
    return registered_.contains(item);
}

unsigned QtItemMasks::kindOf(const QQuickItem* item) const {
    const QMetaObject* meta = item->metaObject();
    auto it = kinds_.constFind(meta);
    if (it != kinds_.constEnd()) return it.value();
    unsigned kind = 0;
    // By name: the bridge needs none of these modules to know their items.
    for (const QMetaObject* m = meta; m; m = m->superClass()) {
        const char* name = m->className();
        if (named(name, {"QQuickShaderEffectSource", "QQuickFramebufferObject", "QQuickVideoOutput",
                         "QQuickRhiItem", "QQuickWebEngineView", "QQuickWebView"}))
            kind |= Opaque;
        if (named(name, {"QQuickShaderEffect"})) kind |= Opaque | Shader;
        if (named(name, {"QQuickTextInput", "QQuickTextEdit"})) kind |= TextInput;
        if (named(name, {"QQuickWebEngineView"})) kind |= Web;
    }
    kinds_.insert(meta, kind);
    return kind;
}

void QtItemMasks::collect(QQuickWindow* window, const QTransform& sceneToFrame,
                          const QRectF& frameClip, QtFrameMasks& masks,
                          std::vector<QtWebArea>* webViews) const {
    QQuickItem* root = window ? window->contentItem() : nullptr;
    if (!root) {
        masks.drop("the window has no items to look into");
        return;
    }
    // From the top of the scene: what is laid beside the content item is drawn too.
    while (root->parentItem())
        root = root->parentItem();
    // The host's setting for all text inputs, one for widgets and items.
    QtBridge* bridge = QtBridge::current();
    Walk walk{masks, sceneToFrame, frameClip, bridge && bridge->widgetMasks().maskAllTextInputs(),
              webViews};
    const QRectF everything = sceneToFrame.inverted().mapRect(frameClip);
    if (QtQmlModule::occludedInQml(window)) {
        masks.add(everything, sceneToFrame, frameClip);
        return;
    }
    visit(walk, root, everything, false, 0);
}

void QtItemMasks::visit(Walk& walk, QQuickItem* item, const QRectF& clip, bool masked,
                        int depth) const {
    if (walk.masks.dropped()) return;
    if (!item->isVisible() || drawnTransparent(item)) return;  // nothing of it or inside it drawn
    if (depth > kMaxDepth) {
        walk.masks.drop("the items are nested too deep to be followed");
        return;
    }
    const unsigned kind = kindOf(item);
    if (!masked && !registered_.isEmpty() && registered_.contains(item)) masked = true;
    // A popup's item belongs to the Popup object QML says is occluded.
    if (!masked &&
        (QtQmlModule::occludedInQml(item) ||
         (item->parent() != item->parentItem() && QtQmlModule::occludedInQml(item->parent()))))
        masked = true;
    bool covered = masked;
    if (!covered && (kind & Web) && walk.webViews && !allowed_.contains(item)) {
        // Its page's masks are asked for; until they answer, all of it is painted over.
        // One moved by an Animator is drawn elsewhere than its page's masks would land: all of
        // it is painted over, there and where its properties say.
        bool mapped = false;
        const QTransform toScene = item->itemTransform(nullptr, &mapped);
        const QRectF own = drawnArea(item);
        const QRectF drawn = drawnInScene(item, own);
        if (mapped && (drawn.isNull() || drawn == item->mapRectToScene(own))) {
            walk.webViews->push_back(
                QtWebArea{item, toScene * walk.toFrame, walk.toFrame.mapRect(clip) & walk.frameClip,
                          (item->mapRectFromScene(clip) & own).toAlignedRect()});
        } else {
            covered = true;
        }
    } else if (!covered && (kind & Opaque) && !allowed_.contains(item)) {
        if ((kind & Shader) && !item->property("vertexShader").toUrl().isEmpty()) {
            walk.masks.coverAll("a ShaderEffect with a vertex shader of its own is showing");
            return;
        }
        covered = true;
    }
    if (!covered) {
        const int hints = item->inputMethodQuery(Qt::ImHints).toInt();
        covered = (hints & (Qt::ImhHiddenText | Qt::ImhSensitiveData)) != 0;
    }
    if (!covered && walk.allTextInputs)
        covered = (kind & TextInput) || (item->flags() & QQuickItem::ItemAcceptsInputMethod);
    if (covered) {
        const QRectF own = drawnArea(item);
        const QRectF scene = item->mapRectToScene(own);
        walk.masks.add(scene & clip, walk.toFrame, walk.frameClip);
        // Drawn elsewhere than its properties say (moved by an Animator): painted over there
        // too, not cut by its clipping parents (they may be moved as well).
        const QRectF drawn = drawnInScene(item, own);
        if (!drawn.isNull() && drawn != scene) walk.masks.add(drawn, walk.toFrame, walk.frameClip);
    }
    const QList<QQuickItem*> children = item->childItems();
    if (children.isEmpty()) return;
    // A clipping item cuts what its children draw to its clip rectangle (mapped: a rotated one
    // gives its bounding rectangle, which cuts less, never more).
    const QRectF inner = item->clip() ? clip & item->mapRectToScene(item->clipRect()) : clip;
    if (inner.isEmpty()) return;
    for (QQuickItem* child : children)
        visit(walk, child, inner, masked, depth + 1);
}

}  // namespace rivlo
