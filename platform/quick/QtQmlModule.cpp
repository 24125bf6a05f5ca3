#include "platform/quick/QtQmlModule.h"

namespace rivlo {

namespace {
// The key the QML engine files our attached objects under (set once the module is registered).
QQmlAttachedPropertiesFunc gAttached = nullptr;
}  // namespace

QtQmlAttached* QtQmlModule::qmlAttachedProperties(QObject* object) {
    return new QtQmlAttached(object);
}

void QtQmlModule::registerTypes() {
    if (gAttached) return;
    qmlRegisterUncreatableType<QtQmlModule>(
        "Rivlo", 1, 0, "Rivlo",
        QStringLiteral("Rivlo cannot be created; it holds attached properties (Rivlo.occluded)"));
    gAttached = qmlAttachedPropertiesFunction(nullptr, &QtQmlModule::staticMetaObject);
}

bool QtQmlModule::occludedInQml(const QObject* object) {
    if (!gAttached || QtQmlAttached::occludedCount() == 0) return false;
    // Looked up, never made: an object without the attached object has none afterwards either.
    const auto* attached = static_cast<const QtQmlAttached*>(
        qmlAttachedPropertiesObject(const_cast<QObject*>(object), gAttached, false));
    return attached && attached->occluded();
}

}  // namespace rivlo
