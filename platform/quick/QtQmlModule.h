#pragma once

#include "platform/quick/QtQmlAttached.h"

#include <QObject>
#include <QtQml/qqml.h>

namespace rivlo {

// The QML module `Rivlo` 1.0: a type of that name that cannot be created, only used for its
// attached properties (QtQmlAttached: `Rivlo.occluded`). Registered in the process by the Qt
// Quick bridge's install; registration is process-wide, so every QML engine compiles documents
// importing it from then on, engines made before the install too (a document that imported it
// before the install failed to load then). Main (GUI) thread only.
class QtQmlModule : public QObject {
    Q_OBJECT
    QML_ATTACHED(rivlo::QtQmlAttached)

  public:
    static QtQmlAttached* qmlAttachedProperties(QObject* object);

    // Registers the module (once per process; later calls change nothing).
    static void registerTypes();
    // Whether QML says `object` (an item or a window) is occluded: it has the attached object
    // and its value is true.
    static bool occludedInQml(const QObject* object);
};

}  // namespace rivlo
