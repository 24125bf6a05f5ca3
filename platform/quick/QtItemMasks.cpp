#include "platform/quick/QtItemMasks.h"

#include "platform/qt/QtBridge.h"
#include "platform/qt/QtFrameMasks.h"
#include "platform/qt/QtWidgetMasks.h"
#include "platform/qt/QtWebViewHost.h"
#include "platform/quick/QtQmlAttached.h"
#include "platform/quick/QtQmlModule.h"
#include "platform/quick/QtSceneItems.h"

#include <QQuickItem>
#include <QQuickWindow>
#include <QSGOpacityNode>
#include <QSGTransformNode>
#include <QUrl>
#include <QVariant>
#include <private/qquickitem_p.h>

#include <algorithm>
#include <cstdint>
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

// The entry of the item's virtual table for QQuickItem::inputMethodQuery (null where that cannot
// be read). Under the Itanium C++ ABI, which GCC and Clang follow on Linux, a pointer to a
// virtual member function holds 1 plus the entry's offset in the table.
const void* queryEntry(const QQuickItem* item) {
#if defined(__GXX_ABI_VERSION)
    using Query = QVariant (QQuickItem::*)(Qt::InputMethodQuery) const;
    const Query query = &QQuickItem::inputMethodQuery;
    struct Pointer {
        std::uintptr_t function;
        std::ptrdiff_t adjust;
    };
    static_assert(sizeof(Query) == sizeof(Pointer));
    Pointer pointer;
    std::memcpy(&pointer, &query, sizeof pointer);
    if ((pointer.function & 1) == 0 || pointer.adjust != 0) return nullptr;
    const auto* table = *reinterpret_cast<const void* const* const*>(item);
    return table[(pointer.function - 1) / sizeof(void*)];
#else
    (void)item;
    return nullptr;
#endif
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

// Where a walk from the top of the scene would meet an item.
struct QtItemMasks::Place {
    bool drawn = false;        // it and every item above it shows, under the scene's top
    bool maskedAbove = false;  // an item above it is painted over with all inside it
    bool masked = false;       // it, or one above it
    QRectF clip;               // scene coordinates: what its clipping parents let show
    int depth = 0;             // items above it
};

QtItemMasks::QtItemMasks() {
    // What an item's table holds for QQuickItem::inputMethodQuery when its class leaves it be.
    const QQuickItem plain;
    baseQuery_ = queryEntry(&plain);
}

QtItemMasks::~QtItemMasks() = default;

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

bool QtItemMasks::answersInputMethod(const QQuickItem* item) const {
    const void* entry = queryEntry(item);
    return !entry || !baseQuery_ || entry != baseQuery_;
}

unsigned QtItemMasks::kindOf(const QQuickItem* item) const {
    const void* table = *reinterpret_cast<const void* const*>(item);
    auto it = kinds_.constFind(table);
    if (it != kinds_.constEnd()) return it.value();
    unsigned kind = 0;
    // By name: the bridge needs none of these modules to know their items.
    for (const QMetaObject* m = item->metaObject(); m; m = m->superClass()) {
        const char* name = m->className();
        if (named(name, {"QQuickShaderEffectSource", "QQuickFramebufferObject", "QQuickVideoOutput",
                         "QQuickRhiItem", "QQuickWebEngineView", "QQuickWebView"}))
            kind |= Opaque;
        if (named(name, {"QQuickShaderEffect"})) kind |= Opaque | Shader;
        if (named(name, {"QQuickTextInput", "QQuickTextEdit"})) kind |= TextInput;
        if (named(name, {"QQuickWebEngineView"})) kind |= Web;
    }
    if (answersInputMethod(item)) kind |= Hints;
    kinds_.insert(table, kind);
    return kind;
}

bool QtItemMasks::maskedHere(const QQuickItem* item) const {
    if (!registered_.isEmpty() && registered_.contains(item)) return true;
    // A popup's item belongs to the Popup object QML says is occluded.
    return QtQmlModule::occludedInQml(item) ||
           (item->parent() != item->parentItem() && QtQmlModule::occludedInQml(item->parent()));
}

bool QtItemMasks::begin(QQuickWindow* window, Walk& walk, QQuickItem*& root,
                        QRectF& everything) const {
    root = window ? window->contentItem() : nullptr;
    if (!root) {
        walk.masks.drop("the window has no items to look into");
        return false;
    }
    // From the top of the scene: what is laid beside the content item is drawn too.
    while (root->parentItem())
        root = root->parentItem();
    everything = walk.toFrame.inverted().mapRect(walk.frameClip);
    if (QtQmlModule::occludedInQml(window)) {
        walk.masks.add(everything, walk.toFrame, walk.frameClip);
        return false;
    }
    return true;
}

void QtItemMasks::collectWalkingAll(QQuickWindow* window, const QTransform& sceneToFrame,
                                    const QRectF& frameClip, QtFrameMasks& masks,
                                    std::vector<QtWebArea>* webViews) const {
    collectMasks(window, sceneToFrame, frameClip, masks, webViews, false);
}

void QtItemMasks::collect(QQuickWindow* window, const QTransform& sceneToFrame,
                          const QRectF& frameClip, QtFrameMasks& masks,
                          std::vector<QtWebArea>* webViews) const {
    collectMasks(window, sceneToFrame, frameClip, masks, webViews, true);
}

void QtItemMasks::collectMasks(QQuickWindow* window, const QTransform& sceneToFrame,
                               const QRectF& frameClip, QtFrameMasks& masks,
                               std::vector<QtWebArea>* webViews, bool followed) const {
    // The host's setting for all text inputs, one for widgets and items.
    QtBridge* bridge = QtBridge::current();
    Walk walk{masks, sceneToFrame, frameClip, bridge && bridge->widgetMasks().maskAllTextInputs(),
              webViews};
    QQuickItem* root = nullptr;
    QRectF everything;
    if (!begin(window, walk, root, everything)) return;
    // Any item may take input-method text at any time: all of them are looked at then.
    if (!followed || walk.allTextInputs) {
        visit(walk, root, everything, false, 0);
        return;
    }
    QtSceneItems& scene = sceneOf(window, root);
    for (QQuickItem* item : scene.fresh()) {
        if (kindOf(item) & (Opaque | Hints)) scene.keep(item);
    }
    const QSet<QQuickItem*>& kept = scene.kept();
    if (webViews) {
        int views = 0;
        for (const QQuickItem* item : kept)
            views += (kindOf(item) & Web) && item->window() == window;
        if (views > 1) {
            visit(walk, root, everything, false, 0);
            return;
        }
    }
    // The items painted over with all inside them: registered, or occluded in QML, and the
    // items an occluded object owns that are laid elsewhere (a popup's).
    std::vector<QQuickItem*> whole;
    for (const QObject* object : registered_) {
        auto* item = static_cast<QQuickItem*>(const_cast<QObject*>(object));
        if (item->window() == window) whole.push_back(item);
    }
    for (QObject* object : QtQmlAttached::occludedObjects()) {
        auto* occluded = qobject_cast<QQuickItem*>(object);
        if (occluded && occluded->window() == window) whole.push_back(occluded);
        if (object->isWindowType()) continue;
        for (QObject* child : object->children()) {
            auto* item = qobject_cast<QQuickItem*>(child);
            if (item && item->parentItem() != object && item->window() == window)
                whole.push_back(item);
        }
    }
    std::sort(whole.begin(), whole.end());
    whole.erase(std::unique(whole.begin(), whole.end()), whole.end());
    const auto placed = [&](const Place& at) {
        if (at.depth > kMaxDepth) walk.masks.drop("the items are nested too deep to be followed");
        return at.drawn && !walk.masks.dropped();
    };
    for (QQuickItem* item : whole) {
        const Place at = place(item, root, everything);
        // One inside another is painted over with that one.
        if (placed(at) && !at.maskedAbove) visit(walk, item, at.clip, true, at.depth);
    }
    for (QQuickItem* item : kept) {
        if (walk.masks.dropped() || walk.masks.coversAll()) return;
        if (item->window() != window) continue;
        const Place at = place(item, root, everything);
        // One inside an item painted over whole was painted over with it.
        if (placed(at) && !at.masked) maskItem(walk, item, at.clip, false, kindOf(item));
    }
}

QtItemMasks::Place QtItemMasks::place(const QQuickItem* item, const QQuickItem* root,
                                      const QRectF& everything) const {
    Place at;
    at.clip = everything;
    const QQuickItem* top = item;
    for (const QQuickItem* i = item; i; i = i->parentItem()) {
        if (!i->isVisible() || drawnTransparent(i)) return at;
        if (i != item) {
            if (i->clip()) at.clip &= i->mapRectToScene(i->clipRect());
            if (maskedHere(i)) at.maskedAbove = true;
            ++at.depth;
        }
        top = i;
    }
    if (top != root || at.clip.isEmpty()) return at;
    at.masked = at.maskedAbove || maskedHere(item);
    at.drawn = true;
    return at;
}

void QtItemMasks::visit(Walk& walk, QQuickItem* item, const QRectF& clip, bool masked,
                        int depth) const {
    if (walk.masks.dropped()) return;
    if (!item->isVisible() || drawnTransparent(item)) return;  // nothing of it or inside it drawn
    if (depth > kMaxDepth) {
        walk.masks.drop("the items are nested too deep to be followed");
        return;
    }
    if (!masked && maskedHere(item)) masked = true;
    if (!maskItem(walk, item, clip, masked, kindOf(item))) return;
    const QList<QQuickItem*> children = item->childItems();
    if (children.isEmpty()) return;
    // A clipping item cuts what its children draw to its clip rectangle (mapped: a rotated one
    // gives its bounding rectangle, which cuts less, never more).
    const QRectF inner = item->clip() ? clip & item->mapRectToScene(item->clipRect()) : clip;
    if (inner.isEmpty()) return;
    for (QQuickItem* child : children)
        visit(walk, child, inner, masked, depth + 1);
}

bool QtItemMasks::maskItem(Walk& walk, QQuickItem* item, const QRectF& clip, bool masked,
                           unsigned kind) const {
    bool covered = masked;
    const bool allowed = !allowed_.isEmpty() && allowed_.contains(item);
    if (!covered && (kind & Web) && walk.webViews && !allowed) {
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
    } else if (!covered && (kind & Opaque) && !allowed) {
        if ((kind & Shader) && !item->property("vertexShader").toUrl().isEmpty()) {
            walk.masks.coverAll("a ShaderEffect with a vertex shader of its own is showing");
            return false;
        }
        covered = true;
    }
    if (!covered && (kind & Hints)) {
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
    return true;
}

QtSceneItems& QtItemMasks::sceneOf(QQuickWindow* window, QQuickItem* root) const {
    auto it = scenes_.find(window);
    if (it == scenes_.end()) {
        // Let go with the window (its items are gone by then, or no longer under it).
        QObject::connect(window, &QObject::destroyed, this,
                         [this, window] { scenes_.erase(window); });
        it = scenes_.emplace(window, nullptr).first;
    }
    if (!it->second || it->second->root() != root)
        it->second = std::make_unique<QtSceneItems>(root);
    return *it->second;
}

}  // namespace rivlo
