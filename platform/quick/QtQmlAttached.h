#pragma once

#include <QObject>
#include <QPointer>
#include <QSet>

#include <vector>

namespace rivlo {

// What `Rivlo.occluded` is attached to in QML (import Rivlo 1.0):
//
//   Rectangle { id: card; Rivlo.occluded: true }
//
// The item, with everything drawn inside it, is painted over in every frame while the property
// is true, as if QtQuickPlatform::occludeSensitiveItem had been called; false shows it again.
// Set on a Window, the whole window is painted over; on a Popup (Dialog, Drawer, Menu), the
// whole popup. The property is true from the moment the
// attached object exists (QML makes it when an item names Rivlo.occluded), so an item that
// names it is masked from its first frame unless its value says false, also when the
// expression cannot be evaluated. Nothing is kept outside the attached object: the frames ask
// it when they are taken, so an item destroyed while occluded leaves nothing behind, and the
// library's close and a later install do not lose what QML said. Main (GUI) thread only.
class QtQmlAttached : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool occluded READ occluded WRITE setOccluded NOTIFY occludedChanged)

  public:
    explicit QtQmlAttached(QObject* attachee);
    ~QtQmlAttached() override;

    bool occluded() const { return occluded_; }
    void setOccluded(bool occluded);

    // How many attached objects in the process say occluded (none: the frames need not ask).
    static int occludedCount() { return occludedCount_; }
    // What the attached objects that say occluded are attached to (items, windows, popups).
    static std::vector<QObject*> occludedObjects();

  Q_SIGNALS:
    void occludedChanged();

  private:
    bool occluded_ = true;
    static int occludedCount_;
    static QSet<QtQmlAttached*> all_;  // alive
};

}  // namespace rivlo
