#include "platform/quick/webengine/QtQuickWebEngineItems.h"

#include "foundation/Log.h"
#include "platform/quick/webengine/QtQuickWebCallback.h"

#include <QJSEngine>
#include <QJSValue>
#include <QMetaMethod>
#include <QPointer>
#include <QWebEngineScript>

#include <memory>

namespace rivlo {

namespace {

QObject* viewOf(QObject* object) {
    return QtWebEngine::isWebView(object, QtWebEngine::Kind::Quick) ? object : nullptr;
}

// Connects the view's signal (by its signature) to `callback`; false when it has no such
// signal.
bool connectSignal(QObject* view, const char* signature, QtQuickWebCallback* callback) {
    const QMetaObject* meta = view->metaObject();
    const int index = meta->indexOfSignal(signature);
    if (index < 0) return false;
    const QMetaMethod slot =
        callback->metaObject()->method(callback->metaObject()->indexOfSlot("call()"));
    return static_cast<bool>(QObject::connect(view, meta->method(index), callback, slot));
}

}  // namespace

QtWebEngine* QtQuickWebEngineItems::create() {
    return new QtQuickWebEngineItems;
}

QObject* QtQuickWebEngineItems::page(QObject* view) const {
    return viewOf(view);
}

QUrl QtQuickWebEngineItems::url(QObject* view) const {
    return viewOf(view) ? view->property("url").toUrl() : QUrl();
}

QSizeF QtQuickWebEngineItems::contentsSize(QObject* view) const {
    return viewOf(view) ? view->property("contentsSize").toSizeF() : QSizeF();
}

QPointF QtQuickWebEngineItems::scrollPosition(QObject* view) const {
    return viewOf(view) ? view->property("scrollPosition").toPointF() : QPointF();
}

void QtQuickWebEngineItems::onPageChanges(QObject* view, QObject* context,
                                          std::function<void()> changed, bool loads) {
    if (!viewOf(view) || !context) return;
    // Lives as long as the context (and goes with the view, whose signals it follows).
    auto* callback = new QtQuickWebCallback([changed](const QVariant&) { changed(); }, context);
    QObject::connect(view, &QObject::destroyed, callback, &QObject::deleteLater);
    bool ok = connectSignal(view, "scrollPositionChanged(QPointF)", callback);
    ok = connectSignal(view, "contentsSizeChanged(QSizeF)", callback) && ok;
    ok = connectSignal(view, "urlChanged()", callback) && ok;
    if (loads) ok = connectSignal(view, "loadingChanged(QWebEngineLoadingInfo)", callback) && ok;
    if (!ok) {
        RVLog(
            "Rivlo: QtQuickPlatform: a WebEngineView lacks a signal the bridge follows; its "
            "page may be followed late");
    }
}

void QtQuickWebEngineItems::addScript(QObject* view, const QString& name, const QString& source,
                                      unsigned world) {
    if (!viewOf(view)) return;
    auto* scripts = view->property("userScripts").value<QObject*>();
    QWebEngineScript script;
    script.setName(name);
    script.setSourceCode(source);
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setWorldId(world);
    script.setRunsOnSubFrames(false);
    if (!scripts ||
        !QMetaObject::invokeMethod(scripts, "insert", Q_ARG(QWebEngineScript, script))) {
        RVLog(
            "Rivlo: QtQuickPlatform: a script could not be added to a WebEngineView's pages; "
            "they are painted over whole after they change");
    }
    // The document there now was created before the script was known.
    runJavaScript(view, source, world, nullptr);
}

void QtQuickWebEngineItems::runJavaScript(QObject* view, const QString& source, unsigned world,
                                          std::function<void(const QVariant&)> result) {
    QJSEngine* engine = viewOf(view) ? qjsEngine(view) : nullptr;
    if (!engine) {
        if (result) result(QVariant());
        return;
    }
    // The view calls a JavaScript function with the result: one that hands it here, then goes.
    auto self = std::make_shared<QPointer<QtQuickWebCallback>>();
    auto* callback = new QtQuickWebCallback(
        [result, self](const QVariant& value) {
            if (*self) (*self)->deleteLater();
            if (result) result(value);
        },
        view);
    *self = callback;
    QJSEngine::setObjectOwnership(callback, QJSEngine::CppOwnership);
    const QJSValue function = engine->newQObject(callback).property(QStringLiteral("deliver"));
    if (!QMetaObject::invokeMethod(view, "runJavaScript", Q_ARG(QString, source),
                                   Q_ARG(uint, world), Q_ARG(QJSValue, function))) {
        delete callback;
        if (result) result(QVariant());
    }
}

}  // namespace rivlo

// The module's entry point (rivlo-quick-webengine.so exports it and nothing else).
extern "C" rivlo::QtWebEngine* rivlo_quick_webengine_module() {
    return rivlo::QtQuickWebEngineItems::create();
}
