#pragma once

#include <QHash>
#include <QObject>
#include <QRectF>
#include <QSet>
#include <QTransform>

#include <memory>
#include <unordered_map>
#include <vector>

class QQuickItem;
class QQuickWindow;

namespace rivlo {

class QtFrameMasks;
class QtSceneItems;
struct QtWebArea;

// Which Qt Quick items are painted over, decided from the live items each time a frame's pixels
// are taken, never from events seen before:
//  - every item the host registered, or that QML says is occluded (Rivlo.occluded), wherever it
//    is now, with everything drawn inside it (its children too, where they reach outside it);
//    a window QML says is occluded is painted over whole;
//  - every item whose input-method hints say hidden or sensitive text
//    (inputMethodQuery(Qt::ImHints) with Qt::ImhHiddenText or Qt::ImhSensitiveData: a TextInput
//    or TextField in Password, NoEcho or PasswordEchoOnEdit mode, a third-party item that sets
//    them), asked of every item whose class answers those queries itself (an item that only
//    passes them on, with Keys.forwardTo, draws nothing of the text: the item it passes them
//    to is painted over);
//  - when the host asks for all text inputs to be masked (setMaskAllTextInputs, one setting
//    for widgets and items), every TextInput and TextEdit (TextField, TextArea) and every item
//    that takes input-method text;
//  - content the library cannot look into (ShaderEffect, ShaderEffectSource, framebuffer
//    objects, video, web views) unless the host declared that item safe; a WebEngineView is
//    left to its page's masks when the walk is asked for its web views. A ShaderEffect with a
//    vertex shader of its own may draw anywhere: the whole frame is painted over while it shows.
// Each area is the item's rectangle (and what it draws beyond it) mapped into the window with
// every transform on the way (mapRectToScene: position, scale, rotation, transforms; rotated
// areas give their bounding rectangle), cut to what its clipping parents let show. Items that
// are not visible or wholly transparent draw nothing and are skipped with their children.
// A frame looks at the few items that may need painting over, not at every item of its scene:
// each window's items are followed as the scene changes (QtSceneItems), the class of each
// new one told once, and the kept ones placed from their parents at the frame. Where that
// cannot give the same masks, every item is walked: all text inputs masked (any item may take
// input-method text at any time), several web views (their pages are drawn in the order the
// walk meets them).
// Main thread only (collect() also on a scene graph's render thread while it synchronises the
// items, the main thread waiting).
class QtItemMasks : public QObject {
  public:
    QtItemMasks();
    ~QtItemMasks() override;

    // The item is painted over while it lives; forgotten when destroyed.
    void registerItem(QQuickItem* item);
    // The host says the item's content is safe to record although the library cannot look
    // into it.
    void allowUnmasked(QQuickItem* item);
    bool isRegistered(const QQuickItem* item) const;

    // Adds the masks of every item of `window`; `sceneToFrame` maps the window's coordinates
    // (points) to frame pixels, and nothing is painted outside `frameClip`. A window without a
    // content item, or a tree deeper than can be followed, drops the frame. WebEngineViews met
    // are added to `webViews` when given (their pages' masks are asked for separately), else
    // painted over whole.
    void collect(QQuickWindow* window, const QTransform& sceneToFrame, const QRectF& frameClip,
                 QtFrameMasks& masks, std::vector<QtWebArea>* webViews = nullptr) const;
    // The same masks from a walk over every item of the window's scene.
    void collectWalkingAll(QQuickWindow* window, const QTransform& sceneToFrame,
                           const QRectF& frameClip, QtFrameMasks& masks,
                           std::vector<QtWebArea>* webViews = nullptr) const;

  private:
    enum Kind : unsigned {
        Opaque = 1,     // drawn by something the library cannot look into
        Shader = 2,     // a ShaderEffect: its vertex shader may draw outside it
        TextInput = 4,  // a TextInput or TextEdit (TextField, TextArea)
        Web = 8,        // a WebEngineView: its page says what to paint over
        Hints = 16,     // its class answers input-method queries itself
    };
    struct Walk;
    struct Place;
    unsigned kindOf(const QQuickItem* item) const;
    bool answersInputMethod(const QQuickItem* item) const;
    bool maskedHere(const QQuickItem* item) const;
    // The followed items looked at (`followed`), or every item walked.
    void collectMasks(QQuickWindow* window, const QTransform& sceneToFrame, const QRectF& frameClip,
                      QtFrameMasks& masks, std::vector<QtWebArea>* webViews, bool followed) const;
    bool begin(QQuickWindow* window, Walk& walk, QQuickItem*& root, QRectF& everything) const;
    Place place(const QQuickItem* item, const QQuickItem* root, const QRectF& everything) const;
    void visit(Walk& walk, QQuickItem* item, const QRectF& clip, bool masked, int depth) const;
    // What the item itself adds; false when nothing inside it needs looking at (the whole
    // frame is painted over).
    bool maskItem(Walk& walk, QQuickItem* item, const QRectF& clip, bool masked,
                  unsigned kind) const;
    QtSceneItems& sceneOf(QQuickWindow* window, QQuickItem* root) const;

    QSet<const QObject*> registered_;
    QSet<const QObject*> allowed_;
    // By the item's C++ class, told by its virtual table: the same for every item of a class
    // for the life of the process (a QML type's meta-object is let go with its engine's
    // types, and another type's may be made at its address).
    mutable QHash<const void*, unsigned> kinds_;
    const void* baseQuery_ = nullptr;  // QQuickItem::inputMethodQuery, as a table holds it
    mutable std::unordered_map<const QQuickWindow*, std::unique_ptr<QtSceneItems>> scenes_;
};

}  // namespace rivlo
