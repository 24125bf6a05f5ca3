#pragma once

#include <QSet>

#include <private/qquickitemchangelistener_p.h>

#include <vector>

class QQuickItem;

namespace rivlo {

// Every item of one window's scene, followed as the scene changes, so that a frame need not
// walk all of them to find the few that may need painting over: it listens to each item for
// children added and for its end. The items met since the frame before are handed out once
// (fresh()), whole, for the frame to tell which may need painting over; those it keeps
// (keep()) are handed back each frame until they end. An item laid under a followed item is
// followed with everything under it, whenever and however it was made; an item taken out of
// the scene stays followed (the frame checks where each item is). Qt Quick's item change
// listeners (private API, hence Qt6::QuickPrivate). The thread of the items (the main thread),
// or the thread that renders while that one waits.
class QtSceneItems : public QQuickItemChangeListener {
  public:
    // Follows `root` and every item under it.
    explicit QtSceneItems(QQuickItem* root);
    // Stops listening to the items still alive.
    ~QtSceneItems() override;
    QtSceneItems(const QtSceneItems&) = delete;
    QtSceneItems& operator=(const QtSceneItems&) = delete;

    QQuickItem* root() const { return root_; }
    // The items met since the last call (each made by then: their class is what it stays).
    std::vector<QQuickItem*> fresh();
    // Handed back by kept() until it ends.
    void keep(QQuickItem* item) { kept_.insert(item); }
    const QSet<QQuickItem*>& kept() const { return kept_; }

  private:
    void itemChildAdded(QQuickItem* parent, QQuickItem* child) override;
    void itemDestroyed(QQuickItem* item) override;
    void follow(QQuickItem* top);

    QQuickItem* root_;
    QSet<QQuickItem*> followed_;    // listened to, alive
    std::vector<QQuickItem*> new_;  // met since fresh(); may hold ended ones
    QSet<QQuickItem*> kept_;
};

}  // namespace rivlo
