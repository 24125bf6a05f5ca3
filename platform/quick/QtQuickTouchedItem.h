#pragma once

#include <QPointF>
#include <QPointer>
#include <QQuickItem>

#include <memory>
#include <unordered_map>

class QQuickWindow;

namespace rivlo {

class View;

// The item a touch lands on, and its stand-in in the recording's view tree. Qt Quick's
// childAt() looks at direct children only; the touched item is found by walking the whole
// item tree from the top of the scene: the deepest item that is visible, not transparent,
// enabled and holds the point (its own shape, QQuickItem::contains, through every transform),
// children painted later first, nothing outside a clipping parent's clip rectangle.
//
// For the touch's hit test, the item and the items it sits in are laid into the window's root
// view as a chain of proxy views (one per item, named "view:" and the item's QML type, at the
// item's place in the window), in front of everything else there, replacing the chain of the
// touch before: hit tests, recognisers and hooks then see the touched item as the hit view.
// Main thread only.
class QtQuickTouchedItem {
  public:
    // The touched item at `point` (the window's coordinates), or null.
    static QQuickItem* itemAt(QQuickWindow* window, QPointF point);

    // Lays the chain of `item`, touched at `point`, into `root` (the root view of the item's
    // window, in the window's coordinates); answers the item's proxy.
    std::shared_ptr<View> layIn(View& root, QQuickItem* item, QPointF point);
    // Takes the last chain out.
    void clear();
    // The item a proxy view stands for (null once it is gone, or for another view).
    QQuickItem* itemFor(const View* view) const;

  private:
    std::shared_ptr<View> chain_;  // the outermost proxy of the last chain laid in
    std::unordered_map<const View*, QPointer<QQuickItem>> items_;
};

}  // namespace rivlo
